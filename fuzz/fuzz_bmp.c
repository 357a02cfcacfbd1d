#include "FuzzFile.h"

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    IMAGE image = {0, 0, 0, 0, NULL};
    const int32_t r = BMPReadImage(fuzz_file(data, size), &image);
    if (r == 0) {
        if (image.bits != 8 || image.channels != 3)
            abort();
        fuzz_check(&image, 1);
    } else if (image.data) {
        abort(); /* a failure must leave no block behind */
    }
    DeleteImage(&image);
    return 0;
}
