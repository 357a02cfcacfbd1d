#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace ImageViewer {

// The value axis of the histogram panel: a0 and a1 are the values at its two ends, A the
// number of values it spans.
struct PanelAxis
{
    int a0 = 0;
    int a1 = 0;
    long long A = 1;
};

// Pixel counts of one plane, binned over the plane's own value range and put on the
// panel's logarithmic scale.
struct PanelBins
{
    int lo = 65535;
    int hi = 0;
    int R = 1;
    std::vector<int> counts; // log counter per bin
    int bmin = 0;
    int bmax = 0;
    int hrange = 1;
};

// Geometry and arithmetic of the histogram panel beside the channel list: where bars and
// range markers go, which marker a press grabs and how far a drag moves it. The widget
// handlers only read pixels and paint what this computes.
class HistogramPanel
{
public:
    // Panel size in pixels including its frame; the drawable width is 5 less.
    HistogramPanel(int panelWidth, int panelHeight);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int Baseline() const { return m_height - 5; }
    bool IsDrawable() const { return m_width > 0 && Baseline() > 0; }

    PanelBins Count(const unsigned short* values, size_t count) const;

    // Axis of the panel: the plane's range widened by the channel's display range.
    static PanelAxis MakeAxis(int lo, int hi, int chmin, int chmax);

    // Screen x of a value on the axis (a range marker).
    int MarkerX(const PanelAxis& axis, int value) const;
    // Screen x of bin j; the bins start at the plane's minimum, which may lie right of a0.
    int BarX(const PanelBins& bins, const PanelAxis& axis, int j) const;
    // Screen y of the top of bin j's bar.
    int BarTop(const PanelBins& bins, int j) const;

    // Marker within reach of a press at x: 0 the lower, 1 the upper, -1 none. The lower
    // one wins when both are in reach.
    static int HitTest(int x, int xmin, int xmax);
    static bool NearMarker(int x, int xmin, int xmax) { return HitTest(x, xmin, xmax) >= 0; }

    // Value change of a marker dragged from histstart to x: a1 - a0 values per panel width.
    int DragDelta(const PanelAxis& axis, int x, int histstart) const;

    // Adds a drag delta to a marker's start value without leaving the int range.
    static int MoveMarker(int start, int delta);

    // Display range from the lower and upper quantiles (fractions 0..1) of n values: the
    // values at ranks floor(low * (n - 1)) and ceil(high * (n - 1)) of the sorted values.
    // A range of one value is widened by one so that it still maps to black and white.
    // {0, 65535} for no values.
    static std::pair<int, int> PercentileRange(const unsigned short* values, size_t n, double low, double high);

private:
    int m_width;
    int m_height;
};

} // namespace ImageViewer
