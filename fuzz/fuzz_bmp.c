#include "FuzzFile.h"

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    IMAGE image;
    fuzz_read(BMPReadImage, fuzz_file(data, size), &image, 3, 8, 0);
    DeleteImage(&image);
    return 0;
}
