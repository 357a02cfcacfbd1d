/* The codecs read named files, so each input is put into an in-memory file that they
 * open through its /proc path. */
#ifndef FUZZ_FILE_H
#define FUZZ_FILE_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include "korvel.h"

static const char* fuzz_file(const uint8_t* data, size_t size)
{
    static int fd = -1;
    static char path[64];
    if (fd < 0) {
        fd = memfd_create("korvel-fuzz", 0);
        if (fd < 0)
            abort();
        snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    }
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != (ssize_t)size)
        abort();
    return path;
}

/* Reads the input through `reader` into *image and checks the outcome: a failure leaves
 * no block behind; a success has `channels` channels, a depth of 8, 16 or 32 bits up to
 * `max_bits`, and every byte its record promises, touched so that a short block shows up
 * as a heap overflow. Only where `empty_ok` may a success hold a picture without pixels.
 * Returns 1 on success; the caller releases the record. */
static int fuzz_read(int32_t (*reader)(const char*, IMAGE*), const char* path, IMAGE* image, int channels, int max_bits,
                     int empty_ok)
{
    *image = (IMAGE){0, 0, 0, 0, NULL};
    if (reader(path, image) != 0) {
        if (image->data)
            abort();
        return 0;
    }
    const int bits = image->bits;
    if (!image->data || image->channels != channels || bits > max_bits || (bits != 8 && bits != 16 && bits != 32)
        || image->width < 0 || image->height < 0 || (!empty_ok && (image->width == 0 || image->height == 0)))
        abort();
    const size_t n = (size_t)image->width * (size_t)image->height * (size_t)channels * (size_t)(bits / 8);
    const volatile uint8_t* p = image->data;
    uint8_t sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum ^= p[i];
    (void)sum;
    return 1;
}

#endif
