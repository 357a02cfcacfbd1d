// Opens a Zarr v3 array made of a mutated zarr.json and one mutated stored chunk (a shard with
// its index, for sharded arrays) through the project's reader and reads its planes: the input
// is the zarr.json text, a NUL byte, then the bytes stored for the first chunk (every chunk
// coordinate 0). The codec list alone also goes through the chain builder with a decode of
// the chunk bytes. No input may crash, read outside a buffer or leave pixels unset.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ChunkCodec.h"
#include "FuzzScratch.h"
#include "ZarrMetadata.h"
#include "ZarrReader.h"

// Keeps the reads from being optimised away.
volatile size_t zarrV3FuzzSink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::filesystem::path& dir = FuzzFolder("lumora-fuzz-zarr-v3");
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\0');
    const std::string meta = input.substr(0, split);
    const std::string chunk = split == std::string::npos ? std::string() : input.substr(split + 1);

    ImageReader::ZarrNode node;
    std::string why;
    if (!ImageReader::ParseZarrJson(meta, node, why) || !node.isArray)
        return 0;
    const ImageReader::ZarrArrayMeta& parsed = node.array;
    const size_t n = parsed.shape.size();
    // Huge planes or chunks would only measure malloc; the reader's own limits for them are
    // checked by the tests.
    const size_t chunkBytes = parsed.ChunkSamples() * ImageReader::SampleBytes(parsed.type);
    if (parsed.shape[n - 1] * parsed.shape[n - 2] > (1u << 20) || chunkBytes > (16u << 20))
        return 0;

    // The chain on its own, over the chunk's bytes as they are.
    bool bigEndian = false;
    if (const auto codec = ImageReader::MakeCodecChain(parsed.compressor, ImageReader::SampleBytes(parsed.type), parsed.chunks, bigEndian, why)) {
        std::vector<std::uint8_t> out(chunkBytes);
        codec->Decode(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size(), out.data(), out.size(), why);
        zarrV3FuzzSink = out.empty() ? 0 : out[0];
    }

    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    FuzzWriteFile(dir / "zarr.json", meta.data(), meta.size());
    const std::string key = parsed.ChunkKey(std::vector<std::uint64_t>(n, 0));
    if (key.find('/') != std::string::npos)
        std::filesystem::create_directories((dir / key).parent_path());
    if (split != std::string::npos)
        FuzzWriteFile(dir / key, chunk.data(), chunk.size());

    ImageReader::ZarrReader<unsigned short> reader(dir.string());
    zarrV3FuzzSink = FuzzReadBack(reader);
    return 0;
}
