/* Helpers shared by the codecs; not exported. */
#ifndef KORVEL_INTERNAL_H
#define KORVEL_INTERNAL_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "korvel.h"

/* Product of up to four factors, or 0 with *ok cleared when it does not fit in size_t
 * (or, under fuzzing, exceeds the fuzzing block limit). */
size_t korvel_block_size(uint64_t a, uint64_t b, uint64_t c, uint64_t d, int* ok);

/* Zero-filled block from the C allocator; NULL for 0 bytes as well as on failure. */
void* korvel_alloc(size_t bytes);

/* Bytes of a one-channel record's block, width x height x bits / 8; 0 with *ok cleared
 * for a negative side or a size that does not fit. */
size_t korvel_record_bytes(const IMAGE* image, int* ok);

/* Zero-filled 8-bit RGB block for the BMPReadImage decoders; NULL when a side does not fit
 * the record's fields or the block cannot be had. */
uint8_t* korvel_alloc_rgb(uint64_t width, uint64_t height);

/* Portable anymap reader behind BMPReadImage: fills *data, *width, *height with an
 * 8-bit RGB picture. Returns 0 or a BMPReadImage code. */
int32_t korvel_read_pnm(const char* name, void** data, int32_t* width, int32_t* height);

/* BMP decoder behind BMPReadImage, same contract. */
int32_t korvel_read_bmp(const char* name, void** data, int32_t* width, int32_t* height);

#endif
