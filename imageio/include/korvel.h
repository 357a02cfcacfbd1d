/* Korvel: reads and writes single 2-D images (TIFF, PGM, portable anymap, BMP)
 * through one plain image record. Every function returns 0 on success. */
#ifndef KORVEL_H
#define KORVEL_H

#include <stdint.h>

#if defined(KORVEL_BUILDING)
#define KORVEL_API __attribute__((visibility("default")))
#else
#define KORVEL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The pixel block holds `height` rows of `width` pixels of `channels` interleaved
 * samples, each `bits` / 8 bytes in host byte order. It comes from malloc and may be
 * released with free() by code that adopts it. */
typedef struct IMAGE {
    int32_t width;
    int32_t height;
    int32_t bits;
    int32_t channels;
    void* data;
} IMAGE;

/* 0, or -1 for a bit depth other than 8, 16 or 32 or a block that cannot be allocated;
 * the size fields are set in either case. The new block is zero-filled. */
KORVEL_API int32_t NewImage(int32_t width, int32_t height, int32_t bits, IMAGE* image);
/* Releases the pixel block; the other fields stay. Always 0. */
KORVEL_API int32_t DeleteImage(IMAGE* image);

/* One sample per pixel, 8, 16 or 32 bits. 0 or 1; failures print one line. */
KORVEL_API int32_t SimpleTIFFReadImage(const char* name, IMAGE* image);
/* Three samples per pixel. 0 or 1. */
KORVEL_API int32_t SimpleTIFFReadColorImage(const char* name, IMAGE* image);
/* Writes a one-sample, uncompressed, single-strip file. 0 or 1. */
KORVEL_API int32_t SimpleTIFFWriteImage(const IMAGE* image, const char* name);

/* Binary greyscale "P5" with maxval 255 or 65535; 16-bit samples least significant
 * byte first. 0 or a negated errno value. */
KORVEL_API int32_t PGMReadImage(const char* name, IMAGE* image);
KORVEL_API int32_t PGMWriteImage(const IMAGE* image, const char* name);

/* BMP or portable anymap (P2, P3, P5, P6) into 8-bit RGB. 0; -1 cannot open or bad
 * header; -2 pixel data short or out of range; -3 out of memory; -4 unknown format. */
KORVEL_API int32_t BMPReadImage(const char* name, IMAGE* image);

/* Converts 8- or 32-bit samples to 16 bits in place (values kept, 32-bit truncated to
 * the low 16 bits). 0, or -1 when the record is unusable or the new block cannot be
 * allocated (the record is then unchanged). */
KORVEL_API int32_t ConvertImageInt16(IMAGE* image);

#ifdef __cplusplus
}
#endif

#endif
