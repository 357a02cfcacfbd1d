#pragma once

#include "Vector.h"

namespace ImageViewer {

// The cursor an image opens at: where the reader asks (a series opened at one of its files
// lands on that file's plane), the middle of every dimension it leaves open (-1, missing or
// out of range).
ImageReader::Vector InitialCursor(const ImageReader::Vector& size, const ImageReader::Vector& initial);

} // namespace ImageViewer
