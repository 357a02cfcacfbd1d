#pragma once

#include "ImageBase.h"

namespace ImageReader {

// Shows a source with its dimensions reordered: dimension i of the view is source
// dimension m_order[i]. Used to turn any two source dimensions into a slice plane.
template <class T>
class ImagePermutation : public ImageBase<T>
{
public:
    ImagePermutation(ImageBase<T>* image, const Vector& order) : m_image(image), m_order(order) {}
    ImagePermutation(const ImagePermutation&) = default;
    ImagePermutation& operator=(const ImagePermutation&) = default;

    Vector GetSize() override { return m_image->GetSize().permute(m_order); }
    // Always a new buffer, also for the identity order.
    ImageSlice<T> GetSlice(const Vector& position) override;

private:
    ImageBase<T>* m_image;
    Vector m_order;
};

} // namespace ImageReader
