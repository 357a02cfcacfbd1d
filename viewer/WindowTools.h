#pragma once

#include <QRect>
#include <utility>
#include <vector>

#include "PictureOverlays.h"
#include "ViewMath.h"

class QAction;
class QPainter;
class QComboBox;
class QLineEdit;

namespace ImageViewer {

class formImageViewer;
class PictureBox;

// The window's display tools beside the main panels: the range boxes and lookup-table
// choice under the histogram, View > Colour bar and Side views, Help > Keyboard and mouse,
// and the overlays drawn over the XY picture and its exports.
class WindowTools
{
public:
    // Adds the controls and menu entries to `w`, whose components must exist.
    explicit WindowTools(formImageViewer& w);

    // The range boxes and the table choice show the current channel (a box being edited
    // keeps its text).
    void ShowRange();
    // What to draw over the XY picture at `nmPerPixel` nanometres per output pixel.
    OverlayOptions Overlays(double nmPerPixel) const;
    // The part of the XY view the picture covers at the current zoom and pan.
    QRect PictureArea() const;
    // Side views shown (View > Side views).
    bool SideViews() const;

    // ---- the view table (WindowTools_Layout.cpp) ----
    // The side tracks and the zoom that fits the picture beside them in the table as it is
    // (FitTable), with the shares the view splitters were given.
    TableFit Fit() const;
    // Sets the table's tracks from Fit and puts the splitter handles on the gaps.
    void LayOutTable();
    // Screen pixels per image pixel across and down view `index` (0 XY, 1 XZ, 2 YZ): a side
    // view's depth has its own zoom, so that its whole depth fits its track (SideDepthZoom).
    std::pair<double, double> ViewZooms(int index) const;
    // The user's shares of the table for the YZ column and the XZ row (0: automatic).
    double shareColumn = 0;
    double shareRow = 0;
    // A view splitter dragged to `position` (table pixels) along `column` or the row; a
    // position that is not finite gives the track back to the automatic rule.
    void SplitViews(bool column, double position);
    // The file's own wavelengths of the spectral dimension (one per index), empty when it
    // gives none.
    std::vector<double> FileWavelengths() const;

    // ---- the spectrum plot (WindowTools_Spectrum.cpp) ----
    // The spectrum under the cursor along the channel dimension: the file's real values (NaN
    // where a plane is not at hand) and each index's wavelength in nm (empty where none is
    // known: the plot then counts indices).
    struct Spectrum
    {
        std::vector<double> values;
        std::vector<double> nm;
        int marker = -1; // the cursor's index
    };
    Spectrum SpectrumUnderCursor() const;
    // The plot on the Spectrum page, as wide as the panel.
    PictureBox* pictureSpectrum = nullptr;

    QLineEdit* textRangeMin = nullptr;
    QLineEdit* textRangeMax = nullptr;
    QComboBox* comboLut = nullptr;
    QAction* colourBarToolStripMenuItem = nullptr;
    QAction* sideViewsToolStripMenuItem = nullptr;
    QAction* keyboardHelpToolStripMenuItem = nullptr;

private:
    void BuildRangeRow();
    void BuildMenus();
    // A typed minimum (bound 0) or maximum (bound 1) becomes the current channel's range.
    void TakeRange(int bound);
    void TakeLut();
    void ShowKeyboardHelp();
    void BuildSplitters();
    void BuildSpectrumPlot();
    void PaintSpectrum(QPainter& painter);

    formImageViewer& w;
};

} // namespace ImageViewer
