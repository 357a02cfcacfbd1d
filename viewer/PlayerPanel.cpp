// The window's player, stepping keys, position stamp and movie export.
#include "PlayerPanel.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QEventLoop>
#include <QFormLayout>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <chrono>
#include <cmath>

#include "KeyboardTable.h"
#include "PictureBox.h"
#include "PositionStamp.h"
#include "ViewMath.h"
#include "formImageViewer.h"

namespace ImageViewer {

namespace {

constexpr int kReadAheadSlot = 6;

// Seconds since the program started, on the steady clock.
double steadySeconds()
{
    static const auto start = std::chrono::steady_clock::now();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

PlayerPanel::PlayerPanel(formImageViewer& window) : w(window), m_player(*this, *this)
{
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { TickNow(); });

    m_play = new QAction(QStringLiteral("&Play"), &w);
    m_play->setObjectName(QStringLiteral("playToolStripMenuItem"));
    m_play->setCheckable(true);
    connect(m_play, &QAction::triggered, this, [this] { TogglePlay(-1); });
    auto* settings = new QAction(QStringLiteral("Play se&ttings..."), &w);
    settings->setObjectName(QStringLiteral("playSettingsToolStripMenuItem"));
    connect(settings, &QAction::triggered, this, [this] {
        m_settings->show();
        m_settings->raise();
    });
    m_stamp = new QAction(QStringLiteral("&Time stamp"), &w);
    m_stamp->setObjectName(QStringLiteral("timeStampToolStripMenuItem"));
    m_stamp->setCheckable(true);
    connect(m_stamp, &QAction::toggled, w.pictureXY, [this] { w.pictureXY->update(); });
    w.viewToolStripMenuItem->addSeparator();
    w.viewToolStripMenuItem->addActions({m_play, settings, m_stamp});
    w.addAction(m_play);
    ApplyShortcuts(w); // Space, from the one keyboard table

    auto* exportMovie = new QAction(QStringLiteral("Export &movie..."), &w);
    exportMovie->setObjectName(QStringLiteral("exportMovieToolStripMenuItem"));
    connect(exportMovie, &QAction::triggered, this, [this] { ExportMovieDialog(); });
    w.fileToolStripMenuItem->insertAction(w.exportViewsToolStripMenuItem, exportMovie);
    w.fileToolStripMenuItem->insertAction(exportMovie, w.exportViewsToolStripMenuItem);

    m_skipped = new QLabel(&w);
    m_skipped->setObjectName(QStringLiteral("labelPlaySkipped"));
    m_skipped->hide();
    w.statusBar()->addPermanentWidget(m_skipped);

    buildSettings();
    // Keys over the views step the dimension last used.
    for (QWidget* view : {static_cast<QWidget*>(w.pictureXY), static_cast<QWidget*>(w.pictureXZ),
                          static_cast<QWidget*>(w.pictureYZ)}) {
        view->setFocusPolicy(Qt::ClickFocus);
        view->installEventFilter(this);
    }
}

PlayerPanel::~PlayerPanel()
{
    m_timer->stop();
}

void PlayerPanel::buildSettings()
{
    m_settings = new QDialog(&w);
    m_settings->setObjectName(QStringLiteral("dialogPlaySettings"));
    m_settings->setWindowTitle(QStringLiteral("Play settings"));
    auto* form = new QFormLayout(m_settings);
    m_fps = new QDoubleSpinBox(m_settings);
    m_fps->setObjectName(QStringLiteral("spinFps"));
    m_fps->setRange(0.1, 1000.0);
    m_fps->setDecimals(1);
    m_fps->setValue(10.0);
    m_first = new QSpinBox(m_settings);
    m_first->setObjectName(QStringLiteral("spinFirst"));
    m_last = new QSpinBox(m_settings);
    m_last->setObjectName(QStringLiteral("spinLast"));
    m_mode = new QComboBox(m_settings);
    m_mode->setObjectName(QStringLiteral("comboPlayMode"));
    m_mode->addItems({QStringLiteral("Real time (skips frames)"), QStringLiteral("Every frame")});
    m_repeat = new QComboBox(m_settings);
    m_repeat->setObjectName(QStringLiteral("comboPlayRepeat"));
    m_repeat->addItems({QStringLiteral("Loop"), QStringLiteral("Back and forth"), QStringLiteral("Once")});
    form->addRow(QStringLiteral("Frames per second"), m_fps);
    form->addRow(QStringLiteral("First frame"), m_first);
    form->addRow(QStringLiteral("Last frame"), m_last);
    form->addRow(QStringLiteral("Mode"), m_mode);
    form->addRow(QStringLiteral("Repeat"), m_repeat);
    const auto changed = [this] { applySettings(); };
    connect(m_fps, &QDoubleSpinBox::valueChanged, this, changed);
    connect(m_first, &QSpinBox::valueChanged, this, changed);
    connect(m_last, &QSpinBox::valueChanged, this, changed);
    connect(m_mode, &QComboBox::currentIndexChanged, this, changed);
    connect(m_repeat, &QComboBox::currentIndexChanged, this, changed);
}

void PlayerPanel::applySettings()
{
    Core::PlaySettings s;
    s.fps = m_fps->value();
    s.first = m_first->value();
    s.last = m_last->value();
    s.mode = m_mode->currentIndex() == 1 ? Core::PlayMode::EveryFrame : Core::PlayMode::RealTime;
    s.repeat = m_repeat->currentIndex() == 1   ? Core::PlayRepeat::BackAndForth
               : m_repeat->currentIndex() == 2 ? Core::PlayRepeat::Once
                                                : Core::PlayRepeat::Loop;
    m_player.SetSettings(s);
    if (m_player.IsPlaying())
        schedule(Now());
}

void PlayerPanel::RowsBuilt(int n)
{
    Stop();
    m_ready.clear();
    m_lastDim = -1;
    m_playDim = -1; // the first play of the new image sets the range up
    for (QToolButton* b : m_buttons)
        delete b;
    m_buttons.assign(static_cast<size_t>(n), nullptr);
    auto* grid = static_cast<QGridLayout*>(w.panelLocationContent->layout());
    bool interval = false;
    for (int i = 0; i < n; ++i) {
        auto* b = new QToolButton(w.panelLocationContent);
        b->setObjectName(QStringLiteral("buttonDimPlay") + QString::number(i));
        b->setAutoRaise(true);
        b->setToolTip(QStringLiteral("Play or pause this dimension (Space)"));
        connect(b, &QToolButton::clicked, this, [this, i] { TogglePlay(i); });
        grid->addWidget(b, i + 1, 4);
        b->show();
        m_buttons[static_cast<size_t>(i)] = b;
        interval = interval || (w.reader && w.reader->GetDimInterval(static_cast<unsigned>(i)) > 0.0);
    }
    // Stamped by default where the file says how far apart its time points are.
    m_stamp->setChecked(interval);
    updateButtons();
}

void PlayerPanel::DimUsed(int d)
{
    if (m_quietStep)
        return;
    m_lastDim = d;
    // Moved by hand while it plays: playing goes on from there.
    if (m_player.IsPlaying() && d == m_playDim) {
        m_player.Play(w.trackDim[static_cast<size_t>(d)]->value());
        schedule(Now());
    }
}

int PlayerPanel::LastUsedDim() const
{
    const int n = static_cast<int>(w.trackDim.size());
    if (m_lastDim >= 0 && m_lastDim < n)
        return m_lastDim;
    // Before any use: the first dimension the XY view does not show that has several positions.
    const ViewAxes a = w.CurrentAxes();
    const ImageReader::Vector size = w.image ? w.image->GetSize() : ImageReader::Vector();
    for (int d = 0; d < n && d < static_cast<int>(size.size()); ++d)
        if (d != a.x && d != a.y && size[d] > 1)
            return d;
    return -1;
}

void PlayerPanel::updateButtons()
{
    for (size_t i = 0; i < m_buttons.size(); ++i) {
        const bool on = m_player.IsPlaying() && m_playDim == static_cast<int>(i);
        m_buttons[i]->setText(on ? QStringLiteral("\u275A\u275A") : QStringLiteral("\u25B6"));
    }
    m_play->setChecked(m_player.IsPlaying());
    // Real time says how many frames it passed over, also after a single pass ended.
    const bool realTime = m_player.Settings().mode == Core::PlayMode::RealTime;
    m_skipped->setText(QStringLiteral("%1 skipped").arg(m_player.Skipped()));
    m_skipped->setVisible(realTime && m_player.ShownCount() > 0);
}

void PlayerPanel::TogglePlay(int d)
{
    if (d < 0)
        d = m_player.IsPlaying() ? m_playDim : LastUsedDim();
    if (m_player.IsPlaying() && d == m_playDim) {
        Stop();
        return;
    }
    const ImageReader::Vector size = w.image ? w.image->GetSize() : ImageReader::Vector();
    if (d < 0 || d >= static_cast<int>(size.size()) || d >= static_cast<int>(w.trackDim.size()) || size[d] < 2) {
        Stop();
        return;
    }
    Stop();
    m_lastDim = d;
    if (d != m_playDim) {
        // A new dimension plays its whole range.
        const QSignalBlocker b1(m_first), b2(m_last);
        m_first->setRange(0, size[d] - 1);
        m_last->setRange(0, size[d] - 1);
        m_first->setValue(0);
        m_last->setValue(size[d] - 1);
    }
    m_playDim = d;
    applySettings();
    m_ready.clear();
    // Read-ahead holds up to half the memory budget, each frame the XY view's planes.
    const size_t planes = static_cast<size_t>(std::max(1, w.ChannelDimension() >= 0 ? size[w.ChannelDimension()] : 1));
    const size_t frameBytes = static_cast<size_t>(size[0]) * static_cast<size_t>(size.size() > 1 ? size[1] : 1) *
                              sizeof(unsigned short) * planes;
    m_player.SetReadAheadBudget(frameBytes, w.image->GetBudget() / 2);
    m_player.Play(w.trackDim[static_cast<size_t>(d)]->value());
    updateButtons();
    schedule(Now());
}

void PlayerPanel::Stop()
{
    m_timer->stop();
    m_player.Pause();
    if (w.work)
        w.work->Submit(kReadAheadSlot, [](ImageReader::ProjectionControl&, std::uint64_t) {});
    if (!m_buttons.empty())
        updateButtons();
}

void PlayerPanel::schedule(double due)
{
    if (!m_player.IsPlaying() || due < 0)
        return;
    const double ms = std::clamp((due - Now()) * 1000.0, 0.0, 60000.0);
    m_timer->start(static_cast<int>(std::ceil(ms)));
}

void PlayerPanel::TickNow()
{
    if (!m_player.IsPlaying())
        return;
    const double due = m_player.Tick();
    updateButtons();
    schedule(due);
}

void PlayerPanel::ViewArrived()
{
    if (m_player.IsPlaying())
        m_timer->start(0);
}

double PlayerPanel::Now()
{
    return m_clock ? m_clock->Now() : steadySeconds();
}

bool PlayerPanel::framePlanes(int index, std::vector<std::vector<int>>& positions) const
{
    positions.clear();
    const ViewAxes a = w.CurrentAxes();
    const ImageReader::Vector size = w.image->GetSize();
    const int n = static_cast<int>(size.size());
    if (m_playDim == a.x || m_playDim == a.y || a.x < 0 || a.y < 0 || m_playDim >= n)
        return false;
    std::vector<int> pv;
    for (int i = 0; i < n; ++i)
        pv.push_back(i == a.x || i == a.y || w.IsProjected(i) ? -1 : w.curslice[i]);
    pv[static_cast<size_t>(m_playDim)] = index;
    const int cd = w.ChannelDimension();
    if (cd < 0 || cd >= n || cd == m_playDim || !w.channels) {
        positions.push_back(pv);
        return true;
    }
    for (int c = 0; c < size[cd] && c < static_cast<int>(w.channels->size()); ++c) {
        if (!(*w.channels)[static_cast<size_t>(c)]->m_enabled && size[cd] < 10)
            continue;
        pv[static_cast<size_t>(cd)] = c;
        positions.push_back(pv);
    }
    return true;
}

bool PlayerPanel::IsFrameReady(int index)
{
    if (!w.image)
        return true;
    // Every frame is seen: the one on the screen must have its pictures first.
    if (m_player.Settings().mode == Core::PlayMode::EveryFrame)
        for (int view = 0; view < kViewCount; ++view)
            if (w.model->Record(view).jobActive)
                return false;
    std::vector<std::vector<int>> positions;
    return !framePlanes(index, positions) || m_ready.count(index) > 0;
}

void PlayerPanel::RequestFrames(const std::vector<int>& indices)
{
    if (!w.image || !w.work)
        return;
    // Each frame's planes through the cache, in the order they will be shown; a frame whose
    // planes cannot be read is reported too (it shows as missing rather than stalling).
    std::vector<std::pair<int, std::vector<std::vector<int>>>> frames;
    for (int index : indices) {
        if (m_ready.count(index))
            continue;
        std::vector<std::vector<int>> positions;
        if (framePlanes(index, positions))
            frames.emplace_back(index, std::move(positions));
    }
    if (frames.empty())
        return;
    const ViewAxes a = w.CurrentAxes();
    ImageReader::ImageBase<unsigned short>* const source = w.image.get();
    const std::uint64_t serial = w.imageSerial;
    formImageViewer* const window = &w;
    w.work->Submit(kReadAheadSlot, [window, source, frames, a, serial](ImageReader::ProjectionControl& control,
                                                                        std::uint64_t ticket) {
        for (const auto& [index, positions] : frames) {
            for (const auto& pv : positions) {
                if (control.cancel)
                    return;
                ImageReader::Vector fixed;
                for (int v : pv)
                    fixed.push_back(v);
                source->GetMaximumProjection(a.x, a.y, fixed, &control);
            }
            if (control.cancel)
                return;
            const int frame = index;
            QMetaObject::invokeMethod(
                window,
                [window, frame, ticket, serial] {
                    if (!window->player || window->imageSerial != serial ||
                        !window->work->IsCurrent(kReadAheadSlot, ticket))
                        return;
                    window->player->m_ready.insert(frame);
                    window->player->ViewArrived();
                },
                Qt::QueuedConnection);
        }
    });
}

void PlayerPanel::setDim(int d, int value)
{
    if (d < 0 || d >= static_cast<int>(w.trackDim.size()))
        return;
    w.trackDim[static_cast<size_t>(d)]->setValue(value);
}

void PlayerPanel::ShowFrame(int index)
{
    m_quietStep = true;
    setDim(m_playDim, index);
    m_quietStep = false;
}

bool PlayerPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && HandleKey(static_cast<QKeyEvent*>(event)))
        return true;
    return QObject::eventFilter(watched, event);
}

bool PlayerPanel::HandleKey(QKeyEvent* event)
{
    if (!w.image)
        return false;
    static const std::pair<int, Core::StepKey> keys[] = {
        {Qt::Key_Left, Core::StepKey::Previous},     {Qt::Key_Comma, Core::StepKey::Previous},
        {Qt::Key_Right, Core::StepKey::Next},        {Qt::Key_Period, Core::StepKey::Next},
        {Qt::Key_PageUp, Core::StepKey::PageForward}, {Qt::Key_PageDown, Core::StepKey::PageBack},
        {Qt::Key_Home, Core::StepKey::Home},         {Qt::Key_End, Core::StepKey::End}};
    const auto found = std::find_if(std::begin(keys), std::end(keys),
                                    [event](const auto& k) { return k.first == event->key(); });
    if (found == std::end(keys))
        return false;
    const Core::StepKey key = found->second;
    const ImageReader::Vector size = w.image->GetSize();
    int d = LastUsedDim();
    const bool alt = (event->modifiers() & Qt::AltModifier) &&
                     (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right);
    if (alt) {
        const ViewAxes a = w.CurrentAxes();
        std::vector<int> steppable;
        for (int i = 0; i < static_cast<int>(w.trackDim.size()) && i < static_cast<int>(size.size()); ++i)
            if (i != a.x && i != a.y && size[i] > 1)
                steppable.push_back(i);
        d = Core::NextStepDim(steppable, d);
    }
    if (d < 0 || d >= static_cast<int>(w.trackDim.size()))
        return true;
    const int now = w.trackDim[static_cast<size_t>(d)]->value();
    m_quietStep = alt;
    setDim(d, Core::SteppedIndex(now, size[d], key));
    m_quietStep = false;
    if (!alt)
        m_lastDim = d;
    return true;
}

int PlayerPanel::stampDim() const
{
    if (m_player.IsPlaying() || m_exporting)
        return m_playDim;
    return LastUsedDim();
}

QString PlayerPanel::StampText() const
{
    const int d = stampDim();
    if (!m_stamp->isChecked() || !w.reader || d < 0 || d >= static_cast<int>(w.curslice.size()))
        return QString();
    const auto u = static_cast<unsigned>(d);
    const double spacing = d < static_cast<int>(w.properties.m_pixelsize.size()) ? w.properties.m_pixelsize[u] : 0.0;
    return QString::fromStdString(Core::PositionStamp(w.reader->GetDimName(u), w.curslice[d], w.reader->GetDimOrigin(u),
                                                      w.reader->GetDimInterval(u), spacing));
}

void PlayerPanel::PaintOverlays(QPainter& painter, const QRect& area, const QString& stamp, double nmPerPixel,
                                bool scaleBar)
{
    painter.save();
    painter.setClipRect(area);
    painter.setRenderHint(QPainter::Antialiasing, true);
    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    const QFontMetrics fm(font);
    const int margin = 8, pad = 4;
    // Dark plates behind white marks read on bright and dark pictures alike.
    if (!stamp.isEmpty()) {
        const QRect box(area.left() + margin, area.top() + margin, fm.horizontalAdvance(stamp) + 2 * pad,
                        fm.height() + 2 * pad);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 150));
        painter.drawRoundedRect(box, 3, 3);
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignCenter, stamp);
    }
    if (scaleBar && nmPerPixel > 0) {
        const ScaleBar bar = ChooseScaleBar(nmPerPixel, area.width() / 4);
        if (bar.pixels >= 8) {
            const QString label = QString::fromStdString(bar.label);
            const int thickness = 4;
            const int boxW = std::max(bar.pixels, fm.horizontalAdvance(label)) + 2 * pad;
            const int boxH = fm.height() + thickness + 3 * pad;
            const QRect box(area.right() + 1 - margin - boxW, area.bottom() + 1 - margin - boxH, boxW, boxH);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(0, 0, 0, 150));
            painter.drawRoundedRect(box, 3, 3);
            painter.setBrush(Qt::white);
            painter.drawRect(QRect(box.right() + 1 - pad - bar.pixels, box.bottom() + 1 - pad - thickness, bar.pixels,
                                   thickness));
            painter.setPen(Qt::white);
            painter.drawText(QRect(box.left(), box.top() + pad, box.width(), fm.height()), Qt::AlignCenter, label);
        }
    }
    painter.restore();
}

void PlayerPanel::StampExport(QImage& picture, int xyWidth, int xyHeight) const
{
    const QString text = StampText();
    if (text.isEmpty() || picture.isNull())
        return;
    QPainter painter(&picture);
    PaintOverlays(painter, QRect(picture.width() - xyWidth, picture.height() - xyHeight, xyWidth, xyHeight), text, 0,
                  false);
}

void PlayerPanel::PaintViewStamp(QPainter& painter) const
{
    const QString text = StampText();
    const ViewAxes a = w.CurrentAxes();
    const int n = static_cast<int>(w.properties.m_pixelsize.size());
    if (text.isEmpty() || !w.image || a.x < 0 || a.y < 0 || a.x >= n || a.y >= n || w.GDIImageXY.isNull())
        return;
    // Inside the drawn picture, where it is on the screen.
    const std::vector<double> zooms = w.properties.GetPixelZooms();
    const ImageReader::Vector size = w.image->GetSize();
    const QRect drawn(w.imagedelta[0], w.imagedelta[1],
                      static_cast<int>(std::lround(size[a.x] * zooms[static_cast<size_t>(a.x)])),
                      static_cast<int>(std::lround(size[a.y] * zooms[static_cast<size_t>(a.y)])));
    PaintOverlays(painter, drawn.intersected(w.pictureXY->rect()), text, 0, false);
}

} // namespace ImageViewer
