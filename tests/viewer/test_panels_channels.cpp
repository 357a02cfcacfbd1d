// The channel panel: list and global modes, naming, enabling, colours, automatic range
// expansion and the gamma curve.
#include <QCheckBox>
#include <QColorDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTabWidget>
#include <QTimer>

#include "ViewerTestUtil.h"

using namespace ViewerTest;

namespace {

QColor swatch(const formImageViewer& w)
{
    return w.labelChannelColor->palette().color(QPalette::Window);
}

QRect checkBoxRect(QListWidget* list, QListWidgetItem* item)
{
    QStyleOptionViewItem opt;
    opt.initFrom(list->viewport());
    opt.rect = list->visualItemRect(item);
    opt.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    opt.text = item->text();
    opt.checkState = item->checkState();
    return list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, list);
}

// z on the side views keeps every picture a plane of one channel.
std::unique_ptr<formImageViewer> threeChannels()
{
    return Open({32, 24, 2, 3}, {"x", "y", "z", "ch"},
                [](const std::vector<int>& c) { return 1000 * (c[3] + 1) + c[0] + c[1]; });
}

QColor colourOf(const ImageViewer::ImageChannel& ch)
{
    return QColor(ch.m_r, ch.m_g, ch.m_b);
}

// Answers the next modal colour chooser: with `colour`, or cancels it when invalid.
void answerColourChooser(const QColor& colour)
{
    QTimer::singleShot(0, [colour] {
        auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        if (colour.isValid()) {
            dialog->setCurrentColor(colour);
            dialog->accept();
        } else {
            dialog->reject();
        }
    });
}

TEST(PanelsChannels, ThreeEntriesAndTheSelectedChannel)
{
    auto w = threeChannels();
    ASSERT_EQ(w->listChannels->count(), 3);
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(w->listChannels->item(i)->text(), QString::number(i));
        EXPECT_EQ(w->listChannels->item(i)->checkState(), Qt::Checked);
        EXPECT_EQ(colourOf(*(*w->channels)[static_cast<size_t>(i)]), colours[i]);
    }
    // The first channel starts selected; without a selection there is nothing to name or set.
    EXPECT_EQ(w->listChannels->currentRow(), 0);
    EXPECT_EQ(w->textChannel->text(), "0");
    EXPECT_TRUE(w->trackGamma->isEnabled());
    w->listChannels->setCurrentRow(-1);
    EXPECT_TRUE(w->textChannel->text().isEmpty());
    EXPECT_FALSE(w->trackGamma->isEnabled());

    // The selection drives the name box, the swatch and the gamma slider.
    w->listChannels->setCurrentRow(1);
    EXPECT_EQ(w->textChannel->text(), "1");
    EXPECT_EQ(swatch(*w), QColor(Qt::green));
    w->trackGamma->setValue(4);
    EXPECT_EQ((*w->channels)[1]->m_gamma, 4);
    EXPECT_EQ((*w->channels)[0]->m_gamma, 0);
    w->listChannels->setCurrentRow(0);
    EXPECT_EQ(w->trackGamma->value(), 0);
    w->listChannels->setCurrentRow(1);
    EXPECT_EQ(w->trackGamma->value(), 4);

    // A cancelled colour choice changes nothing; a chosen one recolours and redraws.
    const auto& ch = *(*w->channels)[1];
    answerColourChooser(QColor());
    w->labelChannelColor_Click();
    EXPECT_EQ(swatch(*w), QColor(Qt::green));
    EXPECT_EQ(colourOf(ch), QColor(Qt::green));
    const int before = w->recomputeCount[0];
    answerColourChooser(QColor(10, 20, 30));
    w->labelChannelColor_Click();
    EXPECT_EQ(swatch(*w), QColor(10, 20, 30));
    EXPECT_EQ(colourOf(ch), QColor(10, 20, 30));
    EXPECT_GT(w->recomputeCount[0], before);
}

// Ten entries or more: one "Global" item, nothing to name and no gamma (the spectral
// colouring and the channels themselves are the model's, tested headless). The global item
// of a list without a channel dimension turns channel 0 back on when the list returns.
TEST(PanelsChannels, GlobalItemForSpectraAndWithoutAChannelDimension)
{
    auto spectral = Open({16, 12, 10}, {"x", "y", "c"}, [](const std::vector<int>& c) { return c[0] + c[2]; });
    ASSERT_EQ(spectral->listChannels->count(), 1);
    EXPECT_EQ(spectral->listChannels->item(0)->text(), "Global");
    EXPECT_EQ(spectral->listChannels->currentRow(), 0);
    EXPECT_FALSE(spectral->listChannels->isEnabled());
    EXPECT_FALSE(spectral->textChannel->isEnabled());
    EXPECT_EQ(swatch(*spectral), QColor(Qt::white));
    EXPECT_FALSE(spectral->trackGamma->isEnabled());

    auto w = threeChannels();
    w->listChannels->item(0)->setCheckState(Qt::Unchecked);
    EXPECT_FALSE((*w->channels)[0]->m_enabled);
    w->comboDimC->setCurrentIndex(0); // "(none)"
    EXPECT_EQ(w->listChannels->item(0)->text(), "Global");
    w->comboDimC->setCurrentIndex(4);
    EXPECT_EQ(w->listChannels->item(0)->checkState(), Qt::Checked);
    EXPECT_TRUE((*w->channels)[0]->m_enabled);
}

TEST(PanelsChannels, SettingsSurviveAndNamesDoNot)
{
    auto w = Open({16, 12, 3, 5}, {"x", "y", "ch", "t"}, [](const std::vector<int>& c) { return c[0] + 100 * c[2]; });
    ASSERT_EQ(w->listChannels->count(), 3);
    w->listChannels->setCurrentRow(2);
    w->textChannel->setText("DAPI");
    EXPECT_EQ(w->listChannels->item(2)->text(), "DAPI");
    w->listChannels->item(1)->setCheckState(Qt::Unchecked);

    // t has 5 entries: two more listed, the first three keep their switches.
    w->comboDimC->setCurrentIndex(4);
    ASSERT_EQ(w->listChannels->count(), 5);
    EXPECT_EQ(w->listChannels->item(1)->checkState(), Qt::Unchecked);
    EXPECT_EQ(w->listChannels->item(2)->text(), "2");
    w->comboDimC->setCurrentIndex(3);
    EXPECT_EQ(w->listChannels->item(2)->text(), "2");
    EXPECT_FALSE((*w->channels)[1]->m_enabled);
}

TEST(PanelsChannels, LabelClickSelectsAndBoxClickToggles)
{
    auto w = threeChannels();
    w->tabControl1->setCurrentIndex(1); // the "Channels" page in front, so that clicks reach the list
    QApplication::processEvents();
    QListWidget* list = w->listChannels;
    QListWidgetItem* item = list->item(1);
    const QRect row = list->visualItemRect(item);
    const QRect box = checkBoxRect(list, item);
    ASSERT_FALSE(box.isEmpty());

    const int before = w->recomputeCount[0];
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(box.right() + 30, row.center().y()));
    EXPECT_EQ(list->currentRow(), 1);
    EXPECT_EQ(item->checkState(), Qt::Checked);
    EXPECT_TRUE((*w->channels)[1]->m_enabled);
    EXPECT_EQ(w->recomputeCount[0], before);

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_EQ(item->checkState(), Qt::Unchecked);
    EXPECT_FALSE((*w->channels)[1]->m_enabled);
    EXPECT_GT(w->recomputeCount[0], before);
    // Without channel 1 no green reaches the XY picture.
    const QRgb pixel = w->GDIImageXY.pixel(3, 3);
    EXPECT_EQ(qGreen(pixel), 0);
    EXPECT_GT(qRed(pixel) + qBlue(pixel), 0);
}

// The box sets every channel's autoscaling, also of channels the next image adds.
TEST(PanelsChannels, AutoExpandReachesUnlistedChannels)
{
    {
        // Unticked before the load: the channels past the defaults keep the whole range.
        auto w = MakeWindow();
        w->checkAutoExpand->setChecked(false);
        Load(*w, {16, 12, 2, 8}, {"x", "y", "z", "c"}, [](const std::vector<int>& c) { return 100 + 10 * c[3] + c[0]; });
        ASSERT_EQ(w->listChannels->count(), 8);
        for (const size_t i : {size_t(6), size_t(7)}) {
            const auto& ch = *(*w->channels)[i];
            EXPECT_EQ(colourOf(ch), QColor(Qt::white)) << i;
            EXPECT_FALSE(ch.m_autoscaling) << i;
            EXPECT_EQ(ch.m_min, 0) << i;
            EXPECT_EQ(ch.m_max, 65535) << i;
        }
    }
    auto w = threeChannels();
    w->checkAutoExpand->setChecked(false);
    EXPECT_FALSE(w->globalchannel->m_autoscaling);
    for (const auto& ch : *w->channels)
        EXPECT_FALSE(ch->m_autoscaling);

    // Narrowed by hand, the range now stays where it is put.
    (*w->channels)[0]->m_min = 1010;
    w->RefreshPictures(ImageViewer::ViewAll);
    EXPECT_EQ((*w->channels)[0]->m_min, 1010);

    w->checkAutoExpand->setChecked(true);
    for (const auto& ch : *w->channels)
        EXPECT_TRUE(ch->m_autoscaling);
    EXPECT_EQ((*w->channels)[0]->m_min, 1000); // widened again by the redraw
}

} // namespace

LUMORA_VIEWER_TEST_MAIN()
