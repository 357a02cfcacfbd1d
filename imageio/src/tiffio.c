#include <stdlib.h>
#include <string.h>
#include <tiffio.h>

#include "korvel_internal.h"

/* The grey and colour readers differ only in the samples per pixel they accept and in
 * which photometric interpretations they invert. */
static int32_t read_tiff(const char* name, IMAGE* image, uint16_t wanted_samples)
{
    const int colour = wanted_samples == 3;
    TIFF* tif = TIFFOpen(name, "r");
    if (!tif) {
        fputs("Could not open incoming image\n", stderr);
        return 1;
    }

    uint8_t* block = NULL;
    uint16_t bits = 0, samples = 0, photometric = 0, fillorder = 0;
    uint32_t width = 0, height = 0;

    if (!TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits) || (bits != 8 && bits != 16 && bits != 32)) {
        fputs("Either undefined or unsupported number of bits per sample\n", stderr);
        goto fail;
    }
    if (!TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples) || samples != wanted_samples) {
        fputs("Either undefined or unsupported number of samples per pixel\n", stderr);
        goto fail;
    }

    /* A tiled file has no strips; reading it strip by strip would leave the block empty. */
    if (TIFFIsTiled(tif)) {
        fputs("Read error on input strip number 0\n", stderr);
        goto fail;
    }

    const int has_size = TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) && TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    int ok = 1;
    /* Bytes of decoded data the record promises; the strips must deliver at least that. */
    const size_t needed = has_size ? korvel_block_size(width, height, samples, bits / 8u, &ok) : 0;
    const tmsize_t stripsize = TIFFStripSize(tif);
    const uint32_t nstrips = TIFFNumberOfStrips(tif);
    size_t blocksize = 0;
    if (ok && stripsize > 0)
        blocksize = korvel_block_size((uint64_t)stripsize, nstrips, 1, 1, &ok);
    else
        ok = 0;
    if (ok && has_size && (width > INT32_MAX || height > INT32_MAX))
        ok = 0;
    if (colour)
        printf("bufferSize = %llu\n", (unsigned long long)stripsize * nstrips);
    if (ok)
        block = korvel_alloc(blocksize);
    if (!block) {
        fputs("Could not allocate enough memory for the uncompressed image\n", stderr);
        goto fail;
    }

    size_t offset = 0;
    uint32_t first_short = nstrips;
    for (uint32_t i = 0; i < nstrips; ++i) {
        const tmsize_t got = TIFFReadEncodedStrip(tif, i, block + offset, stripsize);
        if (got < 0) {
            fprintf(stderr, "Read error on input strip number %u\n", i);
            goto fail;
        }
        if (got < stripsize && first_short == nstrips)
            first_short = i;
        offset += (size_t)got;
    }
    if (has_size && offset < needed) {
        fprintf(stderr, "Read error on input strip number %u\n", first_short < nstrips ? first_short : nstrips);
        goto fail;
    }

    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) {
        fputs("Image has an undefined photometric interpretation\n", stderr);
        goto fail;
    }
    int invert = 0;
    if (colour) {
        invert = photometric != PHOTOMETRIC_RGB;
    } else if (photometric == PHOTOMETRIC_PALETTE) {
        /* Palette indices are not intensities; neither showing nor inverting them makes sense. */
        fputs("Image is a palette-colour image\n", stderr);
        goto fail;
    } else {
        invert = photometric == PHOTOMETRIC_MINISWHITE;
    }
    if (invert) {
        puts("Fixing the photometric interpretation");
        for (size_t i = 0; i < blocksize; ++i)
            block[i] = (uint8_t)~block[i];
    }

    if (!TIFFGetField(tif, TIFFTAG_FILLORDER, &fillorder)) {
        fputs("Image has an undefined fillorder\n", stderr);
        fillorder = FILLORDER_MSB2LSB;
    }
    /* libtiff already restores the bit order while decoding a strip; reversing the bits
     * once more would corrupt every sample, so only the note remains. */
    if (fillorder != FILLORDER_MSB2LSB)
        puts("Fixing the fillorder");

    if (!has_size) {
        fputs("Image does not define its width\n", stderr);
        goto fail;
    }

    TIFFClose(tif);
    image->width = (int32_t)width;
    image->height = (int32_t)height;
    image->bits = bits;
    image->channels = samples;
    image->data = block;
    return 0;

fail:
    free(block);
    TIFFClose(tif);
    return 1;
}

int32_t SimpleTIFFReadImage(const char* name, IMAGE* image)
{
    return read_tiff(name, image, 1);
}

int32_t SimpleTIFFReadColorImage(const char* name, IMAGE* image)
{
    return read_tiff(name, image, 3);
}

int32_t SimpleTIFFWriteImage(const IMAGE* image, const char* name)
{
    const int32_t bits = image->bits;
    int ok = 0;
    const size_t bytes = korvel_record_bytes(image, &ok);
    if (!ok || !image->data || image->width == 0 || image->height == 0 || (bits != 8 && bits != 16 && bits != 32)
        || (uint64_t)bytes > (uint64_t)INT64_MAX) {
        puts("Image record holds no writable image");
        return 1;
    }

    TIFF* tif = TIFFOpen(name, "w");
    if (!tif) {
        puts("Could not open output.tif for writing");
        return 1;
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, (uint32_t)image->width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, (uint32_t)image->height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, (uint16_t)bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, (uint16_t)1);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, (uint32_t)image->height);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    /* A full disk must not pass for a written file. */
    const int written = TIFFWriteEncodedStrip(tif, 0, image->data, (tmsize_t)bytes) == (tmsize_t)bytes
        && TIFFFlush(tif);
    TIFFClose(tif);
    if (!written) {
        puts("Could not write the image data");
        return 1;
    }
    return 0;
}
