#include "FuzzFile.h"

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    IMAGE image;
    /* A 0 x n picture is a valid PGM file. */
    if (fuzz_read(PGMReadImage, fuzz_file(data, size), &image, 1, 16, 1)
        && (ConvertImageInt16(&image) != 0 || image.bits != 16))
        abort();
    DeleteImage(&image);
    return 0;
}
