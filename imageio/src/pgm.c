#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "korvel_internal.h"

/* Next header line that is not a comment; 0 when the file ends first. */
static int next_line(FILE* f, char* line, int size)
{
    while (fgets(line, size, f)) {
        if (line[0] != '#')
            return 1;
    }
    return 0;
}

/* Reads `count` integers ("%d" style: leading blanks, optional sign) from the start of
 * `line`; unlike sscanf, a number outside the int range is a failure, not undefined. */
static int parse_ints(const char* line, long* out, int count)
{
    const char* p = line;
    for (int i = 0; i < count; ++i) {
        char* end = NULL;
        errno = 0;
        long v = strtol(p, &end, 10);
        if (end == p || errno == ERANGE || v < INT_MIN || v > INT_MAX)
            return 0;
        out[i] = v;
        p = end;
    }
    return 1;
}

int32_t PGMReadImage(const char* name, IMAGE* image)
{
    FILE* f = fopen(name, "rb");
    if (!f)
        return -errno;

    char line[256];
    long size[2] = {0, 0};
    long maxval = 0;
    int32_t result = 0;
    /* A header cut short is as malformed as a wrong one. */
    if (!next_line(f, line, sizeof line) || strncmp(line, "P5\n", 3) != 0
        || !next_line(f, line, sizeof line) || !parse_ints(line, size, 2)
        || !next_line(f, line, sizeof line) || !parse_ints(line, &maxval, 1)) {
        result = ferror(f) ? -EIO : -EINVAL;
        goto done;
    }
    if (size[0] < 0 || size[1] < 0) {
        result = -EINVAL;
        goto done;
    }
    int32_t bits = 0;
    if (maxval == 255)
        bits = 8;
    else if (maxval == 65535)
        bits = 16;
    else {
        result = -ERANGE;
        goto done;
    }

    if (NewImage((int32_t)size[0], (int32_t)size[1], bits, image) != 0) {
        result = -ENOMEM;
        goto done;
    }
    const size_t bytes = (size_t)size[0] * (size_t)size[1] * (size_t)(bits / 8);
    if (fread(image->data, 1, bytes, f) != bytes) {
        DeleteImage(image);
        result = -EIO;
    }

done:
    fclose(f);
    return result;
}

int32_t PGMWriteImage(const IMAGE* image, const char* name)
{
    const int32_t bits = image->bits;
    int ok = 0;
    const size_t bytes = korvel_record_bytes(image, &ok);
    if (!ok || !image->data || (bits != 8 && bits != 16))
        return -EINVAL;

    FILE* f = fopen(name, "wb");
    if (!f)
        return -errno;
    int failed = fprintf(f, "P5\n%d %d\n%d\n", image->width, image->height, bits == 8 ? 255 : 65535) < 0;
    if (!failed)
        failed = fwrite(image->data, 1, bytes, f) != bytes;
    int err = failed ? (errno ? errno : EIO) : 0;
    if (fclose(f) != 0 && !err)
        err = errno ? errno : EIO;
    return -err;
}
