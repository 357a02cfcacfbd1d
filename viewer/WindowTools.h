#pragma once

#include <QRect>

#include "PictureOverlays.h"

class QAction;
class QComboBox;
class QLineEdit;

namespace ImageViewer {

class formImageViewer;

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

    formImageViewer& w;
};

} // namespace ImageViewer
