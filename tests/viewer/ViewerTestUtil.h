#pragma once

// Helpers of the window tests: an image source computed from its coordinates, a window
// that has loaded one, and mouse and wheel input for the picture boxes.

#include <QApplication>
#include <QComboBox>
#include <QMouseEvent>
#include <QTest>
#include <QWheelEvent>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Diagnostics.h"
#include "ImageReaderBase.h"
#include "PictureBox.h"
#include "formImageViewer.h"

namespace ViewerTest {

using Voxel = std::function<unsigned short(const std::vector<int>&)>;

class MemoryImage : public ImageReader::ImageReaderBase<unsigned short>
{
public:
    MemoryImage(std::vector<int> size, std::vector<std::string> names, Voxel voxel,
                std::vector<double> pixelsize = {})
        : m_size(std::move(size)), m_names(std::move(names)), m_voxel(std::move(voxel)),
          m_pixelsize(std::move(pixelsize))
    {
        m_pixelsize.resize(m_size.size(), 0.0);
    }

    ImageReader::Vector GetSize() override
    {
        ImageReader::Vector v;
        for (int s : m_size)
            v.push_back(s);
        return v;
    }

    ImageReader::ImageSlice<unsigned short> GetSlice(const ImageReader::Vector& position) override
    {
        ++reads;
        const int w = m_size.size() > 0 ? m_size[0] : 1;
        const int h = m_size.size() > 1 ? m_size[1] : 1;
        auto* data = static_cast<unsigned short*>(std::malloc(sizeof(unsigned short) * w * h));
        std::vector<int> at(m_size.size(), 0);
        for (size_t k = 2; k < m_size.size(); ++k)
            at[k] = position[static_cast<int>(k - 2)];
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                if (!at.empty())
                    at[0] = x;
                if (at.size() > 1)
                    at[1] = y;
                data[y * w + x] = m_voxel(at);
            }
        return ImageReader::ImageSlice<unsigned short>(ImageReader::Vector(w, h), data);
    }

    void Open(const std::filesystem::path&) override {}
    void Close() override {}
    std::string GetDimName(unsigned int dim) override { return dim < m_names.size() ? m_names[dim] : std::string(); }
    double GetDimPixelSize(unsigned int dim) override { return dim < m_pixelsize.size() ? m_pixelsize[dim] : 0.0; }

    int reads = 0;

private:
    std::vector<int> m_size;
    std::vector<std::string> m_names;
    Voxel m_voxel;
    std::vector<double> m_pixelsize;
};

inline unsigned short Zero(const std::vector<int>&)
{
    return 0;
}

// A shown window of the design size with reader diagnostics going nowhere (no message box
// can be answered in a test).
inline std::unique_ptr<ImageViewer::formImageViewer> MakeWindow()
{
    auto window = std::make_unique<ImageViewer::formImageViewer>();
    ImageReader::SetDiagnosticHandler([](const std::string&) {});
    window->resize(758, 549);
    window->show();
    QApplication::processEvents();
    return window;
}

inline void Load(ImageViewer::formImageViewer& window, std::vector<int> size, std::vector<std::string> names,
                 Voxel voxel = Zero, std::vector<double> pixelsize = {})
{
    window.LoadReader(std::make_unique<MemoryImage>(std::move(size), std::move(names), std::move(voxel),
                                                    std::move(pixelsize)),
                      QStringLiteral("Lumora - memory"));
}

inline void Mouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons,
                  Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), button, buttons, mods);
    QApplication::sendEvent(target, &event);
}

inline void Press(QWidget* target, QPoint at, Qt::MouseButton button = Qt::LeftButton,
                  Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    Mouse(target, QEvent::MouseButtonPress, at, button, button, mods);
}

inline void Drag(QWidget* target, QPoint at, Qt::MouseButton held = Qt::LeftButton,
                 Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    Mouse(target, QEvent::MouseMove, at, Qt::NoButton, held, mods);
}

inline void Release(QWidget* target, QPoint at, Qt::MouseButton button = Qt::LeftButton)
{
    Mouse(target, QEvent::MouseButtonRelease, at, button, Qt::NoButton);
}

inline void Wheel(QWidget* target, QPoint at, int delta)
{
    QWheelEvent event(QPointF(at), target->mapToGlobal(QPointF(at)), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

inline std::array<int, 3> Counts(const ImageViewer::formImageViewer& window)
{
    return window.recomputeCount;
}

// Views recomputed between two readings of the counters, as a view mask.
inline int RecomputedMask(const std::array<int, 3>& before, const std::array<int, 3>& after)
{
    return (after[0] != before[0] ? 1 : 0) | (after[1] != before[1] ? 2 : 0) | (after[2] != before[2] ? 4 : 0);
}

} // namespace ViewerTest

// A main() with the QApplication the window needs.
#define LUMORA_VIEWER_TEST_MAIN()                                                                                      \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        qputenv("QT_QPA_PLATFORM", "offscreen");                                                                       \
        QApplication app(argc, argv);                                                                                  \
        ::testing::InitGoogleTest(&argc, argv);                                                                        \
        return RUN_ALL_TESTS();                                                                                        \
    }
