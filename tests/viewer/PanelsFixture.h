#pragma once

// Shared set-up of the panel widget tests: images held in memory or written as ICS files,
// a window that has loaded one, and mouse helpers for the picture boxes.

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QComboBox>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>
#include <libics.h>
#include <unistd.h>

#include "ImageReaderBase.h"
#include "PictureBox.h"
#include "formImageViewer.h"

namespace PanelsTest {

using Voxel = std::function<unsigned short(const std::vector<int>&)>;

// An image computed from its coordinates, with names and pixel sizes like a file reader.
class MemoryReader : public ImageReader::ImageReaderBase<unsigned short>
{
public:
    MemoryReader(std::vector<int> size, std::vector<std::string> names, std::vector<double> pixelsize, Voxel voxel)
        : m_size(std::move(size)), m_names(std::move(names)), m_pixelsize(std::move(pixelsize)), m_voxel(std::move(voxel))
    {
    }

    ImageReader::Vector GetSize() override
    {
        ImageReader::Vector v;
        for (int e : m_size)
            v.push_back(e);
        return v;
    }

    ImageReader::ImageSlice<unsigned short> GetSlice(const ImageReader::Vector& position) override
    {
        const int w = m_size[0], h = m_size[1];
        auto* data = static_cast<unsigned short*>(std::malloc(sizeof(unsigned short) * static_cast<size_t>(w * h)));
        std::vector<int> c(m_size.size(), 0);
        for (unsigned i = 0; i < position.size(); ++i)
            c[i + 2] = position[static_cast<int>(i)];
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                c[0] = x;
                c[1] = y;
                data[x + y * w] = m_voxel(c);
            }
        return ImageReader::ImageSlice<unsigned short>(ImageReader::Vector(w, h), data);
    }

    void Open(const std::filesystem::path&) override {}
    void Close() override {}
    std::string GetDimName(unsigned int dim) override { return dim < m_names.size() ? m_names[dim] : std::string(); }
    double GetDimPixelSize(unsigned int dim) override { return dim < m_pixelsize.size() ? m_pixelsize[dim] : 0.0; }

private:
    std::vector<int> m_size;
    std::vector<std::string> m_names;
    std::vector<double> m_pixelsize;
    Voxel m_voxel;
};

// Writes a 16-bit ICS image with the given names and pixel sizes in nm; true on success.
inline bool WriteIcs(const std::string& path, const std::vector<int>& size, const std::vector<std::string>& names,
                     const std::vector<double>& pixelsize, const Voxel& voxel)
{
    size_t count = 1;
    for (int e : size)
        count *= static_cast<size_t>(e);
    std::vector<unsigned short> data(count);
    std::vector<int> c(size.size(), 0);
    for (size_t i = 0; i < count; ++i) {
        size_t r = i;
        for (size_t k = 0; k < size.size(); ++k) {
            c[k] = static_cast<int>(r % static_cast<size_t>(size[k]));
            r /= static_cast<size_t>(size[k]);
        }
        data[i] = voxel(c);
    }
    // libics saves and restores the process locale by its name while it writes; a
    // composite name (as a Qt application can have) is freed before it is read back.
    const std::string locale = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
    struct Restore
    {
        const std::string& name;
        ~Restore() { std::setlocale(LC_ALL, name.c_str()); }
    } restore{locale};
    ICS* ics = nullptr;
    if (IcsOpen(&ics, path.c_str(), "w2") != IcsErr_Ok)
        return false;
    std::vector<size_t> dims(size.begin(), size.end());
    bool ok = IcsSetLayout(ics, Ics_uint16, static_cast<int>(dims.size()), dims.data()) == IcsErr_Ok &&
              IcsSetData(ics, data.data(), data.size() * sizeof(unsigned short)) == IcsErr_Ok;
    for (size_t k = 0; ok && k < size.size(); ++k) {
        ok = IcsSetOrder(ics, static_cast<int>(k), names[k].c_str(), names[k].c_str()) == IcsErr_Ok &&
             IcsSetPosition(ics, static_cast<int>(k), 0.0, pixelsize[k], "nm") == IcsErr_Ok;
    }
    return IcsClose(ics) == IcsErr_Ok && ok;
}

// A shown window of the standard size with an image loaded from memory.
inline std::unique_ptr<ImageViewer::formImageViewer> OpenWindow(std::vector<int> size, std::vector<std::string> names,
                                                                std::vector<double> pixelsize, Voxel voxel)
{
    auto window = std::make_unique<ImageViewer::formImageViewer>();
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->LoadReader(std::make_unique<MemoryReader>(std::move(size), std::move(names), std::move(pixelsize),
                                                      std::move(voxel)),
                       QStringLiteral("Lumora - memory"));
    return window;
}

// Sends a press, a move and a release through a picture box's handlers, as a drag would.
// (QTest takes the point (0, 0) for the widget's centre, so drags start elsewhere.)
inline void Drag(ImageViewer::PictureBox* box, QPoint from, QPoint to, Qt::MouseButton button,
                 Qt::KeyboardModifiers modifiers)
{
    QTest::mousePress(box, button, modifiers, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), box->mapToGlobal(QPointF(to)), Qt::NoButton, button, modifiers);
    QApplication::sendEvent(box, &move);
    QTest::mouseRelease(box, button, modifiers, to);
}

inline std::string TempPath(const std::string& name)
{
    return (std::filesystem::temp_directory_path() / ("lumora-panels-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

inline int RunAll(int argc, char** argv)
{
    if (qgetenv("QT_QPA_PLATFORM").isEmpty())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

} // namespace PanelsTest
