// Placeholder handlers of the channel, histogram and profile panels and the properties
// dialog, just enough for the views to work. The panels' own implementation replaces this
// file.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QSignalBlocker>
#include <QCheckBox>
#include <QComboBox>

#include "PictureBox.h"
#include "formImageViewer.h"

namespace ImageViewer {

namespace {

void setSwatch(QLabel* swatch, const QColor& color)
{
    QPalette pal = swatch->palette();
    pal.setColor(QPalette::Window, color);
    swatch->setPalette(pal);
}

} // namespace

void formImageViewer::comboDimC_SelectedIndexChanged()
{
    if (!image)
        return;
    const int cd = comboDimC->currentIndex() - 1;
    const ImageReader::Vector size = image->GetSize();
    {
        const QSignalBlocker blockList(listChannels);
        const QSignalBlocker blockText(textChannel);
        listChannels->clear();
        textChannel->clear();
        setSwatch(labelChannelColor, palette().color(QPalette::Window));
        if (cd >= 0 && cd < static_cast<int>(size.size()) && size[cd] < 10) {
            for (int i = 0; i < size[cd]; ++i) {
                auto* item = new QListWidgetItem(QString::number(i), listChannels);
                item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
                if (i >= static_cast<int>(channels->size())) {
                    const bool expand = checkAutoExpand->isChecked();
                    channels->push_back(std::make_shared<ImageChannel>(expand ? 65535 : 0, expand ? 0 : 65535, 0, 255,
                                                                       255, 255, expand));
                }
                item->setCheckState((*channels)[static_cast<size_t>(i)]->m_enabled ? Qt::Checked : Qt::Unchecked);
            }
            listChannels->setEnabled(true);
            textChannel->setEnabled(true);
        } else {
            auto* item = new QListWidgetItem(QStringLiteral("Global"), listChannels);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(Qt::Checked);
            if (!channels->empty())
                channels->front()->m_enabled = true;
            listChannels->setCurrentRow(0);
            textChannel->setText(QStringLiteral("Global"));
            setSwatch(labelChannelColor, QColor(globalchannel->m_r, globalchannel->m_g, globalchannel->m_b));
            listChannels->setEnabled(false);
            textChannel->setEnabled(false);
        }
    }
    RefreshPictures(ViewAll);
    UpdateLocation();
}

void formImageViewer::listChannels_SelectedIndexChanged() {}
void formImageViewer::textChannel_TextChanged() {}
void formImageViewer::labelChannelColor_Click() {}
void formImageViewer::listChannels_ItemCheck(QListWidgetItem*) {}
void formImageViewer::listChannels_MouseClick(QMouseEvent*) {}
void formImageViewer::listChannels_MouseUp(QMouseEvent*) {}
void formImageViewer::checkAutoExpand_CheckedChanged() {}
void formImageViewer::pctHistogram_Paint(QPainter&) {}
void formImageViewer::pctHistogram_MouseDown(QMouseEvent*) {}
void formImageViewer::pctHistogram_MouseMove(QMouseEvent*) {}
void formImageViewer::pctHistogram_MouseUp(QMouseEvent*) {}
void formImageViewer::UpdateHistogram() {}
void formImageViewer::UpdateProfile() {}

void formImageViewer::UpdateCursorProfile()
{
    cursorprofile.reset();
    pictureProfile->update();
}

void formImageViewer::pictureProfile_Paint(QPainter&) {}
void formImageViewer::propertiesToolStripMenuItem_Click() {}

} // namespace ImageViewer
