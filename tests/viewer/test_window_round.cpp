// The window's second round: the file's own channels in the panels, the range boxes and
// lookup tables, overlays on the picture, the layout of a deep stack, the title after an
// open that failed, and the keyboard table.
#include <QAction>
#include <QDir>
#include <QGroupBox>
#include <QTabWidget>
#include <QFile>
#include <QLineEdit>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QSplitter>
#include <QTextBrowser>
#include <cstdlib>

#include "AnchorPanel.h"
#include "KeyboardTable.h"
#include "TablePanel.h"
#include "TestData.h"
#include "ViewerTestUtil.h"
#include "WindowTools.h"

using namespace ViewerTest;
using ImageViewer::ChannelPtr;
using ImageViewer::LookupTable;

namespace {

std::array<int, 3> colourOf(const ImageViewer::ImageChannel& c)
{
    return {c.m_r, c.m_g, c.m_b};
}

std::array<int, 3> rgb(QRgb p)
{
    return {qRed(p), qGreen(p), qBlue(p)};
}

// Types `text` into a box and finishes the edit as Enter does.
void Type(QLineEdit* box, const QString& text)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Return);
}

void ChooseLut(formImageViewer& w, LookupTable lut)
{
    w.tools->comboLut->setCurrentIndex(static_cast<int>(lut));
    emit w.tools->comboLut->activated(static_cast<int>(lut));
    w.WaitForViews();
}

// A spectral stack whose file gives a wavelength per index.
class Lambda : public FormulaImage
{
public:
    using FormulaImage::FormulaImage;
    std::vector<double> GetIndexWavelengths(unsigned int dim) override
    {
        std::vector<double> nm;
        if (dim == 2)
            for (int i = 0; i < 20; ++i)
                nm.push_back(500 + 10 * i);
        return nm;
    }
};

// A deep stack that costs nothing to read.
class DeepStack : public FormulaImage
{
public:
    DeepStack() : FormulaImage({1024, 1024, 2000}, Zero, {"x", "y", "z"}, {162.5, 162.5, 500}) {}
    // Planes that never come: the layout follows the sizes alone, and nothing is read.
    ImageReader::ImageSlice<unsigned short> GetSlice(const ImageReader::Vector&) override { return {}; }
};

// The pixels the scale and colour bars change in the XY view all lie inside `area`; returns
// how many there are.
int OverlayPixels(formImageViewer& w, const QRect& area)
{
    const auto grab = [&](bool marks) {
        w.scaleBarToolStripMenuItem->setChecked(marks);
        w.tools->colourBarToolStripMenuItem->setChecked(marks);
        return w.pictureXY->grab().toImage();
    };
    const QImage off = grab(false);
    const QImage on = grab(true);
    const double ratio = on.devicePixelRatio();
    int changed = 0;
    for (int y = 0; y < on.height(); ++y)
        for (int x = 0; x < on.width(); ++x) {
            if (on.pixel(x, y) == off.pixel(x, y))
                continue;
            const QPoint at(static_cast<int>(x / ratio), static_cast<int>(y / ratio));
            if (!area.contains(at)) {
                ADD_FAILURE() << at.x() << "," << at.y() << " outside " << area.x() << "," << area.y() << " "
                              << area.width() << "x" << area.height();
                return changed;
            }
            ++changed;
        }
    return changed;
}

// Where a view draws its white pixels, in widget coordinates.
QRect BrightArea(QWidget* view)
{
    const QImage shot = view->grab().toImage();
    const double ratio = shot.devicePixelRatio();
    QRect drawn;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (qRed(shot.pixel(x, y)) > 200 && qGreen(shot.pixel(x, y)) > 200)
                drawn |= QRect(static_cast<int>(x / ratio), static_cast<int>(y / ratio), 1, 1);
    return drawn;
}

} // namespace

// The file's own channels reach the panels: the range boxes show the selected channel's
// range, the table box its own table.
TEST(WindowRound, FileChannelsShowInTheRangeAndTableBoxes)
{
    auto w = MakeWindow();
    w->LoadImageW(QString::fromStdString(testdata::Path("imagej/hyperstack-luts.tif")));
    ASSERT_TRUE(w->image);
    w->listChannels->setCurrentRow(1);
    EXPECT_EQ(w->tools->textRangeMin->text(), "2000");
    EXPECT_EQ(w->tools->textRangeMax->text(), "2300");

    w->LoadImageW(QString::fromStdString(testdata::Path("tiff-other/imagej-luts.tif")));
    ASSERT_TRUE(w->image);
    w->listChannels->setCurrentRow(0);
    EXPECT_EQ(w->tools->comboLut->currentText(), "File's table");
    w->listChannels->setCurrentRow(1);
    EXPECT_EQ(w->tools->comboLut->currentText(), "Colour");

    // A folder holding the file opens as it.
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::copy(QString::fromStdString(testdata::Path("imagej/hyperstack-luts.tif")),
                            dir.filePath(QStringLiteral("stack.tif"))));
    w->LoadImageW(dir.path());
    ASSERT_TRUE(w->image);
    EXPECT_EQ(w->image->GetSize(), V({6, 4, 3, 2}));
    EXPECT_EQ(colourOf(*(*w->channels)[0]), (std::array<int, 3>{0, 0, 255}));
}

// The boxes follow the markers and take typed values; the table box sets the channel's table.
TEST(WindowRound, RangeBoxesAndLookupTables)
{
    // Values 0, 100, ..., 1500 across.
    auto w = Open({16, 2}, {"x", "y"}, [](const std::vector<int>& c) { return static_cast<unsigned short>(100 * c[0]); });
    w->WaitForViews();
    const ChannelPtr channel = w->globalchannel;
    EXPECT_EQ(w->tools->textRangeMin->text(), "0");
    EXPECT_EQ(w->tools->textRangeMax->text(), "1500");

    Type(w->tools->textRangeMin, "300");
    Type(w->tools->textRangeMax, "1100");
    w->WaitForViews();
    EXPECT_EQ(channel->m_min, 300);
    EXPECT_EQ(channel->m_max, 1100);
    EXPECT_FALSE(channel->m_autoscaling);
    // Text that is no number leaves the range and shows it again.
    Type(w->tools->textRangeMax, "lots");
    EXPECT_EQ(channel->m_max, 1100);
    EXPECT_EQ(w->tools->textRangeMax->text(), "1100");
    // A marker moved elsewhere shows in the box.
    channel->m_max = 1200;
    w->RefreshPictures(ImageViewer::ViewAll);
    w->WaitForViews();
    EXPECT_EQ(w->tools->textRangeMax->text(), "1200");

    // The table chosen reaches the picture (its colours are the model's, tested headless).
    ChooseLut(*w, LookupTable::HiLo);
    EXPECT_EQ(channel->m_lut, LookupTable::HiLo);
    EXPECT_EQ(rgb(w->GDIImageXY.pixel(2, 0)), (std::array<int, 3>{0, 0, 255})); // below the minimum
    ChooseLut(*w, LookupTable::Inverted);
    EXPECT_EQ(rgb(w->GDIImageXY.pixel(1, 0)), (std::array<int, 3>{255, 255, 255}));

    // The choice is part of the display state.
    EXPECT_EQ(w->DisplayFromWindow().global.lut, "Inverted");
}

// After a failed open the title says so once; the next open starts from the image's title.
TEST(WindowRound, TitleForgetsAnOldFailure)
{
    auto w = Open({8, 8}, {"x", "y"});
    const QString title = w->windowTitle();
    w->LoadImageW(QStringLiteral("/no/such/file.tif"));
    EXPECT_TRUE(w->windowTitle().startsWith(title + QStringLiteral(" - cannot open"))) << w->windowTitle().toStdString();
    w->LoadImageW(QStringLiteral("/no/such/other.tif"));
    EXPECT_EQ(w->windowTitle().count(QStringLiteral("cannot open")), 1) << w->windowTitle().toStdString();
    w->LoadImageW(QString::fromStdString(testdata::Path("imagej/hyperstack-luts.tif")));
    EXPECT_FALSE(w->windowTitle().contains(QStringLiteral("cannot open"))) << w->windowTitle().toStdString();
}

// The scale and colour bars stay on the picture, whatever the window's shape and the pan;
// exports carry the marks shown on the screen.
TEST(WindowRound, OverlaysStayOnThePicture)
{
    auto w = MakeWindow(true);
    w->scaleBarToolStripMenuItem->setChecked(true);
    w->tools->colourBarToolStripMenuItem->setChecked(true);
    for (const QSize shape : {QSize(1280, 800), QSize(700, 1000), QSize(1600, 600)}) {
        w->resize(shape);
        Load(*w, {90, 60}, {"x", "y"}, [](const std::vector<int>& c) { return static_cast<unsigned short>(c[0] * 100); },
             {100, 100});
        w->WaitForViews();
        const QRect area = w->tools->PictureArea();
        ASSERT_FALSE(area.isEmpty());
        // The fitted picture leaves black beside or below it in these shapes.
        EXPECT_LT(area.width() * area.height(), w->pictureXY->width() * w->pictureXY->height());
        EXPECT_GT(OverlayPixels(*w, area), 0) << shape.width();
        // Panned half off the view: the marks follow the part that is left.
        w->imagedelta[0] -= area.width() / 2;
        w->pictureXY->repaint();
        OverlayPixels(*w, w->tools->PictureArea());
    }

    // A black picture: whatever is not black in the export is a mark.
    Load(*w, {400, 300}, {"x", "y"}, Zero, {100, 100});
    w->WaitForViews();
    const auto marks = [&] {
        const QImage shot = w->ViewImage(false);
        int count = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                count += (shot.pixel(x, y) & 0xffffff) != 0;
        return count;
    };
    EXPECT_GT(marks(), 0);
    w->scaleBarToolStripMenuItem->setChecked(false);
    w->tools->colourBarToolStripMenuItem->setChecked(false);
    EXPECT_EQ(marks(), 0);
}

// A single bright voxel, found where each view draws it, is the pixel the status bar names
// under the mouse there: at fitted zooms, in all three views and in odd window shapes.
TEST(WindowRound, StatusNamesThePixelDrawnUnderTheMouse)
{
    auto w = MakeWindow(true);
    // Nothing else white in the views.
    w->scaleBarToolStripMenuItem->setChecked(false);
    w->tools->colourBarToolStripMenuItem->setChecked(false);
    const Voxel feature = [](const std::vector<int>& c) -> unsigned short {
        return c[0] == 7 && c[1] == 5 && c[2] == 3 ? 4000 : 0;
    };
    for (const QSize shape : {QSize(1000, 560), QSize(760, 900)}) {
        w->resize(shape);
        Load(*w, {40, 30, 12}, {"x", "y", "z"}, feature, {100, 100, 250});
        w->curslice = V({7, 5, 3});
        w->RefreshPictures(ImageViewer::ViewAll);
        w->WaitForViews();
        for (ImageViewer::PictureBox* view : {w->pictureXY, w->pictureXZ, w->pictureYZ}) {
            const QRect drawn = BrightArea(view);
            ASSERT_FALSE(drawn.isEmpty()) << view->objectName().toStdString();
            Move(view, drawn.center(), Qt::NoButton);
            EXPECT_TRUE(w->statusMouse->text().contains(QStringLiteral("x 7 y 5 z 3")))
                << view->objectName().toStdString() << ": " << w->statusMouse->text().toStdString();
        }
    }
}

// A deep stack with thick planes: the side views take at most a third of the table, so XY
// keeps more than half of it in both directions, and hiding them gives XY all of it.
TEST(WindowRound, DeepStackLeavesXYTheRoom)
{
    auto w = MakeWindow(true);
    w->tools->sideViewsToolStripMenuItem->setChecked(true);
    for (const QSize shape : {QSize(1600, 1000), QSize(1024, 720)}) {
        w->resize(shape);
        w->LoadReader(std::make_unique<DeepStack>(), QStringLiteral("deep"));
        w->WaitForViews();
        const std::vector<int> columns = w->layoutImage->columnWidths();
        const std::vector<int> rows = w->layoutImage->rowHeights();
        ASSERT_EQ(columns.size(), 2u);
        EXPECT_GE(2 * columns[1], w->layoutImage->width()) << shape.width();
        EXPECT_GE(2 * rows[1], w->layoutImage->height()) << shape.width();
        // The side views' whole depth fits their tracks.
        EXPECT_LE(2000 * w->tools->ViewZooms(1).second, w->pictureXZ->height() + 1e-9);
        EXPECT_LE(2000 * w->tools->ViewZooms(2).first, w->pictureYZ->width() + 1e-9);
        // Zooming in keeps XY's size.
        const QSize xy = w->pictureXY->size();
        w->ZoomStep(1);
        w->ZoomStep(1);
        EXPECT_EQ(w->pictureXY->size(), xy);
        EXPECT_LE(2000 * w->tools->ViewZooms(1).second, w->pictureXZ->height() + 1e-9);
        w->tools->sideViewsToolStripMenuItem->setChecked(false);
        EXPECT_EQ(w->layoutImage->columnWidths()[0], 0);
        EXPECT_EQ(w->layoutImage->rowHeights()[0], 0);
        // Fitted again without them, the square picture fills the table's height.
        w->FitToWindow();
        EXPECT_NEAR(1024 * w->properties.GetPixelZooms()[1], w->layoutImage->height() - 3, 1.0);
        w->tools->sideViewsToolStripMenuItem->setChecked(true);
    }
}

// The demo image's shape (256 x 256 x 48 at 100 x 100 x 300 nm): fitted, its XZ and YZ
// views show every plane, the last one too, and the status bar names the voxel drawn under
// the mouse there, also zoomed in; the all-views export carries the last plane.
TEST(WindowRound, SideViewsShowTheWholeDepth)
{
    auto w = MakeWindow(true);
    w->scaleBarToolStripMenuItem->setChecked(false);
    w->tools->colourBarToolStripMenuItem->setChecked(false);
    w->tools->sideViewsToolStripMenuItem->setChecked(true);
    w->resize(1600, 1000);
    const Voxel last = [](const std::vector<int>& c) -> unsigned short {
        return c[0] >= 100 && c[0] < 104 && c[1] >= 60 && c[1] < 64 && c[2] == 47 ? 4000 : 0;
    };
    Load(*w, {256, 256, 48}, {"x", "y", "z"}, last, {100, 100, 300});
    w->curslice = V({101, 61, 47});
    w->RefreshPictures(ImageViewer::ViewAll);
    w->WaitForViews();
    for (int zoomed = 0; zoomed < 2; ++zoomed) {
        for (ImageViewer::PictureBox* view : {w->pictureXZ, w->pictureYZ}) {
            const QRect drawn = BrightArea(view);
            ASSERT_FALSE(drawn.isEmpty()) << view->objectName().toStdString() << " zoomed " << zoomed;
            Move(view, drawn.center(), Qt::NoButton);
            EXPECT_TRUE(w->statusMouse->text().contains(QStringLiteral("z 47")))
                << view->objectName().toStdString() << ": " << w->statusMouse->text().toStdString();
        }
        // Zoomed in about the feature, which stays in view.
        w->ZoomAbout(2.0, QPointF(w->imagedelta[0] + 102 * w->tools->ViewZooms(0).first,
                                  w->imagedelta[1] + 62 * w->tools->ViewZooms(0).second));
    }
    // The export's XZ strip above the XY picture holds the last plane's voxels.
    const QImage all = w->ViewImage(true);
    const QImage xy = w->ViewImage(false);
    ASSERT_GT(all.height(), xy.height());
    int bright = 0;
    for (int y = 0; y < all.height() - xy.height(); ++y)
        for (int x = 0; x < all.width(); ++x)
            bright += qRed(all.pixel(x, y)) > 200;
    EXPECT_GT(bright, 0);
}

// The splitters between the side views and XY, between the views and the panels, and between
// the panels: a drag gives the side view that share of the table (at most half), a double
// click gives it back to the automatic rule, and the next window starts as they were left.
TEST(WindowRound, SplittersMoveAndAreRemembered)
{
    QList<int> panels, panes;
    {
        auto w = MakeWindow(true);
        w->tools->sideViewsToolStripMenuItem->setChecked(true);
        Load(*w, {64, 64, 16}, {"x", "y", "z"}, Zero, {100, 100, 100});
        auto* handle = w->layoutImage->findChild<QWidget*>(QStringLiteral("splitterViews"));
        auto* row = w->layoutImage->findChild<QWidget*>(QStringLiteral("splitterViewsRow"));
        ASSERT_NE(handle, nullptr);
        ASSERT_NE(row, nullptr);
        ASSERT_TRUE(handle->isVisible());
        const int table = w->layoutImage->width();
        // Dragged to 40 % of the table.
        const QPoint start = handle->rect().center();
        const int by = table * 2 / 5 - handle->mapToParent(start).x();
        Drag(handle, start, start + QPoint(by, 0));
        EXPECT_NEAR(w->layoutImage->columnWidths()[0], table * 0.4, 1.5);
        EXPECT_TRUE(w->fitted); // fitted again beside the wider side view
        // Dragged far right: XY keeps half.
        const QPoint now = handle->rect().center();
        Drag(handle, now, now + QPoint(table, 0));
        EXPECT_NEAR(w->layoutImage->columnWidths()[0], table * 0.5, 1.5);
        // The row too.
        const int high = w->layoutImage->height();
        const QPoint mid = row->rect().center();
        Drag(row, mid, mid + QPoint(0, high / 4 - row->mapToParent(mid).y()));
        EXPECT_NEAR(w->layoutImage->rowHeights()[0], high * 0.25, 1.5);

        auto* split = w->findChild<QSplitter*>(QStringLiteral("splitterPanels"));
        ASSERT_NE(split, nullptr);
        const QList<int> sizes = split->sizes();
        split->setSizes({sizes[0] - 100, sizes[1] + 100});
        panels = split->sizes();
        emit split->splitterMoved(panels[0], 1);
        // The split between the panels, as a drag of its handle does it.
        const QList<int> stacked = w->splitContainer1->sizes();
        ASSERT_EQ(stacked.size(), 2);
        const int total = stacked[0] + stacked[1];
        w->splitContainer1->setSizes({total / 4, total - total / 4});
        panes = w->splitContainer1->sizes();
        emit w->splitContainer1->splitterMoved(panes[0], 1);
    }
    auto w = MakeWindow(true);
    Load(*w, {64, 64, 16}, {"x", "y", "z"}, Zero, {100, 100, 100});
    EXPECT_EQ(w->findChild<QSplitter*>(QStringLiteral("splitterPanels"))->sizes(), panels);
    EXPECT_EQ(w->splitContainer1->sizes(), panes);
    EXPECT_NEAR(w->layoutImage->columnWidths()[0], w->layoutImage->width() * 0.5, 1.5);
    EXPECT_NEAR(w->layoutImage->rowHeights()[0], w->layoutImage->height() * 0.25, 1.5);
    // A double click: the automatic track, the depth at the fitting zoom (a 16-deep cube).
    auto* handle = w->layoutImage->findChild<QWidget*>(QStringLiteral("splitterViews"));
    QTest::mouseDClick(handle, Qt::LeftButton);
    auto* row = w->layoutImage->findChild<QWidget*>(QStringLiteral("splitterViewsRow"));
    QTest::mouseDClick(row, Qt::LeftButton);
    const double zoom = w->properties.GetPixelZooms()[0];
    EXPECT_NEAR(w->layoutImage->columnWidths()[0], 16 * zoom, 1.0);
    EXPECT_NEAR(w->layoutImage->rowHeights()[0], 16 * zoom, 1.0);
}

// The Spectrum page plots the values under the cursor, as wide as the panel, against the
// file's own wavelengths, or the typed calibration's.
TEST(WindowRound, SpectrumPlotUnderTheCursor)
{
    auto w = MakeWindow();
    w->LoadReader(std::make_unique<Lambda>(std::vector<int>{6, 6, 20},
                                           [](const std::vector<int>& p) { return 100 * p[2] + p[0]; },
                                           std::vector<std::string>{"x", "y", "lambda"}),
                  QStringLiteral("memory"));
    w->WaitForViews();
    w->curslice = V({4, 2, 7});
    w->tabControl1->setCurrentWidget(w->tabPage2);
    QApplication::processEvents();
    const ImageViewer::WindowTools::Spectrum s = w->tools->SpectrumUnderCursor();
    ASSERT_EQ(s.values.size(), 20u);
    ASSERT_EQ(s.nm.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_DOUBLE_EQ(s.values[static_cast<size_t>(i)], 100 * i + 4) << i;
        EXPECT_DOUBLE_EQ(s.nm[static_cast<size_t>(i)], 500 + 10 * i) << i;
    }
    EXPECT_EQ(s.marker, 7);
    // As wide as the panel (less its frames and margins), and drawn.
    ImageViewer::PictureBox* plot = w->tools->pictureSpectrum;
    EXPECT_GE(plot->width(), w->groupBox1->width() - 40);
    EXPECT_GE(plot->height(), 90);
    const QImage shot = plot->grab().toImage();
    const QRgb backdrop = shot.pixel(shot.width() - 2, 2);
    int drawn = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            drawn += shot.pixel(x, y) != backdrop;
    EXPECT_GT(drawn, shot.width());
    // A calibration typed over the file's: its straight line.
    w->textSpectrumWavelength1->setText(QStringLiteral("400"));
    w->textSpectrumWavelength2->setText(QStringLiteral("590"));
    const ImageViewer::WindowTools::Spectrum typed = w->tools->SpectrumUnderCursor();
    ASSERT_EQ(typed.nm.size(), 20u);
    EXPECT_DOUBLE_EQ(typed.nm[10], 500);
}

// The table sets the menus' shortcuts, and Help lists every entry of it.
TEST(WindowRound, KeyboardTableDrivesShortcutsAndHelp)
{
    auto w = MakeWindow();
    for (const ImageViewer::KeyEntry& entry : ImageViewer::KeyboardTable()) {
        if (!entry.action)
            continue;
        auto* action = w->findChild<QAction*>(QString::fromLatin1(entry.action));
        ASSERT_NE(action, nullptr) << entry.action;
        EXPECT_EQ(action->shortcuts(), QKeySequence::listFromString(QString::fromLatin1(entry.keys), QKeySequence::PortableText))
            << entry.action;
    }
    EXPECT_EQ(w->exitToolStripMenuItem->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    // No action has keys the table does not give it: the table is the one place.
    for (QAction* action : w->findChildren<QAction*>()) {
        if (action->shortcuts().isEmpty())
            continue;
        bool listed = false;
        for (const ImageViewer::KeyEntry& entry : ImageViewer::KeyboardTable())
            listed = listed || (entry.action && action->objectName() == QLatin1String(entry.action));
        EXPECT_TRUE(listed) << action->objectName().toStdString() << " " << action->shortcut().toString().toStdString();
    }
    w->tools->keyboardHelpToolStripMenuItem->trigger();
    auto* text = w->findChild<QTextBrowser*>(QStringLiteral("textKeyboardHelp"));
    ASSERT_NE(text, nullptr);
    const QString shown = text->toPlainText();
    for (const char* gesture : {"Shift + left drag in XY", "Ctrl + left drag in XY", "Middle drag in XY"})
        EXPECT_TRUE(shown.contains(QString::fromLatin1(gesture))) << gesture;
    EXPECT_TRUE(shown.contains(QStringLiteral("Ctrl+Shift+A")));
}

LUMORA_VIEWER_TEST_MAIN()
