// The display tools added beside the window's panels: range boxes, lookup tables, the colour
// bar, side views on/off and the keyboard help.
#include "WindowTools.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QSettings>
#include <QSplitter>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "AnchorPanel.h"
#include "ChannelChoice.h"
#include "KeyboardTable.h"
#include "PictureBox.h"
#include "formImageViewer.h"

namespace ImageViewer {

namespace {

const char* const kColourBarKey = "colourBar";
const char* const kSideViewsKey = "sideViews";
const char* const kPanelsKey = "panelSplitter";

QAction* checkable(formImageViewer& w, const char* name, const QString& text, const char* key, bool initial)
{
    auto* action = new QAction(text, &w);
    action->setObjectName(QString::fromLatin1(name));
    action->setCheckable(true);
    action->setChecked(QSettings().value(QString::fromLatin1(key), initial).toBool());
    QObject::connect(action, &QAction::toggled, &w, [key](bool on) { QSettings().setValue(QString::fromLatin1(key), on); });
    return action;
}

} // namespace

WindowTools::WindowTools(formImageViewer& window) : w(window)
{
    BuildRangeRow();
    BuildMenus();
    ApplyShortcuts(w);
    BuildSplitters();
    BuildSpectrumPlot();
    // The panels' split as the user left it last time.
    w.splitContainer1->restoreState(QSettings().value(QString::fromLatin1(kPanelsKey)).toByteArray());
    QObject::connect(w.splitContainer1, &QSplitter::splitterMoved, &w, [this] {
        QSettings().setValue(QString::fromLatin1(kPanelsKey), w.splitContainer1->saveState());
    });
}

void WindowTools::BuildRangeRow()
{
    textRangeMin = new QLineEdit;
    textRangeMin->setObjectName(QStringLiteral("textRangeMin"));
    textRangeMin->setToolTip(QStringLiteral("Display minimum (the file's values); Enter applies"));
    textRangeMax = new QLineEdit;
    textRangeMax->setObjectName(QStringLiteral("textRangeMax"));
    textRangeMax->setToolTip(QStringLiteral("Display maximum (the file's values); Enter applies"));
    textRangeMax->setAlignment(Qt::AlignRight);
    comboLut = new QComboBox;
    comboLut->setObjectName(QStringLiteral("comboLut"));
    comboLut->setToolTip(QStringLiteral("Lookup table of the selected channel; HiLo shows clipped pixels blue and red"));
    for (const std::string& name : LookupTableNames())
        comboLut->addItem(QString::fromStdString(name));
    if (auto* grid = qobject_cast<QGridLayout*>(w.tabPage1->layout())) {
        auto* row = new QHBoxLayout;
        row->addWidget(textRangeMin, 1);
        row->addWidget(comboLut, 1);
        row->addWidget(textRangeMax, 1);
        grid->addLayout(row, grid->rowCount(), 0, 1, grid->columnCount());
    }
    QObject::connect(textRangeMin, &QLineEdit::editingFinished, &w, [this] { TakeRange(0); });
    QObject::connect(textRangeMax, &QLineEdit::editingFinished, &w, [this] { TakeRange(1); });
    QObject::connect(comboLut, qOverload<int>(&QComboBox::activated), &w, [this] { TakeLut(); });
    QObject::connect(w.listChannels, &QListWidget::currentRowChanged, &w, [this] { ShowRange(); });
}

void WindowTools::BuildMenus()
{
    colourBarToolStripMenuItem = checkable(w, "colourBarToolStripMenuItem", QStringLiteral("&Colour bar"), kColourBarKey, false);
    sideViewsToolStripMenuItem = checkable(w, "sideViewsToolStripMenuItem", QStringLiteral("Si&de views"), kSideViewsKey, true);
    w.viewToolStripMenuItem->addActions({colourBarToolStripMenuItem, sideViewsToolStripMenuItem});
    QObject::connect(colourBarToolStripMenuItem, &QAction::toggled, &w, [this] { w.pictureXY->update(); });
    QObject::connect(sideViewsToolStripMenuItem, &QAction::toggled, &w, [this] {
        // A fitted picture fits the room it now has.
        if (w.fitted)
            w.FitToWindow();
        else
            w.UpdateLayout();
    });

    keyboardHelpToolStripMenuItem = new QAction(QStringLiteral("&Keyboard and mouse"), &w);
    keyboardHelpToolStripMenuItem->setObjectName(QStringLiteral("keyboardHelpToolStripMenuItem"));
    w.helpToolStripMenuItem->insertAction(w.infoToolStripMenuItem, keyboardHelpToolStripMenuItem);
    QObject::connect(keyboardHelpToolStripMenuItem, &QAction::triggered, &w, [this] { ShowKeyboardHelp(); });
}

void WindowTools::ShowKeyboardHelp()
{
    auto* dialog = new QDialog(&w);
    dialog->setObjectName(QStringLiteral("dialogKeyboardHelp"));
    dialog->setWindowTitle(QStringLiteral("Keyboard and mouse"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto* text = new QTextBrowser(dialog);
    text->setObjectName(QStringLiteral("textKeyboardHelp"));
    text->setHtml(KeyboardHelpHtml());
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(text);
    dialog->resize(560, 480);
    dialog->open();
}

void WindowTools::ShowRange()
{
    const ChannelPtr channel = w.image ? ChannelChoice(w).Current() : nullptr;
    for (QWidget* control : std::initializer_list<QWidget*>{textRangeMin, textRangeMax, comboLut})
        control->setEnabled(channel != nullptr);
    if (!channel) {
        textRangeMin->clear();
        textRangeMax->clear();
        return;
    }
    const ImageReader::ValueMap map = w.reader->GetValueMap();
    const ImageReader::SampleType type = w.reader->GetSampleType();
    const auto show = [&](QLineEdit* box, int display) {
        // A range still waiting for autoscaling has nothing to show.
        const QString text = channel->m_min > channel->m_max
                                 ? QString()
                                 : QString::fromStdString(ImageReader::FormatValue(map.ToReal(display), type));
        if (!box->hasFocus() && box->text() != text)
            box->setText(text);
    };
    show(textRangeMin, channel->m_min);
    show(textRangeMax, channel->m_max);
    const int lut = static_cast<int>(channel->m_lut);
    if (comboLut->currentIndex() != lut)
        comboLut->setCurrentIndex(lut);
}

void WindowTools::TakeRange(int bound)
{
    const ChannelPtr channel = w.image ? ChannelChoice(w).Current() : nullptr;
    QLineEdit* box = bound == 0 ? textRangeMin : textRangeMax;
    bool ok = false;
    const double real = box->text().trimmed().toDouble(&ok);
    if (!channel || !ok || !std::isfinite(real)) {
        box->clearFocus();
        ShowRange();
        return;
    }
    const int display = w.reader->GetValueMap().ToDisplay(real);
    int& target = bound == 0 ? channel->m_min : channel->m_max;
    if (target == display)
        return;
    target = display;
    // A range the user typed stays: expanding it again would undo it.
    if (channel->m_autoscaling) {
        channel->m_autoscaling = false;
        w.ShowRangeMode();
    }
    w.RefreshPictures(ViewAll);
    w.pctHistogram->update();
}

void WindowTools::TakeLut()
{
    const ChannelPtr channel = w.image ? ChannelChoice(w).Current() : nullptr;
    if (!channel)
        return;
    const auto lut = static_cast<LookupTable>(std::max(comboLut->currentIndex(), 0));
    if (channel->m_lut == lut)
        return;
    channel->m_lut = lut;
    w.RefreshPictures(ViewAll);
}

QRect WindowTools::PictureArea() const
{
    const ViewAxes a = w.CurrentAxes();
    const int n = w.DimensionCount();
    if (!w.image || a.x < 0 || a.y < 0 || a.x >= n || a.y >= n || w.imagedelta.size() != 2)
        return QRect();
    const std::vector<double> zooms = w.properties.GetPixelZooms();
    const ImageReader::Vector size = w.image->GetSize();
    // The same rounding as the picture's drawing: the area never reaches past its pixels.
    const double left = w.imagedelta[0], top = w.imagedelta[1];
    const double right = left + size[a.x] * zooms[static_cast<size_t>(a.x)];
    const double bottom = top + size[a.y] * zooms[static_cast<size_t>(a.y)];
    // Far zooms and pans put the edges past the int range: they are clamped, then rounded.
    const auto edge = [](double v) { return static_cast<int>(std::clamp(v, -1e9, 1e9)); };
    const QRect picture(QPoint(edge(std::ceil(left)), edge(std::ceil(top))),
                        QPoint(edge(std::floor(right)) - 1, edge(std::floor(bottom)) - 1));
    return picture.intersected(w.pictureXY->rect());
}

OverlayOptions WindowTools::Overlays(double nmPerPixel) const
{
    OverlayOptions options;
    if (!w.image)
        return options;
    if (w.scaleBarToolStripMenuItem->isChecked())
        options.nmPerPixel = nmPerPixel;
    if (colourBarToolStripMenuItem->isChecked())
        options.colourBar = ChannelChoice(w).Current().get();
    options.map = w.reader->GetValueMap();
    options.type = w.reader->GetSampleType();
    return options;
}

bool WindowTools::SideViews() const
{
    return sideViewsToolStripMenuItem->isChecked();
}

} // namespace ImageViewer
