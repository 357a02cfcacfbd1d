#include <tiffio.h>

#include "FuzzFile.h"

int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    (void)argc;
    (void)argv;
    /* libtiff's own diagnostics would drown the fuzzer's output and slow it down. */
    TIFFSetErrorHandler(NULL);
    TIFFSetWarningHandler(NULL);
    if (!freopen("/dev/null", "w", stdout))
        abort();
    return 0;
}

static void read_with(int32_t (*reader)(const char*, IMAGE*), const char* path, int channels)
{
    IMAGE image = {0, 0, 0, 0, NULL};
    if (reader(path, &image) == 0) {
        if (image.channels != channels || (image.bits != 8 && image.bits != 16 && image.bits != 32))
            abort();
        fuzz_check(&image, (size_t)image.bits / 8);
    } else if (image.data) {
        abort();
    }
    DeleteImage(&image);
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* path = fuzz_file(data, size);
    read_with(SimpleTIFFReadImage, path, 1);
    read_with(SimpleTIFFReadColorImage, path, 3);
    return 0;
}
