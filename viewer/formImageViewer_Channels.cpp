// The channel panel: the channel dimension, the channel list with its names, colours and
// switches, automatic range expansion and the gamma slider.
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QLocale>
#include <QSignalBlocker>
#include <QSlider>
#include <QVariant>
#include <algorithm>
#include <cstddef>
#include <iterator>

#include "ChannelChoice.h"
#include "PictureBox.h"
#include "OpenDefaults.h"
#include "formImageViewer.h"

namespace ImageViewer {

namespace {

void setSwatch(QLabel* swatch, const QColor& color)
{
    QPalette pal = swatch->palette();
    pal.setColor(QPalette::Window, color);
    swatch->setPalette(pal);
}

QListWidgetItem* newChannelItem(QListWidget* list, const QString& label)
{
    auto* item = new QListWidgetItem(label);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    list->addItem(item);
    return item;
}

// The gamma slider shows the current channel's setting. With no current channel there is
// nothing for it to set, and the spectral colouring does not use gamma.
void showCurrentGamma(const formImageViewer& window)
{
    const ChannelPtr channel = ChannelChoice(window).Current();
    const bool spectral = window.IsSpectral();
    const QSignalBlocker block(window.trackGamma);
    window.trackGamma->setValue(channel ? channel->m_gamma : 0);
    window.trackGamma->setEnabled(channel && !spectral);
    window.trackGamma->setToolTip(spectral  ? QStringLiteral("Gamma does not apply to a spectrum")
                                  : channel ? QString()
                                            : QStringLiteral("Select a channel on the Channels page"));
}

} // namespace

void formImageViewer::comboDimC_SelectedIndexChanged()
{
    if (!image)
        return;
    // What the panels need beyond the window's own wiring matters only once an image is
    // loaded: the gamma slider's handler (one connection however often this runs) and mouse
    // moves without a button over the histogram, which show the resize cursor at a marker.
    connect(trackGamma, &QSlider::valueChanged, this, &formImageViewer::trackGamma_Scroll, Qt::UniqueConnection);
    pctHistogram->setMouseTracking(true);

    listChannels->clear();
    textChannel->setText(QString());
    setSwatch(labelChannelColor, palette().color(QPalette::Window));

    const int cd = ChannelDimension();
    if (ChannelChoice(*this).IsListMode()) {
        const int n = image->GetSize()[cd];
        for (int i = 0; i < n; ++i) {
            // The file's own name for the channel where it gives one.
            const std::string named = reader->GetIndexName(static_cast<unsigned int>(cd), i);
            QListWidgetItem* item =
                newChannelItem(listChannels, named.empty() ? QString::number(i) : QString::fromStdString(named));
            if (i >= static_cast<int>(channels->size())) {
                const bool expand = checkAutoExpand->isChecked();
                channels->push_back(std::make_shared<ImageChannel>(expand ? 65535 : 0, expand ? 0 : 65535, 0, 255, 255,
                                                                   255, expand));
            }
            // Goes through listChannels_ItemCheck like any other check change.
            item->setCheckState((*channels)[static_cast<size_t>(i)]->m_enabled ? Qt::Checked : Qt::Unchecked);
        }
        listChannels->setEnabled(true);
        textChannel->setEnabled(true);
        // The histogram panel shows a channel from the start: the first one.
        if (n > 0)
            listChannels->setCurrentRow(0);
    } else {
        // Checking this item stands for index 0, so it enables channel 0.
        QListWidgetItem* item = newChannelItem(listChannels, QStringLiteral("Global"));
        item->setCheckState(Qt::Checked);
        listChannels->setCurrentRow(0);
        listChannels->setEnabled(false);
        textChannel->setEnabled(false);
    }
    if (IsSpectral()) {
        // A calibration that suits the length of this spectral dimension, unless the user has
        // typed one: boxes that still hold the default they were last given follow it.
        const SpectrumCalibration cal = InitialSpectrumCalibration(image->GetSize()[cd], reader->GetIndexWavelengths(static_cast<unsigned>(cd)));
        const std::pair<QLineEdit*, double> boxes[] = {{textSpectrumPos1, cal.p1}, {textSpectrumWavelength1, cal.w1},
                                                       {textSpectrumPos2, cal.p2}, {textSpectrumWavelength2, cal.w2}};
        const auto untouched = [](const QLineEdit* box) {
            const QVariant given = box->property("defaultText");
            return given.isValid() ? box->text() == given.toString() : true;
        };
        if (std::all_of(std::begin(boxes), std::end(boxes), [&](const auto& b) { return untouched(b.first); })) {
            for (const auto& [box, value] : boxes) {
                const QSignalBlocker block(box);
                box->setText(QLocale().toString(value, 'g', 6));
                box->setProperty("defaultText", box->text());
            }
        }
    }
    showCurrentGamma(*this);
    ShowRangeMode();
    RefreshPictures(ViewAll);
    UpdateLocation();
}

void formImageViewer::textSpectrum_TextChanged()
{
    // A calibration edit recolours the spectrum at once; text that is not a number gives black.
    if (IsSpectral())
        RefreshPictures(ViewAll);
}

void formImageViewer::listChannels_SelectedIndexChanged()
{
    if (!image)
        return;
    QListWidgetItem* item = listChannels->currentItem();
    const ChannelPtr channel = ChannelChoice(*this).Current();
    if (item) {
        if (textChannel->text() != item->text())
            textChannel->setText(item->text());
        if (channel)
            setSwatch(labelChannelColor, QColor(channel->m_r, channel->m_g, channel->m_b));
    } else {
        textChannel->setText(QString());
        setSwatch(labelChannelColor, palette().color(QPalette::Window));
    }
    showCurrentGamma(*this);
    pctHistogram->update();
}

void formImageViewer::textChannel_TextChanged()
{
    if (!image)
        return;
    QListWidgetItem* item = listChannels->currentItem();
    if (item && item->text() != textChannel->text())
        item->setText(textChannel->text());
}

void formImageViewer::labelChannelColor_Click()
{
    if (!image)
        return;
    const QColor chosen = QColorDialog::getColor(labelChannelColor->palette().color(QPalette::Window), this);
    if (!chosen.isValid())
        return;
    setSwatch(labelChannelColor, chosen);
    if (const ChannelPtr channel = ChannelChoice(*this).Current()) {
        channel->m_r = chosen.red();
        channel->m_g = chosen.green();
        channel->m_b = chosen.blue();
    }
    RefreshPictures(ViewAll);
}

void formImageViewer::listChannels_ItemCheck(QListWidgetItem* item)
{
    if (!image || !item)
        return;
    const int k = listChannels->row(item);
    if (k < 0 || k >= static_cast<int>(channels->size()))
        return;
    const bool checked = item->checkState() == Qt::Checked;
    ImageChannel& channel = *(*channels)[static_cast<size_t>(k)];
    if (channel.m_enabled != checked) {
        channel.m_enabled = checked;
        RefreshPictures(ViewAll);
    }
}

// The list toggles a check only when its box is clicked, so a click on the label never
// needs vetoing and ignoreCheck stays clear.
void formImageViewer::listChannels_MouseClick(QMouseEvent*)
{
    ignoreCheck = false;
}

void formImageViewer::listChannels_MouseUp(QMouseEvent*)
{
    ignoreCheck = false;
}

void formImageViewer::checkAutoExpand_CheckedChanged()
{
    if (!image)
        return;
    // The mixed state only shows that some ranges are fixed; a click on it expands all.
    const bool expand = checkAutoExpand->checkState() != Qt::Unchecked;
    globalchannel->m_autoscaling = expand;
    for (const ChannelPtr& channel : *channels)
        channel->m_autoscaling = expand;
    ShowRangeMode();
    RefreshPictures(ViewAll);
}

void formImageViewer::ShowRangeMode()
{
    if (!image)
        return;
    // The channels the panels work with: the image's entries of the list, or the global one.
    std::vector<ChannelPtr> shown{globalchannel};
    if (ChannelChoice(*this).IsListMode()) {
        const size_t count = static_cast<size_t>(image->GetSize()[ChannelDimension()]);
        shown.assign(channels->begin(), channels->begin() + static_cast<std::ptrdiff_t>(std::min(count, channels->size())));
    }
    int expanding = 0, fixed = 0;
    for (const ChannelPtr& channel : shown)
        (channel->m_autoscaling ? expanding : fixed) += 1;
    const Qt::CheckState state = fixed == 0 ? Qt::Checked : expanding == 0 ? Qt::Unchecked : Qt::PartiallyChecked;
    const QSignalBlocker block(checkAutoExpand);
    checkAutoExpand->setTristate(state == Qt::PartiallyChecked);
    checkAutoExpand->setCheckState(state);
    checkAutoExpand->setToolTip(state == Qt::Checked ? QStringLiteral("Every channel's range widens to its data")
                                : state == Qt::Unchecked
                                    ? QStringLiteral("Every channel keeps the range set for it")
                                    : QStringLiteral("Some channels keep the range set for them (dragged markers or Auto)"));
}

void formImageViewer::trackGamma_Scroll()
{
    const ChannelPtr channel = ChannelChoice(*this).Current();
    if (!channel)
        return;
    channel->m_gamma = trackGamma->value();
    RefreshPictures(ViewAll);
}


} // namespace ImageViewer
