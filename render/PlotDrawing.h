#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QString>

#include "ImageChannel.h"
#include "SampleType.h"

// Drawing pieces shared by the histogram and profile renderers.
namespace ImageViewer::PlotDrawing {

// White at alpha 64: outlines, grid lines, markers.
QColor GridColour();
// Black at alpha 128 behind a plot.
QColor BackdropColour();
// "Arial" at 8 points.
QFont LabelFont();
// The channel colour (components clamped to 0..255) at the given alpha.
QColor ChannelColour(const ImageChannel& channel, int alpha);

// A display value as the real value it stands for, for axis labels.
QString ValueLabel(int display, const ImageReader::ValueMap& map, ImageReader::SampleType type);

// Text placed by an anchor point: `flags` say which side of the text touches the anchor
// (Qt::AlignRight: its right edge; Qt::AlignHCenter: its centre; and so on).
void DrawAnchoredText(QPainter& painter, double x, double y, int flags, const QString& text);

// A bar: a half-transparent column from the bottom edge (row `height`, just outside the
// bitmap) up to row y, and an opaque pixel at row y.
void DrawBar(QPainter& painter, int x, int height, int y, const QColor& bar, const QColor& top);

// A bar of a profile: a half-transparent line from the bottom edge (row `height`) up to
// row height - h and an opaque top pixel there; a bar of height 0 keeps its top pixel in
// the bottom row so that a sample at the minimum stays visible.
void DrawProfileBar(QPainter& painter, int x, int height, long long h, const QColor& bar, const QColor& top);

} // namespace ImageViewer::PlotDrawing
