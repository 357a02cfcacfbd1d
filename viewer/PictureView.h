#pragma once

#include <utility>

#include "PictureBox.h"

namespace ImageViewer {

class formImageViewer;

// One of the three orthogonal views (0 XY, 1 XZ, 2 YZ). It paints the window's picture of
// its view under the pan, with the cursor lines (and on XY the measurement, the scale bar
// and the player's stamp), and hands mouse and wheel to the window's mapping. Its handlers
// stay replaceable: a panel may wrap them, as over any PictureBox.
class PictureView : public PictureBox
{
public:
    PictureView(formImageViewer& window, int view);

    int View() const { return m_view; }
    // The image dimensions across and down (-1: none) and their pan offsets on the screen:
    // XY pans both, a side view only along the axis it shares with XY.
    std::pair<int, int> Dims() const;
    std::pair<int, int> Pan() const;
    void Paint(QPainter& e);

private:
    void paintPicture(QPainter& e, int dh, int dv);
    void paintMeasurement(QPainter& e, int dh, int dv);

    formImageViewer& m_window;
    const int m_view;
};

} // namespace ImageViewer
