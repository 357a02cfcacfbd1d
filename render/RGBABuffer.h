#pragma once

#include <cstdlib>
#include <memory>

namespace ImageViewer {

// Releases blocks that came from malloc.
struct FreeDeleter
{
    void operator()(void* p) const { std::free(p); }
};

// A colour picture: 4 bytes per pixel (blue, green, red, 0), rows of 4*w bytes without
// gaps, allocated with malloc. Null means "no picture".
using RGBABuffer = std::unique_ptr<unsigned char[], FreeDeleter>;

// Allocates a zero-filled (black) picture of w x h pixels; null if it cannot be allocated.
RGBABuffer NewBlackRGBA(int w, int h);

// Adds `src` to `dst` byte by byte, saturating at 255.
void CompositeAdd(unsigned char* dst, const unsigned char* src, size_t bytes);

} // namespace ImageViewer
