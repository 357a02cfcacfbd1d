#include "Landing.h"

namespace ImageViewer {

ImageReader::Vector InitialCursor(const ImageReader::Vector& size, const ImageReader::Vector& initial)
{
    ImageReader::Vector cursor = size / 2;
    for (int i = 0; i < static_cast<int>(size.size()) && i < static_cast<int>(initial.size()); ++i)
        if (initial[i] >= 0 && initial[i] < size[i])
            cursor[i] = initial[i];
    return cursor;
}

} // namespace ImageViewer
