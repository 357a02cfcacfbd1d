#pragma once

#include <QObject>
#include <QRect>
#include <QString>
#include <set>
#include <vector>

#include "MovieWriter.h"
#include "Player.h"
#include "StepKeys.h"

class QAction;
class QComboBox;
class QDialog;
class QDoubleSpinBox;
class QImage;
class QKeyEvent;
class QLabel;
class QPainter;
class QSpinBox;
class QTimer;
class QToolButton;

namespace ImageViewer {

class formImageViewer;

// What File > Export movie... writes.
struct MovieExportSettings
{
    int dim = -1;
    int first = 0;
    int last = 0;
    double fps = 10.0;
    bool allViews = false;
    bool cursorLines = false;
    bool scaleBar = true;
    bool stamp = true;
    QString output; // a folder ending in '/', or .avi, .gif, .webp, .mp4
};

// The window's player: play/pause per dimension row and on the View menu, the play settings,
// stepping keys over the views, the position stamp on the XY view and movie export. The
// window drives the headless Core::Player; this class is its frame source (a frame is ready
// when its planes were read ahead on the worker, or are in the cache) and its clock.
class PlayerPanel : public QObject, public Core::FrameSource, public Core::PlayClock
{
public:
    explicit PlayerPanel(formImageViewer& window);
    ~PlayerPanel() override;

    // The dimension rows were built for a new image (n dimensions).
    void RowsBuilt(int n);
    // A dimension's position was moved by the user (slider, keys); Space plays it.
    void DimUsed(int d);
    // A view's picture arrived: a waiting frame may be ready now.
    void ViewArrived();

    // Plays or pauses dimension d (-1: the one last used).
    void TogglePlay(int d = -1);
    void Stop();
    bool IsPlaying() const { return m_player.IsPlaying(); }
    int PlayingDim() const { return m_playDim; }
    // The dimension Space plays and the keys step.
    int LastUsedDim() const;
    const Core::Player& Engine() const { return m_player; }
    // Shows what is due now and schedules the next tick (the timer calls it; tests too).
    void TickNow();
    // Another clock than the steady one (tests); null returns to it.
    void SetClock(Core::PlayClock* clock) { m_clock = clock; }

    // Steps over the views; true when the key was one of the stepping keys.
    bool HandleKey(QKeyEvent* event);

    // "t = 00:00:01.5" for the stamped dimension at the current position; empty when the
    // stamp is off or there is nothing to stamp.
    QString StampText() const;
    // Draws the stamp and (on request) the scale bar inside `area`, where the XY picture lies
    // at `nmPerPixel` (0: unknown) along x.
    static void PaintOverlays(QPainter& painter, const QRect& area, const QString& stamp, double nmPerPixel,
                              bool scaleBar);
    // Stamps an exported picture whose XY view is its bottom-right w x h pixels.
    void StampExport(QImage& picture, int xyWidth, int xyHeight) const;
    // The stamp on the window's XY view, inside the drawn picture.
    void PaintViewStamp(QPainter& painter) const;

    // Writes the movie, rendered from the model's state on a thread of its own, with a
    // progress dialog that can cancel.
    Core::MovieResult ExportMovie(const MovieExportSettings& settings);
    void ExportMovieDialog();

    // Core::FrameSource
    bool IsFrameReady(int index) override;
    void RequestFrames(const std::vector<int>& indices) override;
    void ShowFrame(int index) override;
    // Core::PlayClock
    double Now() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildSettings();
    void applySettings();
    void updateButtons();
    void schedule(double due);
    // The positions of the XY view's planes for frame `index` of the playing dimension;
    // false when the frame does not change the XY view's planes.
    bool framePlanes(int index, std::vector<std::vector<int>>& positions) const;
    int stampDim() const;
    void setDim(int d, int value);

    formImageViewer& w;
    Core::Player m_player;
    Core::PlayClock* m_clock = nullptr;
    QTimer* m_timer = nullptr;
    int m_playDim = -1;
    int m_lastDim = -1;
    bool m_quietStep = false; // a step of the Alt dimension leaves the last used one alone
    std::set<int> m_ready;    // frames read ahead since playing started
    std::vector<QToolButton*> m_buttons;
    QDialog* m_settings = nullptr;
    QSpinBox* m_first = nullptr;
    QSpinBox* m_last = nullptr;
    QDoubleSpinBox* m_fps = nullptr;
    QComboBox* m_mode = nullptr;
    QComboBox* m_repeat = nullptr;
    QLabel* m_skipped = nullptr;
    QAction* m_play = nullptr;
    QAction* m_stamp = nullptr;
    bool m_exporting = false;
};

} // namespace ImageViewer
