// The window and its model: controls bound to the state both ways, and view state files
// that bring back the same pictures.
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QSlider>
#include <QTemporaryDir>

#include "ViewerTestUtil.h"

using namespace ViewerTest;
using namespace ImageViewer;

namespace {

const Voxel Cells = [](const std::vector<int>& c) -> unsigned short {
    return static_cast<unsigned short>(c[3] == 0 ? 40 * c[0] + 9 * c[2] : 1200 - 20 * c[1] + 3 * c[2]);
};

std::unique_ptr<formImageViewer> OpenCells()
{
    return Open({24, 20, 7, 2}, {"x", "y", "z", "ch"}, Cells, {100, 100, 300, 0});
}

} // namespace

TEST(WindowState, ControlsAndModelAgree)
{
    auto w = OpenCells();
    // Controls to state: what the lists and boxes show is the model's state.
    w->comboDimX->setCurrentIndex(2);
    w->trackDim[1]->setValue(5);
    w->comboProj->setCurrentIndex(1);
    w->checkDimProj[0]->setChecked(true);
    w->WaitForViews();
    const ViewState& s = w->model->State();
    EXPECT_EQ(s.axes.x, 2);
    EXPECT_EQ(s.cursor[1], 5);
    EXPECT_EQ(s.projection, ProjectionMode::Max);
    EXPECT_TRUE(s.IsProjected(0));
    EXPECT_EQ(s.channelDim, 3);

    // State to controls.
    ViewState next = w->ViewStateFromWindow();
    next.axes.x = 0;
    next.cursor[2] = 6;
    next.projection = ProjectionMode::None;
    DisplayState d = w->DisplayFromWindow();
    d.channels[1].enabled = false;
    w->ApplyViewState(next, d);
    w->WaitForViews();
    EXPECT_EQ(w->comboDimX->currentIndex(), 0);
    EXPECT_EQ(w->trackDim[2]->value(), 6);
    EXPECT_EQ(w->comboProj->currentIndex(), 0);
    EXPECT_EQ(w->listChannels->item(1)->checkState(), Qt::Unchecked);
    EXPECT_EQ(w->model->State().cursor[2], 6);
}

TEST(WindowState, ASavedStateReopensTheSamePictures)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("view.json"));
    QImage xy, xz, yz;
    {
        auto w = OpenCells();
        w->comboDimXZ->setCurrentIndex(0);
        w->trackDim[2]->setValue(1);
        w->comboProj->setCurrentIndex(1);
        w->checkDimProj[1]->setChecked(true);
        w->WaitForViews();
        ASSERT_EQ(w->SaveViewState(file), QString());
        xy = w->GDIImageXY.copy();
        xz = w->GDIImageXZ.copy();
        yz = w->GDIImageYZ.copy();
    }
    auto w = OpenCells();
    ASSERT_EQ(w->OpenViewState(file), QString());
    w->WaitForViews();
    EXPECT_EQ(w->comboDimXZ->currentIndex(), 0);
    EXPECT_EQ(w->GDIImageXY, xy);
    EXPECT_EQ(w->GDIImageXZ, xz);
    EXPECT_EQ(w->GDIImageYZ, yz);
    // A state for another image is refused with a reason, and nothing changes.
    auto other = Open({8, 8}, {"x", "y"});
    EXPECT_NE(other->OpenViewState(file), QString());
    EXPECT_EQ(other->comboDimX->currentIndex(), 0);
}

LUMORA_VIEWER_TEST_MAIN()
