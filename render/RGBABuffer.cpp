#include "RGBABuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace ImageViewer {

RGBABuffer NewBlackRGBA(int w, int h)
{
    if (w < 0 || h < 0)
        return nullptr;
    const std::uint64_t bytes = 4ull * static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h);
    if (bytes > SIZE_MAX)
        return nullptr;
    // At least one byte, so that a picture without pixels is still a picture, not a failure.
    return RGBABuffer(static_cast<unsigned char*>(std::calloc(bytes ? static_cast<size_t>(bytes) : 1, 1)));
}

RGBABuffer AllocateRGBA(size_t pixels)
{
    if (pixels > SIZE_MAX / 4)
        return nullptr;
    return RGBABuffer(static_cast<unsigned char*>(std::malloc(pixels ? 4 * pixels : 1)));
}

void CompositeAdd(unsigned char* dst, const unsigned char* src, size_t bytes)
{
    size_t i = 0;
#ifdef __SSE2__
    // Compilers do not recognise the saturating byte add in the plain loop below and widen
    // every byte to 16 bits instead; the instruction does 16 bytes at once.
    for (; i + 16 <= bytes; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_adds_epu8(a, b));
    }
#endif
    for (; i < bytes; ++i) {
        const unsigned s = static_cast<unsigned>(dst[i]) + src[i];
        dst[i] = static_cast<unsigned char>(s > 255u ? 255u : s);
    }
}

void MapPixels(const unsigned short* in, size_t n, const std::uint32_t* table, unsigned char* out, bool add)
{
    if (!add) {
        for (size_t i = 0; i < n; ++i)
            std::memcpy(out + 4 * i, &table[in[i]], 4);
        return;
    }
    // Lookups go to a block that stays in the first-level cache; the block is then added
    // with saturating vector adds, which the lookups themselves cannot use.
    constexpr size_t block = 1024;
    std::uint32_t looked[block];
    for (size_t i = 0; i < n; i += block) {
        const size_t m = std::min(block, n - i);
        for (size_t j = 0; j < m; ++j)
            looked[j] = table[in[i + j]];
        CompositeAdd(out + 4 * i, reinterpret_cast<const unsigned char*>(looked), 4 * m);
    }
}

} // namespace ImageViewer
