// The window's 3-D view: the View menu shows it, the mouse turns, zooms and pans it through
// the model's state, a double-click resets it, and it exports and saves like the others.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QTemporaryDir>

#include "ViewerTestUtil.h"
#include "VolumeViewState.h"

using namespace ViewerTest;
using ImageViewer::PictureBox;
using ImageViewer::Rotation;
using ImageViewer::VolumeMode;

namespace {

const Voxel Blob = [](const std::vector<int>& c) -> unsigned short {
    const int dx = c[0] - 12, dy = c[1] - 8, dz = c[2] - 3;
    return static_cast<unsigned short>(std::max(0, 4000 - 40 * (dx * dx + 4 * dy * dy + 9 * dz * dz)) + 10 * c[0]);
};

QAction* action(formImageViewer& w, const char* name)
{
    auto* a = w.findChild<QAction*>(QString::fromLatin1(name));
    EXPECT_NE(a, nullptr) << name;
    return a;
}

void doubleClick(QWidget* target, QPoint at)
{
    Mouse(target, QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
    Release(target, at);
}

} // namespace

TEST(WindowVolume, MenuAndStateFilesShowTheViewAndTheMouseDrivesTheModel)
{
    auto w = Open({24, 16, 6}, {"x", "y", "z"}, Blob);
    w->WaitForViews();
    auto* picture = w->findChild<PictureBox*>(QStringLiteral("picture3D"));
    ASSERT_NE(picture, nullptr);
    EXPECT_FALSE(picture->isVisible());

    action(*w, "view3DToolStripMenuItem")->trigger();
    w->WaitForViews();
    EXPECT_TRUE(w->model->State().volume.shown);
    ASSERT_TRUE(picture->isVisible());
    EXPECT_FALSE(w->pictureXY->isVisible()); // instead of the XY view by default
    const QImage aligned = w->ViewImage(false);
    ASSERT_FALSE(aligned.isNull());
    EXPECT_EQ(aligned.size(), picture->size());

    const QPoint centre = picture->rect().center();
    Drag(picture, centre, centre + QPoint(30, 10));
    w->WaitForViews();
    EXPECT_NE(w->model->State().volume.camera.rotation.m, Rotation().m);
    const QImage turned = w->ViewImage(false);
    EXPECT_EQ(turned.size(), picture->size()); // the full frame after release
    EXPECT_NE(turned, aligned);

    Wheel(picture, centre, 240);
    Drag(picture, centre, centre + QPoint(7, -5), Qt::MiddleButton);
    w->WaitForViews();
    EXPECT_GT(w->model->State().volume.camera.zoom, 1.0);
    EXPECT_NE(w->model->State().volume.camera.panX, 0.0);

    doubleClick(picture, centre);
    w->WaitForViews();
    const auto& camera = w->model->State().volume.camera;
    EXPECT_EQ(camera.rotation.m, Rotation().m);
    EXPECT_EQ(camera.zoom, 1.0);
    EXPECT_EQ(w->ViewImage(false), aligned);

    auto* mode = w->findChild<QComboBox*>(QStringLiteral("comboVolumeMode"));
    ASSERT_NE(mode, nullptr);
    mode->setCurrentIndex(1);
    w->WaitForViews();
    EXPECT_EQ(w->model->State().volume.mode, VolumeMode::Minimum);

    // Beside the XY view both are there; hidden again, the XY view is back in its place.
    action(*w, "layout3DBesideToolStripMenuItem")->trigger();
    EXPECT_TRUE(w->pictureXY->isVisible());
    EXPECT_TRUE(picture->isVisible());
    Drag(picture, QPoint(40, 40), QPoint(10, 70));
    w->WaitForViews();
    const ImageViewer::VolumeViewState saved = w->model->State().volume;
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("state.json"));
    ASSERT_EQ(w->SaveViewState(path), QString());
    action(*w, "reset3DToolStripMenuItem")->trigger();
    action(*w, "view3DToolStripMenuItem")->trigger();
    EXPECT_FALSE(w->model->State().volume.shown);
    EXPECT_FALSE(picture->isVisible());
    EXPECT_TRUE(w->pictureXY->isVisible());

    // A state file brings the turned view back and the menu and the picture follow (the
    // camera's round trip through the file is tested headless).
    ASSERT_EQ(w->OpenViewState(path), QString());
    w->WaitForViews();
    EXPECT_EQ(w->model->State().volume, saved);
    EXPECT_TRUE(action(*w, "view3DToolStripMenuItem")->isChecked());
    EXPECT_TRUE(picture->isVisible());
}

LUMORA_VIEWER_TEST_MAIN()
