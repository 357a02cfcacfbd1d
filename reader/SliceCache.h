#pragma once

#include <map>

#include "ImageBase.h"

namespace ImageReader {

// Remembers every slice delivered, keyed by slice position, so each plane is read from
// its source once. No eviction: it grows until Clear() or destruction.
template <class T>
class SliceCache : public ImageBase<T>
{
public:
    explicit SliceCache(ImageBase<T>* image) : m_image(image) {}

    ImageSlice<T> GetSlice(const Vector& position) override;
    Vector GetSize() override { return m_image->GetSize(); }

    void Clear() { m_cache.clear(); }
    size_t GetCount() const { return m_cache.size(); }

private:
    ImageBase<T>* m_image;
    std::map<Vector, ImageSlice<T>, VectorCompare> m_cache;
};

} // namespace ImageReader
