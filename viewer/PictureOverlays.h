#pragma once

#include <QRect>

#include "ImageChannel.h"
#include "SampleType.h"

class QPainter;

namespace ImageViewer {

// What is drawn over a picture, on the screen and in exports alike.
struct OverlayOptions
{
    double nmPerPixel = 0;               // the scale bar's measure; 0: no scale bar
    const ImageChannel* colourBar = nullptr; // the channel whose colour bar is drawn; null: none
    ImageReader::ValueMap map;
    ImageReader::SampleType type = ImageReader::SampleType::UInt16;
};

// Draws the scale bar (bottom right) and the colour bar (bottom left) inside `area`, the
// part of the painter's surface the picture covers: a mark drawn beside the picture would
// stand over the background and say nothing about the image. A mark that does not fit in
// `area` is left out.
void PaintOverlays(QPainter& e, const QRect& area, const OverlayOptions& options);

} // namespace ImageViewer
