#pragma once

#include <string>
#include <utility>
#include <vector>

// The window's numeric rules, kept free of widgets so that tests call them directly.
namespace ImageViewer {

// A rectangle and a size in pixels (the window converts them to its toolkit's types).
struct PixelRect
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PixelRect& o) const { return x == o.x && y == o.y && width == o.width && height == o.height; }
};

struct PixelSize
{
    int width = 0;
    int height = 0;
    bool operator==(const PixelSize& o) const { return width == o.width && height == o.height; }
};

// View mask bits.
enum ViewBit : int { ViewXY = 1, ViewXZ = 2, ViewYZ = 4, ViewAll = 7 };

// Image dimensions on the view axes; -1 when a list has no selection.
struct ViewAxes
{
    int x = -1;
    int y = -1;
    int xz = -1;
    int yz = -1;
};

// Views whose picture changes when cursor coordinate d moves: a view needs a new picture
// when d is none of its axes, is not collapsed by projection and is not the channel
// dimension cd. Everything else only needs its cursor lines repainted.
int CursorMoveMask(int d, const ViewAxes& axes, bool collapsed, int cd);

// Views that change when the projection box of dimension d is toggled.
int ProjectionChangeMask(int d, const ViewAxes& axes);

// Mouse-to-pixel bounds: coordinates are saturated to +-kPixelLimit so that differences of
// two of them still fit in an int; such a coordinate is always outside any image.
constexpr int kPixelLimit = 1000000000;

// truncate((m - delta) / zoom) toward zero. Non-finite results map to -kPixelLimit and
// out-of-range ones saturate, both of which lie outside the image.
int MouseToPixel(double m, double delta, double zoom);

// Truncation toward zero into the int range; NaN gives `fallback`.
int SaturatingTruncate(double v, int fallback);
// a - b computed without overflow, saturated at the int range.
int SaturatingSubtract(int a, int b);

// Wheel steps for a wheel delta (120 per notch) and the system's scroll lines, truncated.
int WheelSteps(int delta, int scrollLines);
// The zoom factor (2^0.125)^steps.
double WheelZoomFactor(int steps);

// Pan offset that shows image coordinate p (in image pixels) at view coordinate m under
// `zoom` screen pixels per image pixel, rounded to the nearest pixel.
int PanForPoint(double m, double p, double zoom);

// Zoom at which a picture `extent` screen pixels long at zoom 1, beside a side view `depth`
// pixels deep at zoom 1, fills a table `table` pixels long. The side track grows with the
// zoom up to half the table (SideViewSize) and the 3-pixel gap stays free. Positive and
// finite for any input; 1 without a picture.
double FitZoom(double extent, double depth, int table);

// Offset that centres a picture `length` pixels long in a cell `cell` pixels long.
int CentredOffset(int cell, double length);

// The window's first size: 80 % of the available screen area, at least 1024 x 720 unless
// the screen itself is smaller.
PixelSize DefaultWindowSize(const PixelSize& available);

// A physical length given in nanometres, in the unit that keeps it between 1 and 1000
// (nm, µm, mm), with three significant digits, in UTF-8.
std::string FormatLength(double nm);

// Two reference points (position, wavelength in nm) of the spectral calibration.
struct SpectrumCalibration
{
    SpectrumCalibration() = default;
    SpectrumCalibration(double p1_, double w1_, double p2_, double w2_, std::vector<double> file = {})
        : p1(p1_), w1(w1_), p2(p2_), w2(w2_), fileWavelengths(std::move(file))
    {
    }
    double p1 = 367, w1 = 488, p2 = 646, w2 = 658;
    // The file's own wavelength of every index when it gives them (nm): they are used as
    // they are while the two points are the file's first and last (UsesFileWavelengths).
    std::vector<double> fileWavelengths;
};

// Whether the `count` indices take the file's own wavelengths: the file gives one per index
// and the points are its first and last index and wavelength (to the six digits the boxes
// show); a calibration typed over them wins.
bool UsesFileWavelengths(const SpectrumCalibration& cal, int count);

// The calibration a spectral dimension of `count` samples starts with: the built-in one
// when the samples reach through 400-700 nm under it, otherwise the samples spread evenly
// over 400-700 nm so that a short stack is still in colour.
SpectrumCalibration DefaultSpectrumCalibration(int count);

// A scale bar: a round physical length and its length on the screen.
struct ScaleBar
{
    double nm = 0;
    int pixels = 0; // 0: no bar
    std::string label; // UTF-8
};

// The longest round length (1, 2 or 5 times a power of ten nanometres) whose bar is at
// most maxPixels long at nmPerPixel nanometres per screen pixel; no bar when the pixel
// size is unknown or not even the shortest bar of 1 nm fits.
ScaleBar ChooseScaleBar(double nmPerPixel, int maxPixels);

// Size of a side view's track: its whole depth at the current zoom, at most a third of the table.
float SideViewSize(int extent, double zoom, int tableSize);

// The view table's side tracks (the YZ column's width, the XZ row's height, 0 without that
// side view) and the zoom that fits the picture beside them with the 3-pixel gap free.
// Lengths are at zoom 1 (screen pixels): the picture's width and height, the side views'
// depths (0: no side view). A share in (0, 1) is the fraction of the table the user gave a
// side track (a splitter), else the track is the depth at the fitting zoom, at most a third
// of the table. The tracks do not depend on the current zoom, so zooming keeps XY's size.
struct TableFit
{
    double zoom = 1;
    float column = 0;
    float row = 0;
};
TableFit FitTable(double lengthX, double lengthY, double depthYZ, double depthXZ, int width, int height,
                  double shareColumn = 0, double shareRow = 0);

// A side view's zoom along its depth: the physical `zoom` while the whole depth of `extent`
// image pixels fits `room` screen pixels, else the zoom that just fits it. `zoom` when there
// is nothing to fit.
double SideDepthZoom(double zoom, int extent, double room);

// The share of the table a dragged splitter leaves a side track: at least 5 %, at most half,
// so that XY keeps half the table; 0 (automatic) for anything not finite.
double SideShare(double position, int table);

// One column or row of a table: an absolute size in pixels or a percentage of the rest.
struct TrackStyle
{
    bool absolute = false;
    float value = 0;
};

// Pixel sizes of the tracks for a total size: absolute tracks first, the remainder split
// in proportion to the percentages; the last percent track takes the rounding remainder.
std::vector<int> ComputeTrackSizes(const std::vector<TrackStyle>& tracks, int total);

// The resolution level a view shows, from the levels' pixel sizes along the view's two axes
// (in full-resolution pixels, finest level first) and the screen pixels per full-resolution
// pixel along them: the finest level whose pixels cover at least one screen pixel, which
// reads no more than the screen can show. An axis the pyramid does not coarsen further
// places no demand. The coarsest level when none is coarse enough; 0 without levels.
int MatchingLevel(const std::vector<std::pair<double, double>>& factors, double zoomX, double zoomY);

// Which container edges a control keeps its distance to.
enum Anchor : int { AnchorTop = 1, AnchorBottom = 2, AnchorLeft = 4, AnchorRight = 8 };

// Geometry of an anchored control after its container changed from designSize to size.
PixelRect AnchoredRect(const PixelRect& design, const PixelSize& designSize, const PixelSize& size, int anchors);

} // namespace ImageViewer
