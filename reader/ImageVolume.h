#pragma once

#include "ImageBase.h"

namespace ImageReader {

// A sub-volume [m_start, m_stop) of another source. Dimensions 0 and 1 are cropped
// (copying only when the crop is real); higher dimensions are offset.
template <class T>
class ImageVolume : public ImageBase<T>
{
public:
    ImageVolume(ImageBase<T>* image, const Vector& start, const Vector& stop)
        : m_image(image), m_start(start), m_stop(stop)
    {
    }

    ImageSlice<T> GetSlice(const Vector& position) override;
    Vector GetSize() override { return m_stop - m_start; }

private:
    ImageBase<T>* m_image;
    Vector m_start;
    Vector m_stop;
};

} // namespace ImageReader
