#pragma once

// Helpers of the window tests: an image computed from its coordinates, a shown window that
// has loaded one, and mouse and wheel input for the picture boxes.

#include <QApplication>
#include <QComboBox>
#include <QMouseEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Diagnostics.h"
#include "FormulaImage.h"
#include "ImageReaderBase.h"
#include "PictureBox.h"
#include "formImageViewer.h"

namespace ViewerTest {

using ImageViewer::formImageViewer;
using Voxel = FormulaImage::Formula;

const Voxel Zero = [](const std::vector<int>&) -> unsigned short { return 0; };

// A shown window of the design size with reader diagnostics going nowhere (no message box
// can be answered in a test). Images load at zoom 1 without pan unless `fit`, so that most
// tests can work in image pixels.
inline std::unique_ptr<formImageViewer> MakeWindow(bool fit = false)
{
    auto window = std::make_unique<formImageViewer>();
    ImageReader::SetDiagnosticHandler([](const std::string&) {});
    window->model->Diagnostics()->Set([](const std::string&) {});
    window->fitAtLoad = fit;
    window->resize(758, 549);
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    return window;
}

inline void Load(formImageViewer& window, std::vector<int> size, std::vector<std::string> names, Voxel voxel = Zero,
                 std::vector<double> pixelsize = {})
{
    window.LoadReader(
        std::make_unique<FormulaImage>(std::move(size), std::move(voxel), std::move(names), std::move(pixelsize)),
        QStringLiteral("Lumora - memory"));
}

inline std::unique_ptr<formImageViewer> Open(std::vector<int> size, std::vector<std::string> names,
                                             Voxel voxel = Zero, std::vector<double> pixelsize = {})
{
    auto window = MakeWindow();
    Load(*window, std::move(size), std::move(names), std::move(voxel), std::move(pixelsize));
    return window;
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

// A mouse move with `held` pressed.
inline void Move(QWidget* target, QPoint at, Qt::MouseButtons held = Qt::LeftButton,
                 Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    Mouse(target, QEvent::MouseMove, at, Qt::NoButton, held, mods);
}

inline void Release(QWidget* target, QPoint at, Qt::MouseButton button = Qt::LeftButton,
                    Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    Mouse(target, QEvent::MouseButtonRelease, at, button, Qt::NoButton, mods);
}

// Press, one move and release.
inline void Drag(QWidget* target, QPoint from, QPoint to, Qt::MouseButton button = Qt::LeftButton,
                 Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    Press(target, from, button, mods);
    Move(target, to, button, mods);
    Release(target, to, button, mods);
}

inline void Wheel(QWidget* target, QPoint at, int delta)
{
    QWheelEvent event(QPointF(at), target->mapToGlobal(QPointF(at)), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

// Views recomputed by `action`, as a view mask.
template <class Action>
int RecomputedBy(formImageViewer& window, Action&& action)
{
    const std::array<int, 3> before = window.recomputeCount;
    action();
    const std::array<int, 3>& after = window.recomputeCount;
    return (after[0] != before[0] ? 1 : 0) | (after[1] != before[1] ? 2 : 0) | (after[2] != before[2] ? 4 : 0);
}

} // namespace ViewerTest

// A main() with the QApplication the window needs. Settings (recent files, preferences) go
// to a temporary folder under a test organisation, never to the user's own.
#define LUMORA_VIEWER_TEST_MAIN()                                                                                      \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        qputenv("QT_QPA_PLATFORM", "offscreen");                                                                       \
        QApplication app(argc, argv);                                                                                  \
        QTemporaryDir settingsDir;                                                                                     \
        QCoreApplication::setOrganizationName(QStringLiteral("LumoraTest"));                                           \
        QCoreApplication::setApplicationName(QStringLiteral("LumoraTest"));                                           \
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());                        \
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());                           \
        ::testing::InitGoogleTest(&argc, argv);                                                                        \
        return RUN_ALL_TESTS();                                                                                        \
    }
