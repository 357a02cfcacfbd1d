#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "korvel_internal.h"

/* Header numbers saturate here instead of overflowing; anything this large fails the
 * range checks that follow. */
#define PNM_NUMBER_CAP ((uint64_t)1 << 40)

static int skip_comment(FILE* f)
{
    int c;
    do
        c = getc(f);
    while (c != '\n' && c != EOF);
    return c;
}

/* The blank-and-comment skip between header numbers; returns the first other character. */
static int skip_blanks(FILE* f, int c)
{
    if (c == '#')
        c = skip_comment(f);
    while (c != EOF && isspace(c)) {
        c = getc(f);
        if (c == '#')
            c = skip_comment(f);
    }
    return c;
}

static int read_digits(FILE* f, int c, uint64_t* value)
{
    uint64_t v = 0;
    while (c != EOF && isdigit(c)) {
        v = v * 10 + (uint64_t)(c - '0');
        if (v > PNM_NUMBER_CAP)
            v = PNM_NUMBER_CAP;
        c = getc(f);
    }
    *value = v;
    return c;
}

/* "%d"-style decimal sample of the ASCII forms; 0 on a malformed or missing number. */
static int read_ascii_sample(FILE* f, int64_t* value)
{
    int c;
    do
        c = getc(f);
    while (c != EOF && isspace(c));
    int negative = 0;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = getc(f);
    }
    if (c == EOF || !isdigit(c))
        return 0;
    uint64_t v = 0;
    c = read_digits(f, c, &v);
    if (c != EOF)
        ungetc(c, f);
    *value = negative ? -(int64_t)v : (int64_t)v;
    return 1;
}

static uint8_t scale(uint32_t v, uint32_t maxval)
{
    int64_t b = ((int64_t)(v + 1) * 256) / ((int64_t)maxval + 1) - 1;
    return (uint8_t)(b < 0 ? 0 : b);
}

int32_t korvel_read_pnm(const char* name, void** data, int32_t* width, int32_t* height)
{
    *data = NULL;
    FILE* f = fopen(name, "rb");
    if (!f)
        return -1;

    uint8_t* block = NULL;
    uint8_t* row = NULL;
    int32_t result = 0;
    char magic[2];
    if (fread(magic, 1, 2, f) != 2 || magic[0] != 'P' || !strchr("2356", magic[1]) || magic[1] == '\0') {
        result = -1;
        goto done;
    }
    const int ascii = magic[1] == '2' || magic[1] == '3';
    const int samples = (magic[1] == '3' || magic[1] == '6') ? 3 : 1;

    uint64_t w = 0, h = 0, maxval = 0;
    int c = skip_blanks(f, getc(f));
    c = skip_blanks(f, read_digits(f, c, &w));
    c = skip_blanks(f, read_digits(f, c, &h));
    c = read_digits(f, c, &maxval);
    if (c == EOF || !isspace(c) || w == 0 || h == 0 || maxval < 1 || maxval > 65536) {
        result = -1;
        goto done;
    }
    block = korvel_alloc_rgb(w, h);
    if (!block) {
        result = -3;
        goto done;
    }

    /* Binary samples are one byte below maxval 256, else two, most significant first. */
    const size_t sample_bytes = maxval < 256 ? 1 : 2;
    const size_t row_bytes = (size_t)w * (size_t)samples * sample_bytes;
    if (!ascii && !(row = malloc(row_bytes))) {
        result = -3;
        goto done;
    }
    uint8_t* out = block;
    for (uint64_t y = 0; y < h; ++y) {
        if (!ascii && fread(row, 1, row_bytes, f) != row_bytes) {
            result = -2;
            goto done;
        }
        for (size_t i = 0; i < (size_t)w * (size_t)samples; ++i) {
            int64_t v = 0;
            if (ascii) {
                if (!read_ascii_sample(f, &v)) {
                    result = -2;
                    goto done;
                }
            } else {
                v = sample_bytes == 1 ? row[i] : (row[2 * i] << 8 | row[2 * i + 1]);
            }
            /* A sample beyond maxval has no place on the scale, in binary forms too. */
            if (v < 0 || (uint64_t)v > maxval) {
                result = -2;
                goto done;
            }
            const uint8_t b = scale((uint32_t)v, (uint32_t)maxval);
            if (samples == 3) {
                *out++ = b;
            } else {
                out[0] = out[1] = out[2] = b;
                out += 3;
            }
        }
    }
    *data = block;
    *width = (int32_t)w;
    *height = (int32_t)h;
    block = NULL;

done:
    free(row);
    free(block);
    fclose(f);
    return result;
}
