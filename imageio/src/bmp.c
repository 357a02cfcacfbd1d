#include <stdlib.h>
#include <string.h>

#include "korvel_internal.h"

typedef struct Rgb {
    uint8_t r, g, b;
} Rgb;

typedef struct Reader {
    FILE* f;
    int big_endian;
    uint64_t pos; /* bytes consumed since the start of the file */
    int eof;
} Reader;

static uint32_t read_uint(Reader* in, int size)
{
    uint8_t b[4] = {0, 0, 0, 0};
    if (fread(b, 1, (size_t)size, in->f) != (size_t)size)
        in->eof = 1;
    in->pos += (uint64_t)size;
    uint32_t v = 0;
    for (int i = 0; i < size; ++i) {
        const int k = in->big_endian ? i : size - 1 - i;
        v = v << 8 | b[k];
    }
    return v;
}

static uint32_t swap32(uint32_t v)
{
    return v >> 24 | (v >> 8 & 0xFF00u) | (v << 8 & 0xFF0000u) | v << 24;
}

/* Run-length pixels land here; the cursor runs from the bottom row up and wraps to the
 * next row only when a pixel is written past the row's end, so that the end-of-line
 * marker after a run that fills a row exactly does not skip a row. */
typedef struct Canvas {
    uint8_t* block;
    uint32_t width, height;
    uint64_t x, y; /* y counts rows from the bottom */
    const Rgb* palette;
} Canvas;

static void put(Canvas* c, uint8_t index)
{
    if (c->x >= c->width) {
        c->y += c->x / c->width;
        c->x %= c->width;
    }
    if (c->y < c->height) {
        const Rgb p = c->palette[index];
        uint8_t* dst = c->block + (((uint64_t)(c->height - 1 - c->y) * c->width + c->x) * 3);
        dst[0] = p.r;
        dst[1] = p.g;
        dst[2] = p.b;
    }
    ++c->x;
}

/* Pixels the stream never sets show palette entry 0; filling first gives the same
 * result as filling only what deltas, early line ends and an early stop pass over,
 * because the cursor only ever moves forward. */
static int32_t decode_rle(Reader* in, Canvas* c, int four_bit)
{
    const Rgb zero = c->palette[0];
    if (zero.r || zero.g || zero.b) {
        const size_t n = (size_t)c->width * c->height;
        for (size_t i = 0; i < n; ++i)
            memcpy(c->block + 3 * i, &zero, 3);
    }
    for (;;) {
        const int first = getc(in->f);
        const int second = getc(in->f);
        if (first == EOF || second == EOF)
            return 0; /* data that stop before the end-of-bitmap marker are common */
        if (first > 0) {
            for (int i = 0; i < first; ++i)
                put(c, four_bit ? (uint8_t)((i & 1) ? (second & 0x0F) : (second >> 4)) : (uint8_t)second);
        } else if (second == 0) {
            c->x = 0;
            ++c->y;
        } else if (second == 1) {
            return 0;
        } else if (second == 2) {
            const int dx = getc(in->f);
            const int dy = getc(in->f);
            if (dx == EOF || dy == EOF)
                return 0;
            if (c->y + (uint64_t)dy >= c->height)
                return -2;
            c->x += (uint64_t)dx;
            c->y += (uint64_t)dy;
        } else {
            const int n = second;
            const int nbytes = four_bit ? (n + 1) / 2 : n;
            uint8_t run[256];
            const size_t got = fread(run, 1, (size_t)(nbytes + (nbytes & 1)), in->f);
            const int usable = got < (size_t)nbytes ? (int)got : nbytes;
            const int pixels = four_bit ? (usable * 2 < n ? usable * 2 : n) : usable;
            for (int i = 0; i < pixels; ++i)
                put(c, four_bit ? (uint8_t)((i & 1) ? (run[i / 2] & 0x0F) : (run[i / 2] >> 4)) : run[i]);
            if (usable < nbytes)
                return 0;
        }
    }
}

static int32_t decode_plain(Reader* in, uint8_t* block, uint32_t width, uint32_t height, uint32_t bpp,
                            const Rgb* palette)
{
    const size_t data_bytes = ((size_t)width * bpp + 7) / 8;
    const size_t row_bytes = ((size_t)width * bpp + 31) / 32 * 4;
    uint8_t* row = malloc(row_bytes);
    if (!row)
        return -3;
    for (uint32_t y = 0; y < height; ++y) {
        /* Only the last row's padding may be missing from the file. */
        if (fread(row, 1, row_bytes, in->f) < data_bytes) {
            free(row);
            return -2;
        }
        uint8_t* dst = block + (size_t)(height - 1 - y) * width * 3;
        for (uint32_t x = 0; x < width; ++x, dst += 3) {
            Rgb p;
            switch (bpp) {
            case 1: p = palette[(row[x / 8] >> (7 - x % 8)) & 1]; break;
            case 4: p = palette[(row[x / 2] >> ((x & 1) ? 0 : 4)) & 0x0F]; break;
            case 8: p = palette[row[x]]; break;
            default: {
                const uint8_t* s = row + (size_t)x * (bpp / 8);
                p.b = s[0];
                p.g = s[1];
                p.r = s[2];
            }
            }
            dst[0] = p.r;
            dst[1] = p.g;
            dst[2] = p.b;
        }
    }
    free(row);
    return 0;
}

int32_t korvel_read_bmp(const char* name, void** data, int32_t* width, int32_t* height)
{
    *data = NULL;
    Reader in = {fopen(name, "rb"), 0, 0, 0};
    if (!in.f)
        return -1;

    int32_t result = -1;
    uint8_t* block = NULL;
    Rgb palette[256];
    memset(palette, 0, sizeof palette);

    char magic[2];
    if (fread(magic, 1, 2, in.f) != 2 || magic[0] != 'B' || magic[1] != 'M')
        goto done;
    in.pos = 2;
    (void)read_uint(&in, 4); /* file size */
    (void)read_uint(&in, 4);
    uint32_t offset = read_uint(&in, 4);
    uint32_t header_size = read_uint(&in, 4);
    if (header_size > 65536) {
        in.big_endian = 1;
        offset = swap32(offset);
        header_size = swap32(header_size);
    }

    uint32_t w = 0, h = 0, bpp = 0, compression = 0, colours = 0;
    if (header_size == 12) {
        w = read_uint(&in, 2);
        h = read_uint(&in, 2);
        (void)read_uint(&in, 2);
        bpp = read_uint(&in, 2);
    } else if (header_size == 40) {
        w = read_uint(&in, 4);
        h = read_uint(&in, 4);
        (void)read_uint(&in, 2);
        bpp = read_uint(&in, 2);
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
            goto done;
        compression = read_uint(&in, 4);
        (void)read_uint(&in, 4);
        (void)read_uint(&in, 4);
        (void)read_uint(&in, 4);
        colours = read_uint(&in, 4);
        (void)read_uint(&in, 4);
    } else {
        goto done;
    }
    if (in.eof)
        goto done;
    *width = (int32_t)w;
    *height = (int32_t)h;
    /* Top-down (negative height) pictures are not supported; an empty one has no pixels. */
    if ((w & 0x80000000u) || (h & 0x80000000u) || w == 0 || h == 0)
        goto done;

    if (bpp <= 8) {
        /* The OS/2 form keeps 3-byte entries, as many as fit between the header and the
         * pixel data; the 40-byte form says how many 4-byte entries it has. */
        const size_t entry = header_size == 12 ? 3 : 4;
        uint64_t count = colours ? colours : (uint64_t)1 << bpp;
        if (entry == 3) {
            const uint64_t room = offset > in.pos ? (offset - in.pos) / 3 : 0;
            count = room < count ? room : count;
        }
        for (uint64_t i = 0; i < count && i < 256; ++i) {
            uint8_t e[4];
            if (fread(e, 1, entry, in.f) != entry)
                goto done;
            palette[i] = (Rgb){e[2], e[1], e[0]};
        }
        in.pos += entry * count;
    }

    block = korvel_alloc_rgb(w, h);
    if (!block) {
        result = -3;
        goto done;
    }
    if (in.pos > offset || fseek(in.f, (long)offset, SEEK_SET) != 0)
        goto done;

    if (compression == 0 && (bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24 || bpp == 32)) {
        result = decode_plain(&in, block, w, h, bpp, palette);
    } else if ((compression == 1 && bpp == 8) || (compression == 2 && bpp == 4)) {
        Canvas c = {block, w, h, 0, 0, palette};
        result = decode_rle(&in, &c, bpp == 4);
    }
    if (result == 0) {
        *data = block;
        block = NULL;
    }

done:
    free(block);
    fclose(in.f);
    return result;
}

int32_t BMPReadImage(const char* name, IMAGE* image)
{
    image->bits = 8;
    image->channels = 3;
    image->data = NULL;
    FILE* f = fopen(name, "rb");
    if (!f)
        return -1;
    unsigned char magic[2] = {0, 0};
    const size_t got = fread(magic, 1, 2, f);
    fclose(f);
    if (got == 2 && magic[0] == 'P' && (magic[1] == '2' || magic[1] == '3' || magic[1] == '5' || magic[1] == '6'))
        return korvel_read_pnm(name, &image->data, &image->width, &image->height);
    if (got == 2 && magic[0] == 'B' && magic[1] == 'M')
        return korvel_read_bmp(name, &image->data, &image->width, &image->height);
    return -4;
}
