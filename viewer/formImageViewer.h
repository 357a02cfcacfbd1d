#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QMainWindow>
#include <QStringList>
#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "HistogramPanel.h"
#include "HistogramRenderer.h"
#include "ImageChannel.h"
#include "ImageProperties.h"
#include "ImageReaderBase.h"
#include "OpenImage.h"
#include "ProfileRenderer.h"
#include "RGBABuffer.h"
#include "SliceCache.h"
#include "Vector.h"
#include "ViewMath.h"
#include "ViewWork.h"
#include "Viewer.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QMenuBar;
class QMouseEvent;
class QPushButton;
class QPainter;
class QScrollArea;
class QSlider;
class QSplitter;
class QTabWidget;
class QTimer;
class QWheelEvent;

namespace ImageViewer {

class AnchorPanel;
class Measurement;
class PictureBox;
class TablePanel;

// The main window: three orthogonal views through a cursor, the dimension lists, the
// colour, histogram and profile panels and the per-dimension navigation rows.
// The implementation is split by concern over formImageViewer_*.cpp.
class formImageViewer : public QMainWindow
{
public:
    // args: the command line without the program name; the first names a file to open.
    explicit formImageViewer(const QStringList& args = {}, QWidget* parent = nullptr);
    ~formImageViewer() override;

    // Makes the file at `path` the current image. The reader is chosen by the last character.
    void LoadImageW(const QString& path);
    // Makes an already opened reader the current image (LoadImageW's second half); the
    // window takes ownership. Used by LoadImageW and by tests and benchmarks with
    // synthetic sources.
    void LoadReader(std::unique_ptr<ImageReader::ImageReaderBase<unsigned short>> newReader, const QString& title);
    // Blocks until opens of web addresses under way have been shown or refused (tests).
    void WaitForOpen();

    // ---- views (formImageViewer_Views.cpp) ----
    void RefreshPictures(int mask);
    RGBABuffer RefreshPicture(int xdim, int ydim);
    // The spectral calibration typed in the spectrum page; false when it is not usable.
    bool ReadSpectrumCalibration(double& p1, double& w1, double& p2, double& w2) const;
    // A spectral view of `source` through `cursor`, widening `global`'s range under
    // autoscaling; any thread (it touches no widget).
    static RGBABuffer RenderSpectrum(ImageReader::ImageBase<unsigned short>& source, int xdim, int ydim, int cd,
                                     const ImageReader::Vector& cursor, double p1, double w1, double p2, double w2,
                                     ImageChannel& global);
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
    // Set by RealValueAt when it did not wait for a plane that is still coming.
    bool valuePending = false;
    // The plane last asked of the worker for a readout, and the worker slot for such reads.
    ImageReader::Vector requestedPlane;
    static constexpr int kValueSlot = 3;
    // The cursor profile's data, kept so that a display change only re-colours it.
    struct CursorProfileData
    {
        int pd = -1;
        int c = -1;
        ImageReader::Vector pos;
        std::uint64_t image = 0;
        bool have = false;
        ImageReader::ImageSlice<unsigned short> slice;
        bool Same(const CursorProfileData& o) const { return pd == o.pd && c == o.c && pos == o.pos && image == o.image; }
    } cursorProfileData;
    static constexpr int kProfileSlot = 4;
    // Whether the planes of the block [start, end) are at hand for a measurement on the
    // window's thread. For data whose reads may wait they are read on the worker first, and
    // the measurement is made again when they are there.
    bool BlockAtHand(const ImageReader::Vector& start, const ImageReader::Vector& end);
    std::pair<ImageReader::Vector, ImageReader::Vector> blockRequested;
    static constexpr int kBlockSlot = 5;
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
    // Hands the controls' state to the model, which tells its listeners what changed.
    void SyncModel();
    // View state files; empty on success, else why not.
    QString SaveViewState(const QString& path) const;
    QString OpenViewState(const QString& path);

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

    // ---- window state ----
    QImage GDIImageXY;
    QImage GDIImageXZ;
    QImage GDIImageYZ;
    std::unique_ptr<HistogramRenderer> histogram;
    std::unique_ptr<ProfileRenderer> profile;
    std::unique_ptr<FlatProfileRenderer> cursorprofile;
    // The model: the image session (reader, caches, levels), the view and display state
    // and the background worker. The names below are views into it.
    std::unique_ptr<Viewer> model = std::make_unique<Viewer>();
    std::unique_ptr<ImageReader::ImageReaderBase<unsigned short>>& reader = model->Session().reader;
    std::unique_ptr<ImageReader::SliceCache<unsigned short>>& image = model->Session().image;
    std::vector<ImageReader::Vector>& levelSizes = model->Session().levelSizes;
    ImageProperties properties;
    // The reason the last open failed (empty until one does).
    QString lastOpenError;
    ImageReader::Vector curslice;
    ImageReader::Vector imagedelta;
    ImageReader::Vector imagedeltastart;
    int meastype = 0;
    ImageReader::Vector measstart;
    ImageReader::Vector measend;
    ChannelListPtr channels;
    ChannelPtr globalchannel;
    bool ignoreCheck = false;
    int histstart = 0;
    int histdim = -1;
    int histdimstart = 0;
    // The histogram panel's value axis as last drawn, in display values.
    PanelAxis histogramAxis;
    // The panel's bins and the plane and panel size they were counted for: range and gamma
    // steps repaint the panel over the same plane. Holding the plane keeps its pointer unique.
    struct HistogramCount
    {
        ImageReader::ImageSlice<unsigned short> plane;
        int width = -1;
        int height = -1;
        PanelBins bins;
    } histogramCount;
    // The views zoom to fit at load (tests that work in image pixels turn this off) and
    // stay fitted while `fitted` holds.
    bool fitAtLoad = true;
    bool fitted = false;
    // Image point a run of wheel steps zooms about, while mouse, zoom and pan stay as the
    // last step left them: rounding the pan offsets then cannot drift.
    struct ZoomAnchor
    {
        bool valid = false;
        QPointF global;
        ImageReader::Vector delta;
        double zoom = 0;
        double px = 0;
        double py = 0;
    } zoomAnchor;
    // Full image position under the mouse in a view; empty when off the image.
    ImageReader::Vector mousePosition;
    int mouseDims[2] = {-1, -1};
    std::vector<QLineEdit*> textDimName;
    std::vector<QLineEdit*> textDimNum;
    std::vector<QSlider*> trackDim;
    std::vector<QCheckBox*> checkDimProj;

    // The colour picture buffers the view bitmaps wrap; each lives until its view is recomputed.
    RGBABuffer dataXY;
    RGBABuffer dataXZ;
    RGBABuffer dataYZ;

    // The data of each view (XY, XZ, YZ) before colouring, and the worker computing what
    // would take the UI thread too long: views whose planes read more than inlineLimitBytes
    // are computed there, smaller ones at once.
    std::array<ViewData, 3> viewData;
    // Per view: the data of the same view at another level, shown while the wanted level is
    // computed (coarse first, or the previous level while a zoom refines); the job in flight,
    // so that a display change while it runs does not start it over; what the bitmap shows.
    std::array<ViewData, 3> previewData;
    struct Flight
    {
        bool active = false;
        ViewKey key;
        std::vector<int> missing;
        std::uint64_t ticket = 0;
    };
    std::array<Flight, 3> flights;
    std::array<ViewKey, 3> shownKeys;
    std::unique_ptr<ViewWork>& work = model->WorkPtr();
    double& inlineLimitBytes = model->inlineLimitBytes;
    // Counts loads, so that data of an earlier image never matches a view key.
    std::uint64_t& imageSerial = model->Session().serial;

    // Number of pictures computed per view (XY, XZ, YZ) since construction; lets tests
    // and benchmarks tell recomputes from repaints.
    std::array<int, 3> recomputeCount{};

    // ---- controls (objectName = member name) ----
    AnchorPanel* clientArea = nullptr;
    QMenuBar* menuStrip1 = nullptr;
    QMenu* fileToolStripMenuItem = nullptr;
    QAction* openToolStripMenuItem = nullptr;
    QAction* openUrlToolStripMenuItem = nullptr;
    QAction* toolStripMenuItem2 = nullptr;
    QAction* propertiesToolStripMenuItem = nullptr;
    QAction* settingsToolStripMenuItem = nullptr;
    QMenu* openRecentToolStripMenuItem = nullptr;
    QAction* exportViewToolStripMenuItem = nullptr;
    QAction* exportViewsToolStripMenuItem = nullptr;
    QAction* saveStateToolStripMenuItem = nullptr;
    QAction* openStateToolStripMenuItem = nullptr;
    QMenu* editToolStripMenuItem = nullptr;
    QAction* copyViewToolStripMenuItem = nullptr;
    QMenu* viewToolStripMenuItem = nullptr;
    QAction* fitToolStripMenuItem = nullptr;
    QAction* actualPixelsToolStripMenuItem = nullptr;
    QAction* zoomInToolStripMenuItem = nullptr;
    QAction* zoomOutToolStripMenuItem = nullptr;
    QAction* autoRangeToolStripMenuItem = nullptr;
    QAction* scaleBarToolStripMenuItem = nullptr;
    QLabel* statusCursor = nullptr;
    QLabel* statusMouse = nullptr;
    QLabel* statusValues = nullptr;
    QAction* toolStripMenuItem1 = nullptr;
    QAction* exitToolStripMenuItem = nullptr;
    QMenuBar* helpMenuBar = nullptr; // holds Help at the right end of the menu bar
    QMenu* helpToolStripMenuItem = nullptr;
    QAction* infoToolStripMenuItem = nullptr;

    TablePanel* layoutImage = nullptr;
    PictureBox* pictureProfile = nullptr;
    PictureBox* pictureXZ = nullptr;
    PictureBox* pictureYZ = nullptr;
    PictureBox* pictureXY = nullptr;
    QComboBox* comboDimXZ = nullptr;
    QSplitter* splitContainer1 = nullptr;
    QComboBox* comboDimY = nullptr;
    QComboBox* comboDimYZ = nullptr;
    QComboBox* comboDimX = nullptr;
    QComboBox* comboDimP = nullptr;
    QLabel* lblPixelValue = nullptr;

    QGroupBox* groupBox1 = nullptr;
    QWidget* tableLayoutPanel3 = nullptr;
    QComboBox* comboDimC = nullptr;
    QTabWidget* tabControl1 = nullptr;
    AnchorPanel* tabPage3 = nullptr;
    QCheckBox* checkAutoExpand = nullptr;
    QLabel* label7 = nullptr;
    QSlider* trackGamma = nullptr;
    AnchorPanel* tabPage1 = nullptr;
    QListWidget* listChannels = nullptr;
    QLabel* labelChannelColor = nullptr;
    QLineEdit* textChannel = nullptr;
    PictureBox* pctHistogram = nullptr;
    QLabel* lblMin = nullptr;
    QLabel* lblMax = nullptr;
    QPushButton* buttonAutoRange = nullptr;
    AnchorPanel* tabPage2 = nullptr;
    QLabel* label1 = nullptr;
    QLabel* label2 = nullptr;
    QLineEdit* textSpectrumPos1 = nullptr;
    QLineEdit* textSpectrumWavelength1 = nullptr;
    QLineEdit* textSpectrumPos2 = nullptr;
    QLineEdit* textSpectrumWavelength2 = nullptr;

    QGroupBox* groupLocation = nullptr;
    QScrollArea* panelLocation = nullptr;
    QWidget* panelLocationContent = nullptr; // the scrolled surface holding the rows
    QLabel* label3 = nullptr;
    QLabel* label4 = nullptr;
    QLabel* label5 = nullptr;
    QComboBox* comboProj = nullptr;

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
    // Web addresses open on a thread of their own; FinishOpen shows the newest result.
    void OpenInBackground(const QString& path);
    void FinishOpen(const QString& path, std::uint64_t ticket, ImageReader::OpenedImage opened);
    // The second half of every open: the image as the current one, or the reason it failed.
    void ShowOpened(const QString& path, ImageReader::OpenedImage opened);
    struct OpenGuard
    {
        std::mutex mutex;
        bool alive = true;
    };
    std::shared_ptr<OpenGuard> openGuard = std::make_shared<OpenGuard>();
    std::uint64_t openTicket = 0;
    int pendingOpens = 0;
    // Shows a one-line note about a file that could not be opened.
    void ReportOpenFailure(const QString& path, const QString& reason);
    // View data and background work (formImageViewer_Views.cpp).
    void SetUpViewWork();
    void StopViewWork();
    // Brings view `index` up to date: re-colours its data, computes missing data at once or
    // hands it to the worker (the picture follows when it arrives).
    void ShowView(int index);
    // Says once per image that planes are missing or that something was too big to compute.
    void NoteImageProblems(bool refusedView);
    QTimer* progressTimer = nullptr;
    bool progressShown = false;
    bool missingReported = false;
    bool refusedReported = false;
    // Repaints the views whose bits are not in `mask`.
    void RepaintOthers(int mask);
    // What the XY view's Shift- and Ctrl-drags measure with the current axes and channel choice.
    Measurement XYMeasurement() const;
};

} // namespace ImageViewer
