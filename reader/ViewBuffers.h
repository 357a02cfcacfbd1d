#pragma once

#include <cstddef>

#include "ImageSlice.h"

namespace ImageReader {

// Buffers for what views compute (projections, side views). A view is computed again at
// every cursor step, and fresh memory costs a page fault per page at its first touch, more
// than filling it: so a buffer whose last slice is gone waits here for the next view of about
// its size. Few and bounded: at most 64 MiB wait at a time.
namespace ViewBuffers {

// `bytes` of zeroed memory; `release` is what the slice holding it keeps alive.
void* Take(size_t bytes, std::shared_ptr<const void>& release);
// Frees every waiting buffer (an image was closed).
void Drop();
// Bytes waiting now.
size_t Waiting();

} // namespace ViewBuffers

// A zeroed slice of `size` from the view buffers; empty when memory runs out.
template <class T>
ImageSlice<T> ViewSlice(const Vector& size)
{
    size_t count = size.size() ? 1 : 0;
    for (unsigned i = 0; i < size.size(); ++i)
        count *= size[static_cast<int>(i)] > 0 ? static_cast<size_t>(size[static_cast<int>(i)]) : 0;
    std::shared_ptr<const void> release;
    void* data = count ? ViewBuffers::Take(count * sizeof(T), release) : nullptr;
    return data ? ImageSlice<T>::Borrow(size, static_cast<const T*>(data), std::move(release)) : ImageSlice<T>();
}

} // namespace ImageReader
