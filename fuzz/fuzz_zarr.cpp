// Opens a Zarr array made of mutated metadata and one mutated chunk through the project's
// reader, and reads its planes: the input is the .zarray text, a NUL byte, then the bytes of
// chunk 0 (the first chunk along every axis). The same text also goes through the OME
// attribute parsers. No input may crash, read outside a buffer or leave pixels unset.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "FuzzScratch.h"
#include "ZarrMetadata.h"
#include "ZarrReader.h"


// Keeps the reads from being optimised away.
volatile size_t zarrFuzzSink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::filesystem::path& dir = FuzzFolder("lumora-fuzz-zarr");
    const char* text = reinterpret_cast<const char*>(data);
    const std::string input(text, size);
    const size_t split = input.find('\0');
    const std::string meta = input.substr(0, split);
    const std::string chunk = split == std::string::npos ? std::string() : input.substr(split + 1);

    ImageReader::ZarrMultiscale ms;
    std::string why;
    ImageReader::ParseMultiscales(meta, ms, why);
    zarrFuzzSink = ImageReader::ParseOmeroChannels(meta).size() + ms.paths.size();

    // Arrays whose planes or chunks are huge would only measure malloc; the reader's own
    // limits for them are checked by the tests.
    ImageReader::ZarrArrayMeta parsed;
    if (!ImageReader::ParseZarray(meta, parsed, why))
        return 0;
    const size_t n = parsed.shape.size();
    if (parsed.shape[n - 1] * parsed.shape[n - 2] > (1u << 20) || parsed.ChunkSamples() * ImageReader::SampleBytes(parsed.type) > (16u << 20))
        return 0;

    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    FuzzWriteFile(dir / ".zarray", meta.data(), meta.size());
    std::string key;
    for (size_t i = 0; i < n; ++i)
        key += i ? std::string(1, parsed.separator) + "0" : "0";
    if (parsed.separator == '/')
        std::filesystem::create_directories((dir / key).parent_path());
    if (split != std::string::npos)
        FuzzWriteFile(dir / key, chunk.data(), chunk.size());

    ImageReader::ZarrReader<unsigned short> reader(dir.string());
    zarrFuzzSink = FuzzReadBack(reader);
    return 0;
}
