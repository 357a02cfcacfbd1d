#pragma once

#include <QImage>

namespace ImageViewer {

// Scales a view picture to `w` x `h` pixels by pixel repetition (no smoothing); the picture
// itself when it already has that size. Null for a null picture or an empty size.
QImage ScalePicture(const QImage& picture, int w, int h);

// The three views as the window lays them out: XZ above XY, YZ left of it, `gap` black
// pixels between them. xz must be as wide as xy and yz as high; a null side picture takes
// no room. Null without an XY picture.
QImage ComposeViews(const QImage& xy, const QImage& xz, const QImage& yz, int gap);

} // namespace ImageViewer
