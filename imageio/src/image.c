#include <stdlib.h>
#include <string.h>

#include "korvel_internal.h"

/* Fuzzing builds refuse big blocks, so that a few header bytes claiming a huge picture
 * cost the fuzzer no time; release builds leave the limit to the allocator. */
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
#define KORVEL_MAX_BLOCK ((uint64_t)64 << 20)
#else
#define KORVEL_MAX_BLOCK ((uint64_t)SIZE_MAX)
#endif

size_t korvel_block_size(uint64_t a, uint64_t b, uint64_t c, uint64_t d, int* ok)
{
    uint64_t n = 0;
    if (__builtin_mul_overflow(a, b, &n) || __builtin_mul_overflow(n, c, &n) || __builtin_mul_overflow(n, d, &n)
        || n > KORVEL_MAX_BLOCK || n > (uint64_t)PTRDIFF_MAX) {
        *ok = 0;
        return 0;
    }
    *ok = 1;
    return (size_t)n;
}

void* korvel_alloc(size_t bytes)
{
    if (bytes == 0)
        return NULL;
    return calloc(bytes, 1);
}

size_t korvel_record_bytes(const IMAGE* image, int* ok)
{
    *ok = 0;
    if (image->width < 0 || image->height < 0 || image->bits < 0)
        return 0;
    return korvel_block_size((uint64_t)image->width, (uint64_t)image->height, (uint64_t)image->bits / 8, 1, ok);
}

uint8_t* korvel_alloc_rgb(uint64_t width, uint64_t height)
{
    int ok = width <= INT32_MAX && height <= INT32_MAX;
    const size_t bytes = ok ? korvel_block_size(width, height, 3, 1, &ok) : 0;
    return ok ? korvel_alloc(bytes) : NULL;
}

int32_t NewImage(int32_t width, int32_t height, int32_t bits, IMAGE* image)
{
    image->width = width;
    image->height = height;
    image->bits = bits;
    image->channels = 1;
    image->data = NULL;
    int ok = 0;
    const size_t bytes = korvel_record_bytes(image, &ok);
    if (!ok || (bits != 8 && bits != 16 && bits != 32))
        return -1;
    /* An empty picture still gets a block, so that success always means data != NULL. */
    image->data = calloc(bytes ? bytes : 1, 1);
    return image->data ? 0 : -1;
}

int32_t DeleteImage(IMAGE* image)
{
    free(image->data);
    image->data = NULL;
    return 0;
}

int32_t ConvertImageInt16(IMAGE* image)
{
    if (image->bits == 16)
        return 0;
    if ((image->bits != 8 && image->bits != 32) || !image->data || image->width < 0 || image->height < 0
        || image->channels < 0)
        return -1;
    int ok = 0;
    size_t n = korvel_block_size((uint64_t)image->width, (uint64_t)image->height, (uint64_t)image->channels, 1, &ok);
    size_t bytes = ok ? korvel_block_size(n, 2, 1, 1, &ok) : 0;
    if (!ok)
        return -1;
    uint16_t* out = malloc(bytes ? bytes : 1);
    if (!out)
        return -1;
    if (image->bits == 8) {
        const uint8_t* in = image->data;
        for (size_t i = 0; i < n; ++i)
            out[i] = in[i];
    } else {
        const uint32_t* in = image->data;
        for (size_t i = 0; i < n; ++i)
            out[i] = (uint16_t)(in[i] & 0xFFFFu);
    }
    free(image->data);
    image->data = out;
    image->bits = 16;
    return 0;
}
