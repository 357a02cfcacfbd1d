#pragma once

#include <QColor>
#include <QMainWindow>
#include <QStringList>
#include <memory>
#include <mutex>
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
struct OpenIndicator;
struct OpenJob;
class PlayerPanel;
class RegionsPanel;
class VolumePanel;
class WindowTools;

// The main window: three orthogonal views through a cursor, the dimension lists, the
// colour, histogram and profile panels and the per-dimension navigation rows.
// The implementation is split by concern over formImageViewer_*.cpp.
class formImageViewer : public QMainWindow, public formImageViewerState, public formImageViewerControls
{
public:
    // args: the command line without the program name; the first names a file to open.
    explicit formImageViewer(const QStringList& args = {}, QWidget* parent = nullptr);
    ~formImageViewer() override;
    // Playing, stepping keys, the position stamp and movie export (PlayerPanel.h).
    std::unique_ptr<PlayerPanel> player;

    // Makes the file, folder or web address at `path` the current image: StartOpen, and for
    // a local path waits until it is shown or refused (tests, tools, scripted use). A web
    // address returns at once (WaitForOpen).
    void LoadImageW(const QString& path);
    // Opens `path` on the process's pool and returns at once; the window stays usable, shows
    // progress with a Cancel button (Esc too) and keeps the current image until the new one
    // is there. The newest open wins (older ones are stopped). Menus, drops, the command line.
    void StartOpen(const QString& path);
    // Stops the open under way, keeping what is shown; false when none is.
    bool CancelOpen();
    // File > Reload: opens the current image again, keeping the view where it still fits, and
    // asks a server again at once for what failed.
    void ReloadImage();
    // Makes an already opened reader the current image (LoadImageW's second half); the
    // window takes ownership. Used by LoadImageW and by tests and benchmarks with
    // synthetic sources.
    void LoadReader(std::unique_ptr<ImageReader::ImageReaderBase<unsigned short>> newReader, const QString& title);
    // Blocks until the newest open under way has been shown or refused (tests, tools).
    void WaitForOpen();

    // ---- views (formImageViewer_Views.cpp) ----
    // Has the model bring the views in `mask` (ViewBit) up to date from the controls' state.
    void RefreshPictures(int mask);
    // The spectral calibration typed in the spectrum page; false when it is not usable.
    bool ReadSpectrumCalibration(double& p1, double& w1, double& p2, double& w2) const;
    void PaintPicture(const QImage& bmp, const ImageReader::Vector& delta, const ImageReader::Vector& dims,
                      PictureBox* pct, QPainter& e);
    void pictureXY_Paint(QPainter& e);
    void pictureXZ_Paint(QPainter& e);
    void pictureYZ_Paint(QPainter& e);
    void UpdateLayout();
    // Resolution levels: how many the image has (1 for a plain image), the cached source of
    // one, and the level view `index` (XY, XZ, YZ) shows at the current zoom.
    int LevelCount() const;
    ImageReader::ImageBase<unsigned short>& LevelImage(int level);
    int ViewLevel(int index);
    // Recomputes the views whose matching level changed with the zoom.
    void RefreshLevels();

    // Re-reads the memory budget (command line, else preferences, else the default) and
    // applies it to the open image at once; for the preferences dialog.
    void ApplyCacheBudget();
    // Blocks until background view work is done and its pictures are shown (tests,
    // benchmarks, scripted use).
    void WaitForViews();

    // ---- navigation (formImageViewer_Navigation.cpp) ----
    void comboDimX_SelectedIndexChanged();
    void comboDimY_SelectedIndexChanged();
    void comboDimXZ_SelectedIndexChanged();
    void comboDimYZ_SelectedIndexChanged();
    void comboDimP_SelectedIndexChanged();
    // A view axis changed: panAxis (0 x, 1 y, -1 a side axis) starts over, views in mask.
    void AxisChanged(int panAxis, int mask);
    void comboProj_SelectedIndexChanged();
    void checkDimProj_CheckChanged(QCheckBox* sender);
    void trackDim_Scroll(QSlider* sender);
    void textDimNum_KeyPress(QLineEdit* sender);
    void pictureXY_MouseDown(QMouseEvent* e);
    void pictureXY_MouseMove(QMouseEvent* e);
    void pictureXY_MouseEnter();
    void pictureXY_MouseWheel(QWheelEvent* e);
    void pictureXZ_MouseMove(QMouseEvent* e);
    void pictureYZ_MouseMove(QMouseEvent* e);
    void UpdateLocation();
    // Repaints the views whose bits are not in `mask`.
    void RepaintOthers(int mask);

    // ---- fit and zoom (formImageViewer_Navigation.cpp) ----
    // Zooms so that the XY view and its side views fill the view table, keeping the physical
    // aspect, centres the picture and keeps doing so on resizes until the user zooms or pans.
    void FitToWindow();
    // One screen pixel per image pixel of the smallest pixel size, about the view centre.
    void ActualPixels();
    // Multiplies the zoom by `factor` keeping the image point at `at` (XY view coordinates)
    // where it is on the screen, also when the side views change size.
    void ZoomAbout(double factor, QPointF at);
    // Zoom in or out by half an octave about the view centre.
    void ZoomStep(int direction);

    // ---- readouts (formImageViewer_Status.cpp) ----
    // Cursor and mouse positions in pixels and physical units, and the value of every
    // channel under the mouse. `mouse` is a full image position; empty when off the image.
    void UpdateStatus();
    // The real value at a full position (x, y, then the other coordinates); nothing when the
    // position is outside the image or its plane is missing.
    std::optional<double> RealValueAt(const ImageReader::Vector& position);
    // RealValueAt for data whose reads may wait (read on the worker).
    std::optional<double> WaitedValueAt(const ImageReader::Vector& position);
    // Whether the planes of the block [start, end) are at hand for a measurement on the
    // window's thread. For data whose reads may wait they are read on the worker first, and
    // the measurement is made again when they are there.
    bool BlockAtHand(const ImageReader::Vector& start, const ImageReader::Vector& end);
    // lblPixelValue: the value at the cursor, "missing", or an ellipsis while it comes.
    void ShowCursorValue();
    // The image's planes may take long to come (a network, a pyramid's full level): the
    // window's thread then only uses what is at hand.
    bool ReadsMayWait() const;
    // What the view with these axes shows at the current cursor and projection settings,
    // read from resolution level `level`.
    ViewKey CurrentViewKey(int xdim, int ydim, int level = 0) const;
    // dx, dy: the dimensions the mouse gives; the others follow the cursor.
    void SetMousePosition(const ImageReader::Vector& mouse, int dx = -1, int dy = -1);
    void ClearReadouts();

    // ---- menus, files and dialogs (formImageViewer_Menus.cpp, formImageViewer_Files.cpp) ----
    void openRecentToolStripMenuItem_AboutToShow();
    void settingsToolStripMenuItem_Click();
    void exportViewToolStripMenuItem_Click();
    void exportViewsToolStripMenuItem_Click();
    void copyViewToolStripMenuItem_Click();
    void scaleBarToolStripMenuItem_Toggled();
    // The XY view (or all three views as laid out) at the picture's own resolution: one
    // pixel per image pixel of the smallest pixel size, without cursor lines.
    QImage ViewImage(bool allViews) const;
    // Writes ViewImage to `path`; the format follows the extension (png, tif, tiff).
    bool ExportView(const QString& path, bool allViews) const;
    // The recent-file list, newest first, as kept in the settings.
    QStringList RecentFiles() const;
    void AddRecentFile(const QString& path);
    // The open dialog's name filters, "All supported images" first.
    static QStringList OpenFilters();
    // The folder the open dialog starts in: the one last used, else the home folder.
    static QString OpenFolder();

    // ---- loading and menus (formImageViewer_Load.cpp) ----
    void formImageViewer_Load();
    void formImageViewer_Resize();
    void openToolStripMenuItem_Click();
    // File > Open URL...: asks for an http(s) address and opens it.
    void openUrlToolStripMenuItem_Click();
    static bool IsWebAddress(const QString& text);
    void fileToolStripMenuItem_DropDownOpening();
    void exitToolStripMenuItem_Click();
    void infoToolStripMenuItem_Click();

    // ---- channel, histogram and profile panels, properties dialog ----
    void comboDimC_SelectedIndexChanged();
    void listChannels_SelectedIndexChanged();
    void textChannel_TextChanged();
    void labelChannelColor_Click();
    void listChannels_ItemCheck(QListWidgetItem* item);
    void listChannels_MouseClick(QMouseEvent* e);
    void listChannels_MouseUp(QMouseEvent* e);
    void checkAutoExpand_CheckedChanged();
    void trackGamma_Scroll();
    void pctHistogram_Paint(QPainter& e);
    void pctHistogram_MouseDown(QMouseEvent* e);
    void pctHistogram_MouseMove(QMouseEvent* e);
    void pctHistogram_MouseUp(QMouseEvent* e);
    void UpdateHistogram();
    // Sets the display range of every visible channel (allChannels) or of the selected one
    // to the 0.1 % and 99.9 % percentiles of the current picture; autoscaling stops for them.
    void AutoRange(bool allChannels);
    void buttonAutoRange_Click();
    void pctHistogram_DoubleClick(QMouseEvent* e);
    // Shows in checkAutoExpand whether every, no or some channel expands its range.
    void ShowRangeMode();
    void textSpectrum_TextChanged();
    void UpdateProfile();
    // The current measurement again: the region histogram or the line profile.
    void UpdateMeasurement();
    // The cursor-profile step of RefreshPictures: rebuilds or drops cursorprofile, then
    // repaints pictureProfile.
    void UpdateCursorProfile();
    void pictureProfile_Paint(QPainter& e);
    void propertiesToolStripMenuItem_Click();

    // ---- the model's state (formImageViewer_State.cpp) ----
    // The state the controls show, and the controls set from a state (one place, both ways).
    ViewState ViewStateFromWindow() const;
    DisplayState DisplayFromWindow() const;
    void ApplyViewState(const ViewState& state, const DisplayState& display);
    // Hands the controls' state to the model, which tells its listeners what changed; false
    // when the model cannot take it.
    bool SyncModel();
    // View state files; empty on success, else why not.
    QString SaveViewState(const QString& path) const;
    QString OpenViewState(const QString& path);

    // Regions, their measurements and files (RegionsPanel.cpp).
    std::unique_ptr<RegionsPanel> regionsPanel;

    // ---- helpers shared by the concerns ----
    // The axis choices of the four dimension lists (-1 without selection).
    ViewAxes CurrentAxes() const;
    // cd: selected index of comboDimC minus 1 (-1 for "(none)", -2 without selection).
    int ChannelDimension() const;
    // True when the channel dimension has 10 or more entries (spectral colouring).
    bool IsSpectral() const;
    // Dimension d is collapsed by maximum in the views: its box is checked and the mode is "max".
    bool IsProjected(int d) const;
    // Number of image dimensions (0 without image).
    int DimensionCount() const;

    // Range boxes, lookup tables, colour bar, side views and keyboard help (WindowTools.h).
    std::unique_ptr<WindowTools> tools;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void InitializeComponent();
    void BuildMenus();
    void BuildStateMenu(QMenu* file, QAction* before);
    void BuildColorPanel();
    void BuildLocationPanel();
    void BuildStatusBar();
    void WireMenus();
    // The channel colours new images start with (settings, or red, green, blue, ...).
    std::vector<QColor> DefaultChannelColors() const;
    // Paints the scale bar into the XY view when pixel sizes are known.
    void PaintScaleBar(QPainter& e);
    void WireEvents();
    // Tears down the current image, its rows and readers (first step of a load).
    void UnloadImage();
    // Channel colours, display windows and switches from the file's own hints.
    void SeedChannels(bool expand);
    void BuildDimensionRows(int n);
    void AdjustLocationContentSize();
    // Every open runs on the process's pool (formImageViewer_Open.cpp); FinishOpen shows the
    // newest result.
    void SetUpOpening();
    void FinishOpen(const std::shared_ptr<OpenJob>& job, ImageReader::OpenedImage opened);
    void ShowOpenProgress();
    // The second half of every open: the image as the current one, or the reason it failed.
    void ShowOpened(const QString& path, ImageReader::OpenedImage opened);
    struct OpenGuard
    {
        std::mutex mutex;
        bool alive = true;
    };
    std::shared_ptr<OpenGuard> openGuard = std::make_shared<OpenGuard>();
    std::shared_ptr<OpenJob> currentOpen; // the newest open under way
    std::unique_ptr<OpenIndicator> openIndicator;
    QString openedPath; // what the current image was opened from (Reload)
    // Shows a one-line note about a file that could not be opened.
    void ReportOpenFailure(const QString& path, const QString& reason);
    // View data and background work (formImageViewer_Views.cpp).
    void SetUpViewWork();
    void StopViewWork();
    // Shows what the model changed: its pictures as they arrive, the ranges it widened.
    void ModelChanged(const ChangeSet& change);
    bool refreshing = false; // inside RefreshPictures, which recomputes (and repaints) refreshMask
    int refreshMask = 0;
    // Says once per image that planes are missing or that something was too big to compute.
    void NoteImageProblems(bool refusedView);
    QTimer* progressTimer = nullptr;
    bool progressShown = false;
    bool missingReported = false;
    bool troubleReported = false;
    bool refusedReported = false;
    // What the XY view's Shift- and Ctrl-drags measure with the current axes and channel choice.
    Measurement XYMeasurement() const;
    std::unique_ptr<VolumePanel> volume3D; // the 3-D view (VolumePanel.h)
};

} // namespace ImageViewer
