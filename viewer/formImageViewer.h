#pragma once

#include <QColor>
#include <QMainWindow>
#include <QStringList>
#include <memory>
#include <optional>

#include "OpenImage.h"
#include "formImageViewerControls.h"
#include "formImageViewerState.h"

class QListWidgetItem;
class QMouseEvent;
class QPainter;
class QWheelEvent;

namespace ImageViewer {

class Measurement;
class PlayerPanel;
class RegionsPanel;
class WindowTools;

// The main window: a view of its model (`model`), which holds the image, the view and
// display state and the views' pictures. It builds the controls, hands their state to the
// model and repaints when the model says what changed. The implementation is split by
// concern over formImageViewer_*.cpp; the panels (PlayerPanel, WindowTools, RegionsPanel,
// VolumePanel, ChannelChoice) share its private state.
class formImageViewer : public QMainWindow,
                        public formImageViewerState,
                        public formImageViewerControls,
                        private formImageViewerInternals
{
    friend class ChannelChoice;
    friend class PlayerPanel;
    friend class RegionsPanel;
    friend class PictureView;
    friend class VolumePanel;
    friend class WindowTools;

public:
    // args: the command line without the program name; the first names a file to open.
    explicit formImageViewer(const QStringList& args = {}, QWidget* parent = nullptr);
    ~formImageViewer() override;
    // The panels: playing and movies, range tools and side views, regions.
    std::unique_ptr<PlayerPanel> player;
    std::unique_ptr<WindowTools> tools;
    std::unique_ptr<RegionsPanel> regionsPanel;

    // Makes `path` the current image: StartOpen, and for a local path waits until it is
    // shown or refused. A web address returns at once (WaitForOpen).
    void LoadImageW(const QString& path);
    // Opens `path` on the process's pool and returns at once, keeping the current image
    // until the new one is there; the newest open wins. Menus, drops, the command line.
    void StartOpen(const QString& path);
    bool CancelOpen();  // keeps what is shown; false when no open is under way
    void ReloadImage(); // the current image again, the view kept where it still fits
    // Makes an already opened reader the current image; the window takes ownership.
    void LoadReader(std::unique_ptr<ImageReader::ImageReaderBase<unsigned short>> newReader, const QString& title);
    void WaitForOpen(); // until the newest open under way is shown or refused
    // Has the model bring the views in `mask` (ViewBit) up to date from the controls' state.
    void RefreshPictures(int mask);
    void UpdateLayout();
    void WaitForViews(); // until background work is done and its pictures are shown
    void UpdateLocation();
    int LevelCount() const;
    void ApplyCacheBudget(); // the command line's, the preferences' or the default budget, at once
    const formImageViewerInternals& Internals() const { return *this; } // for tests that look inside

    // ---- fit, zoom and the mouse (formImageViewer_Navigation.cpp) ----
    void FitToWindow(); // fills the view table, keeping the physical aspect, until zoom or pan
    void ActualPixels(); // one screen pixel per image pixel of the smallest pixel size
    // Multiplies the zoom by `factor` keeping the image point at `at` (XY view coordinates).
    void ZoomAbout(double factor, QPointF at);
    void ZoomStep(int direction); // half an octave about the view centre
    // The mouse at full image position `mouse` (empty: off the image); dx, dy its dimensions.
    void SetMousePosition(const ImageReader::Vector& mouse, int dx = -1, int dy = -1);
    bool ReadsMayWait() const; // planes may take long to come (a network, a pyramid level)
    // What the view with these axes shows at the current state, read from level `level`.
    ViewKey CurrentViewKey(int xdim, int ydim, int level = 0) const;

    // ---- files, export, view state ----
    // The XY view (or all three as laid out) at one pixel per image pixel, without cursor lines.
    QImage ViewImage(bool allViews) const;
    bool ExportView(const QString& path, bool allViews) const; // png, tif or tiff by extension
    QStringList RecentFiles() const;
    static QStringList OpenFilters(); // "All supported images" first
    static QString OpenFolder();      // the one last used, else the home folder
    static bool IsWebAddress(const QString& text);
    // The state the controls show, and the controls set from a state (one place, both ways).
    ViewState ViewStateFromWindow() const;
    DisplayState DisplayFromWindow() const;
    void ApplyViewState(const ViewState& state, const DisplayState& display);
    QString SaveViewState(const QString& path) const; // view state files: empty, or why not
    QString OpenViewState(const QString& path);

    // ---- the axis and channel choices ----
    ViewAxes CurrentAxes() const;
    int ChannelDimension() const; // comboDimC's index minus 1 (-1 "(none)", -2 no selection)
    bool IsSpectral() const;      // the channel dimension has 10 or more entries
    bool IsProjected(int d) const;
    int DimensionCount() const;

    // Handlers by their long-standing names that tests call (the others are private).
    void fileToolStripMenuItem_DropDownOpening(), labelChannelColor_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // ---- building and wiring (formImageViewer_Layout.cpp, _Menus.cpp, _State.cpp) ----
    void InitializeComponent();
    void BuildMenus();
    void BuildStateMenu(QMenu* file, QAction* before);
    void BuildColorPanel();
    void BuildLocationPanel();
    void BuildStatusBar();
    void WireMenus();
    void WireEvents();
    std::vector<QColor> DefaultChannelColors() const; // settings, or red, green, blue, ...
    bool SyncModel(); // the controls' state to the model; false when it cannot take it
    // A control's edit: SyncModel, then `set`; the notification brings the views up to date
    // (FollowModel), and the views in `redraw` whatever changed.
    void EditModel(const std::function<bool(Viewer&)>& set, int redraw = 0);
    void FollowModel(int mask); // the controls show the model's cursor and projected set

    // ---- loading (formImageViewer_Load.cpp) ----
    void UnloadImage();
    void SeedChannels(bool expand); // colours, windows and switches from the file's hints
    void BuildDimensionRows(int n);
    void AdjustLocationContentSize();
    void SetUpOpening(); // opens run on the process's pool; FinishOpen shows the newest result
    void FinishOpen(const std::shared_ptr<OpenJob>& job, ImageReader::OpenedImage opened);
    void ShowOpenProgress();
    void ShowOpened(const QString& path, ImageReader::OpenedImage opened);
    void ReportOpenFailure(const QString& path, const QString& reason);
    void AddRecentFile(const QString& path);

    // ---- views (formImageViewer_Views.cpp) ----
    void SetUpViewWork();
    void StopViewWork();
    void ModelChanged(const ChangeSet& change); // pictures as they arrive, ranges widened
    void NoteImageProblems(bool refusedView); // once per image: missing planes, refused views
    bool ReadSpectrumCalibration(double& p1, double& w1, double& p2, double& w2) const;
    int ViewLevel(int index); // the resolution level view `index` shows at the current zoom
    void RefreshLevels();     // views whose matching level changed with the zoom
    void RepaintOthers(int mask);

    // ---- readouts (formImageViewer_Status.cpp) ----
    void UpdateStatus();
    // The real value at a full position; nothing outside the image or on a missing plane.
    std::optional<double> RealValueAt(const ImageReader::Vector& position);
    std::optional<double> WaitedValueAt(const ImageReader::Vector& position); // read on the worker
    // Whether the block's planes are at hand (else they are read on the worker first).
    bool BlockAtHand(const ImageReader::Vector& start, const ImageReader::Vector& end);
    void ShowCursorValue();
    void ClearReadouts();

    // ---- measurements (formImageViewer_Histogram.cpp, _Profile.cpp) ----
    void UpdateHistogram();
    void UpdateProfile();
    void UpdateMeasurement(); // the region histogram or the line profile again
    void UpdateCursorProfile();
    // Display ranges to the picture's 0.1 % and 99.9 % percentiles; autoscaling stops.
    void AutoRange(bool allChannels);
    void ShowRangeMode(); // checkAutoExpand: every, no or some channel expands
    Measurement XYMeasurement() const;

    // ---- handlers by their long-standing names (wired in WireEvents and WireMenus) ----
    void formImageViewer_Load(), formImageViewer_Resize();
    void comboDimX_SelectedIndexChanged(), comboDimY_SelectedIndexChanged(), comboDimXZ_SelectedIndexChanged(),
        comboDimYZ_SelectedIndexChanged(), comboDimP_SelectedIndexChanged(), comboProj_SelectedIndexChanged(),
        comboDimC_SelectedIndexChanged();
    void AxisChanged(int panAxis, int mask); // panAxis 0 x, 1 y, -1 a side axis
    void checkDimProj_CheckChanged(QCheckBox* sender);
    void trackDim_Scroll(QSlider* sender);
    void textDimNum_KeyPress(QLineEdit* sender);
    void pctHistogram_Paint(QPainter& e), pictureProfile_Paint(QPainter& e);
    void pictureXY_MouseDown(QMouseEvent* e), listChannels_MouseClick(QMouseEvent* e), listChannels_MouseUp(QMouseEvent* e),
        pctHistogram_MouseDown(QMouseEvent* e), pctHistogram_MouseMove(QMouseEvent* e),
        pctHistogram_MouseUp(QMouseEvent* e), pctHistogram_DoubleClick(QMouseEvent* e);
    // The mouse over view `view` (PictureView): the status bar follows it, a left drag moves
    // the cursor (on XY also measures, a middle drag pans).
    void ViewMouseMove(int view, QMouseEvent* e);
    void pictureXY_MouseWheel(QWheelEvent* e);
    void openRecentToolStripMenuItem_AboutToShow(), settingsToolStripMenuItem_Click(),
        exportViewToolStripMenuItem_Click(), exportViewsToolStripMenuItem_Click(), copyViewToolStripMenuItem_Click(),
        scaleBarToolStripMenuItem_Toggled(), openToolStripMenuItem_Click(), openUrlToolStripMenuItem_Click(),
        exitToolStripMenuItem_Click(), infoToolStripMenuItem_Click(), propertiesToolStripMenuItem_Click();
    void listChannels_SelectedIndexChanged(), textChannel_TextChanged(), checkAutoExpand_CheckedChanged(),
        trackGamma_Scroll(), textSpectrum_TextChanged(), buttonAutoRange_Click();
    void listChannels_ItemCheck(QListWidgetItem* item);
};

} // namespace ImageViewer
