// Regions drawn on the XY view (Shift-drag, the polygon tool), their list and measurement
// table following the cursor, copying the table, Delete, and ImageJ's region files.
#include <QAction>
#include <QClipboard>
#include <QDockWidget>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>

#include "RegionsPanel.h"
#include "TestData.h"
#include "ViewerTestUtil.h"

using namespace ViewerTest;

namespace {

// x, y, z, ch = 40 x 30 x 4 x 2: channel 0 is 10 + 2 x + 3 y + 5 z, channel 1 is 1000 - x - 7 z.
unsigned short Value(int x, int y, int z, int ch)
{
    return static_cast<unsigned short>(ch == 0 ? 10 + 2 * x + 3 * y + 5 * z : 1000 - x - 7 * z);
}
const Voxel cells = [](const std::vector<int>& c) { return Value(c[0], c[1], c[2], c[3]); };

// The mean over the pixel box [x0, x1) x [y0, y1) of plane z, channel ch.
double BoxMean(int x0, int y0, int x1, int y1, int z, int ch)
{
    double sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            sum += Value(x, y, z, ch);
    return sum / ((x1 - x0) * (y1 - y0));
}

int Column(const QTableWidget* t, const QString& name)
{
    for (int c = 0; c < t->columnCount(); ++c)
        if (t->horizontalHeaderItem(c) && t->horizontalHeaderItem(c)->text() == name)
            return c;
    return -1;
}

// The cell of column `name` in the row of region `label` and channel `ch` (1-based).
QString Cell(const QTableWidget* t, const QString& label, int ch, const QString& name)
{
    const int lc = Column(t, QStringLiteral("Label")), cc = Column(t, QStringLiteral("Ch")), col = Column(t, name);
    for (int r = 0; r < t->rowCount(); ++r)
        if (t->item(r, lc)->text() == label && (cc < 0 || t->item(r, cc)->text().toInt() == ch))
            return col >= 0 && t->item(r, col) ? t->item(r, col)->text() : QString();
    return QString();
}

void Click(QWidget* target, QPoint at)
{
    Press(target, at);
    Release(target, at);
}

} // namespace

TEST(Regions, DrawnRegionsAreListedAndMeasuredOnTheCursorsPlane)
{
    auto w = Open({40, 30, 4, 2}, {"x", "y", "z", "ch"}, cells);
    ImageViewer::RegionsPanel& panel = *w->regionsPanel;
    auto* list = w->findChild<QListWidget*>(QStringLiteral("listRegions"));
    auto* table = w->findChild<QTableWidget*>(QStringLiteral("tableMeasurements"));
    auto* tool = w->findChild<QComboBox*>(QStringLiteral("comboRegionTool"));
    ASSERT_TRUE(list && table && tool && w->findChild<QDockWidget*>(QStringLiteral("dockRegions")));
    const int z = w->curslice[2];
    const ImageReader::Vector cursor = w->curslice;

    // At zoom 1 without pan a screen pixel is an image pixel: the box [2, 6) x [3, 7).
    Drag(w->pictureXY, {2, 3}, {5, 6}, Qt::LeftButton, Qt::ShiftModifier);
    // The polygon tool: four clicks and a double click on the last corner, [12, 22) x [12, 20)
    // (away from the selected rectangle's handles, which a click would take).
    tool->setCurrentIndex(ImageViewer::RegionsPanel::Polygon);
    for (const QPoint p : {QPoint(12, 12), QPoint(22, 12), QPoint(22, 20), QPoint(12, 20)})
        Click(w->pictureXY, p);
    Mouse(w->pictureXY, QEvent::MouseButtonDblClick, {12, 20}, Qt::LeftButton, Qt::LeftButton);
    Release(w->pictureXY, {12, 20});
    w->WaitForViews();
    EXPECT_EQ(w->curslice, cursor); // drawing leaves the cursor

    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), "rectangle 1");
    EXPECT_EQ(list->item(1)->text(), "polygon 1");
    ASSERT_EQ(table->rowCount(), 4);
    const auto mean = [&](const QString& label, int ch) { return Cell(table, label, ch, "Mean").toDouble(); };
    EXPECT_DOUBLE_EQ(mean("rectangle 1", 1), BoxMean(2, 3, 6, 7, z, 0));
    EXPECT_DOUBLE_EQ(mean("rectangle 1", 2), BoxMean(2, 3, 6, 7, z, 1));
    EXPECT_DOUBLE_EQ(mean("polygon 1", 1), BoxMean(12, 12, 22, 20, z, 0));
    EXPECT_EQ(Cell(table, "polygon 1", 1, "Area").toInt(), 80); // pixels: no pixel size
    EXPECT_EQ(Cell(table, "rectangle 1", 2, "Min"), QString::number(1000 - 5 - 7 * z));

    // Another plane: the table follows.
    w->trackDim[2]->setValue(z + 1);
    w->WaitForViews();
    EXPECT_DOUBLE_EQ(mean("rectangle 1", 1), BoxMean(2, 3, 6, 7, z + 1, 0));
    EXPECT_DOUBLE_EQ(mean("polygon 1", 2), BoxMean(12, 12, 22, 20, z + 1, 1));

    // Copy (the dock shown from the View menu): tab-separated with ImageJ's column names, a line per row.
    w->findChild<QAction*>(QStringLiteral("regionsToolStripMenuItem"))->trigger();
    QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("buttonCopyMeasurements")), Qt::LeftButton);
    const QStringList lines = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5);
    const QStringList header = lines[0].split('\t');
    for (const char* name : {"Label", "Ch", "Slice", "Area", "Mean", "StdDev", "Min", "Max", "X", "Y", "IntDen"})
        EXPECT_TRUE(header.contains(QString(name))) << name;
    EXPECT_EQ(lines[1].split('\t').value(header.indexOf("Label")), "rectangle 1");

    // Through z: a row per region, plane and channel.
    QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("buttonMeasureThrough")), Qt::LeftButton);
    w->WaitForViews();
    ASSERT_EQ(table->rowCount(), 2 * 4 * 2);
    const int slice = Column(table, QStringLiteral("Slice")), ch = Column(table, QStringLiteral("Ch"));
    for (int r = 0; r < table->rowCount(); ++r) {
        if (table->item(r, Column(table, "Label"))->text() != "rectangle 1")
            continue;
        EXPECT_DOUBLE_EQ(table->item(r, Column(table, "Mean"))->text().toDouble(),
                         BoxMean(2, 3, 6, 7, table->item(r, slice)->text().toInt() - 1,
                                 table->item(r, ch)->text().toInt() - 1));
    }

    // Rename through the list; Delete removes the selected region.
    list->item(1)->setText(QStringLiteral("nucleus"));
    EXPECT_EQ(panel.Regions().regions[1].name, "nucleus");
    // Hidden through its box: no outline over the view, still measured.
    const QImage shown = w->pictureXY->grab().toImage();
    list->item(1)->setCheckState(Qt::Unchecked);
    EXPECT_TRUE(panel.Regions().Hidden(1));
    EXPECT_NE(w->pictureXY->grab().toImage().pixel(17, 12), shown.pixel(17, 12)); // its top edge
    EXPECT_EQ(table->rowCount(), 4);
    list->setCurrentRow(0);
    w->pictureXY->setFocus();
    QTest::keyClick(w->pictureXY, Qt::Key_Delete);
    w->WaitForViews();
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "nucleus");
    EXPECT_EQ(table->rowCount(), 2);
}

TEST(Regions, HandlesMoveAndRegionsJumpAndSaveWithTheState)
{
    auto w = Open({40, 30, 4, 2}, {"x", "y", "z", "ch"}, cells);
    ImageViewer::RegionsPanel& panel = *w->regionsPanel;
    w->findChild<QComboBox*>(QStringLiteral("comboRegionTool"))->setCurrentIndex(ImageViewer::RegionsPanel::Rectangle);
    Drag(w->pictureXY, {4, 4}, {8, 10});
    ASSERT_EQ(panel.Regions().regions.size(), 1u);
    EXPECT_EQ(panel.Regions().regions[0].points[1], (Measure::PointF{8, 10}));
    // The selected region's corner handle, dragged.
    Drag(w->pictureXY, {8, 10}, {12, 14});
    EXPECT_EQ(panel.Regions().regions[0].points[1], (Measure::PointF{12, 14}));

    // Jump: the cursor goes to the region's centre and to the plane it is pinned to.
    ImageViewer::RegionList l = panel.Regions();
    l.regions[0].SetPosition(2, 3);
    panel.Adopt(l);
    panel.JumpTo(0);
    EXPECT_EQ(w->curslice[0], 8);
    EXPECT_EQ(w->curslice[1], 9);
    EXPECT_EQ(w->curslice[2], 3);

    QTemporaryDir dir;
    const QString file = dir.filePath("state.json");
    ASSERT_EQ(w->SaveViewState(file), "");
    panel.Adopt(ImageViewer::RegionList());
    ASSERT_TRUE(panel.Regions().regions.empty());
    ASSERT_EQ(w->OpenViewState(file), "");
    ASSERT_EQ(panel.Regions().regions.size(), 1u);
    EXPECT_EQ(panel.Regions().regions[0], l.regions[0]);
}

TEST(Regions, ImageJFilesImportWithImageJsMeasurements)
{
    // The image ImageJ measured its set on: x + 100 y, 64 x 48, pixels 0.2 x 0.5 µm.
    auto w = Open({64, 48}, {"x", "y"}, [](const std::vector<int>& c) { return c[0] + 100 * c[1]; }, {200, 500});
    ImageViewer::RegionsPanel& panel = *w->regionsPanel;
    auto* list = w->findChild<QListWidget*>(QStringLiteral("listRegions"));
    auto* table = w->findChild<QTableWidget*>(QStringLiteral("tableMeasurements"));
    ASSERT_EQ(panel.Import(QString::fromStdString(testdata::Path("roi/RoiSet.zip"))), "");
    w->WaitForViews();
    ASSERT_EQ(list->count(), 14);
    EXPECT_EQ(list->item(0)->text(), "rect");
    EXPECT_EQ(list->item(1)->text(), "rect-outside");
    ASSERT_EQ(table->rowCount(), 14);
    // ImageJ's own Results for these (RoiSet-results.csv).
    EXPECT_DOUBLE_EQ(Cell(table, "rect", 0, "Mean").toDouble(), 707.5);
    EXPECT_NEAR(Cell(table, "rect", 0, "Area").toDouble(), 7.0, 1e-9);
    EXPECT_DOUBLE_EQ(Cell(table, "oval", 0, "Mean").toDouble(), 808.0);

    ASSERT_EQ(panel.Import(QString::fromStdString(testdata::Path("roi/rect.roi"))), "");
    EXPECT_EQ(list->count(), 15);
    EXPECT_NE(panel.Import(QString::fromStdString(testdata::Path("roi/README.md"))), "");
    EXPECT_EQ(list->count(), 15);

    // Ours out and back in: the same regions.
    QTemporaryDir dir;
    const QString zip = dir.filePath("RoiSet.zip");
    ASSERT_EQ(panel.Export(zip), "");
    const ImageViewer::RegionList before = panel.Regions();
    panel.Adopt(ImageViewer::RegionList());
    ASSERT_EQ(panel.Import(zip), "");
    ASSERT_EQ(panel.Regions().regions.size(), before.regions.size());
    for (size_t k = 0; k < before.regions.size(); ++k)
        EXPECT_EQ(panel.Regions().regions[k].points, before.regions[k].points) << k;
}

LUMORA_VIEWER_TEST_MAIN()
