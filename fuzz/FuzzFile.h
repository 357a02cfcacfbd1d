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

/* Touches every byte a successful read promises, so that a block shorter than its
 * record's size shows up as a heap overflow. */
static void fuzz_check(const IMAGE* image, size_t bytes_per_sample)
{
    if (!image->data || image->width <= 0 || image->height <= 0 || image->channels <= 0)
        abort();
    const size_t n = (size_t)image->width * (size_t)image->height * (size_t)image->channels * bytes_per_sample;
    const volatile uint8_t* p = image->data;
    uint8_t sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum ^= p[i];
    (void)sum;
}

#endif
