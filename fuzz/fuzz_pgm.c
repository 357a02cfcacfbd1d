#include "FuzzFile.h"

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    IMAGE image = {0, 0, 0, 0, NULL};
    const int32_t r = PGMReadImage(fuzz_file(data, size), &image);
    if (r == 0) {
        if ((image.bits != 8 && image.bits != 16) || !image.data)
            abort();
        if (image.width > 0 && image.height > 0)
            fuzz_check(&image, (size_t)image.bits / 8);
        if (ConvertImageInt16(&image) != 0 || image.bits != 16)
            abort();
    } else if (image.data) {
        abort();
    }
    DeleteImage(&image);
    return 0;
}
