// The panels read at any font scale: name boxes fit their names, headers stand apart, the
// channel list shows four rows, the histogram grows with the panel. Also run with
// QT_SCALE_FACTOR=2.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTabWidget>

#include "ViewerTestUtil.h"

using namespace ViewerTest;

namespace {

TEST(Layout, FirstWindowSizeFollowsTheScreen)
{
    formImageViewer w;
    ASSERT_NE(w.screen(), nullptr);
    const QSize screen = w.screen()->availableGeometry().size();
    const QSize want(std::max(screen.width() * 4 / 5, std::min(1024, screen.width())),
                     std::max(screen.height() * 4 / 5, std::min(720, screen.height())));
    EXPECT_EQ(w.size(), want.expandedTo(w.minimumSize()));
}

TEST(Layout, DimensionRowsReadAndDoNotOverlap)
{
    auto w = MakeWindow();
    Load(*w, {16, 16, 4, 3, 2}, {"x", "y", "lambda", "channels", "timepoint"});
    QApplication::processEvents();
    const QRect name = w->label3->geometry(), position = w->label4->geometry(), proj = w->label5->geometry();
    EXPECT_LT(name.right(), position.left());
    EXPECT_LT(position.right(), proj.left());
    for (QLabel* header : {w->label3, w->label4, w->label5})
        EXPECT_GE(header->width(), header->sizeHint().width()) << header->text().toStdString();

    for (size_t i = 0; i < w->textDimName.size(); ++i) {
        QLineEdit* box = w->textDimName[i];
        const QFontMetrics fm = box->fontMetrics();
        EXPECT_GE(box->width(), std::max(fm.horizontalAdvance("lambda"), 8 * fm.averageCharWidth())) << i;
        // The whole name is in view: text, frame and the box's text margins.
        EXPECT_LE(fm.horizontalAdvance(box->text()) + 6, box->width()) << box->text().toStdString();
        EXPECT_EQ(w->trackDim[i]->tickPosition(), QSlider::NoTicks) << i;
        const QRect row = box->geometry() | w->textDimNum[i]->geometry() | w->trackDim[i]->geometry();
        EXPECT_FALSE(box->geometry().intersects(w->textDimNum[i]->geometry())) << i;
        EXPECT_FALSE(w->textDimNum[i]->geometry().intersects(w->trackDim[i]->geometry())) << i;
        if (i + 1 < w->textDimName.size()) {
            const QRect next = w->textDimName[i + 1]->geometry() | w->trackDim[i + 1]->geometry();
            EXPECT_FALSE(row.intersects(next)) << i;
        }
    }
}

TEST(Layout, FourChannelRowsAndAHistogramThatGrows)
{
    auto w = MakeWindow();
    Load(*w, {16, 16, 6}, {"x", "y", "ch"});
    w->tabControl1->setCurrentIndex(1);
    QApplication::processEvents();
    ASSERT_EQ(w->listChannels->count(), 6);
    EXPECT_GE(w->listChannels->viewport()->height(), 4 * w->listChannels->sizeHintForRow(0));
    const int small = w->pctHistogram->height();
    EXPECT_GE(small, 48);
    w->resize(w->width(), w->height() + 300);
    QApplication::processEvents();
    EXPECT_GT(w->pctHistogram->height(), small + 50);
    // The range labels and the Auto button sit under the histogram, apart from each other.
    EXPECT_GT(w->lblMin->geometry().top(), w->pctHistogram->geometry().bottom());
    EXPECT_LT(w->lblMin->geometry().right(), w->buttonAutoRange->geometry().left());
    EXPECT_LT(w->buttonAutoRange->geometry().right(), w->lblMax->geometry().left());
}

} // namespace

LUMORA_VIEWER_TEST_MAIN()
