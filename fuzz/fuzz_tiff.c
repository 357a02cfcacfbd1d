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

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* path = fuzz_file(data, size);
    IMAGE image;
    fuzz_read(SimpleTIFFReadImage, path, &image, 1, 32, 0);
    DeleteImage(&image);
    fuzz_read(SimpleTIFFReadColorImage, path, &image, 3, 32, 0);
    DeleteImage(&image);
    return 0;
}
