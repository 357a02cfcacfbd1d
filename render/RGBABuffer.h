#pragma once

#include <cstdint>
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

// Allocates a picture of `pixels` pixels whose bytes the caller writes, every one of them.
RGBABuffer AllocateRGBA(size_t pixels);

// Adds `src` to `dst` byte by byte, saturating at 255.
void CompositeAdd(unsigned char* dst, const unsigned char* src, size_t bytes);

// Writes table[in[i]] as pixel i of `out` (n pixels), or adds it with saturation when `add`.
void MapPixels(const unsigned short* in, size_t n, const std::uint32_t* table, unsigned char* out, bool add);

} // namespace ImageViewer
