#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ImageReader {

// The compressor of a Zarr array: turns a stored chunk back into its raw bytes. Decoders are
// stateless and may run on several threads at once.
class ChunkCodec
{
public:
    virtual ~ChunkCodec() = default;
    // Fills exactly `outBytes` bytes of `out` from the stored chunk; false (with `why`) when the
    // data is damaged or decodes to another size.
    virtual bool Decode(const std::uint8_t* in, size_t inBytes, void* out, size_t outBytes, std::string& why) const = 0;
    // Bytes [offset, offset + length) of a chunk of `chunkBytes` raw bytes, into `out`. Codecs
    // that can decode part of a chunk (blosc, by blocks) do less work than Decode.
    virtual bool DecodePart(const std::uint8_t* in, size_t inBytes, size_t chunkBytes, size_t offset, size_t length, void* out,
                            std::string& why) const;
    // The stored form of `inBytes` raw bytes, for writing test and benchmark images.
    virtual bool Encode(const void* in, size_t inBytes, std::vector<std::uint8_t>& out) const = 0;
    // "blosc/lz4", "zlib", ... for the format name.
    virtual std::string Name() const = 0;
};

// The codec a .zarray "compressor" entry names, given as compact JSON text ("null" for none);
// null with `why` set for codecs this reader does not have. `itemBytes` is the sample size
// (blosc's shuffle works on it when encoding).
std::unique_ptr<ChunkCodec> MakeChunkCodec(const std::string& compressorJson, size_t itemBytes, std::string& why);

// The codec of a Zarr v3 codec list (compact JSON) for chunks of `chunkShape` (C order):
// optional "transpose", then "bytes" (its endianness goes to `bigEndian`), then any of
// "blosc", "gzip", "zstd" (one at most) and "crc32c". Decoding yields the chunk in C order,
// in the byte order `bigEndian` says.
std::unique_ptr<ChunkCodec> MakeCodecChain(const std::string& codecsJson, size_t itemBytes,
                                           const std::vector<std::uint64_t>& chunkShape, bool& bigEndian, std::string& why);

// CRC-32C (Castagnoli), as the crc32c codec appends it.
std::uint32_t Crc32c(const std::uint8_t* data, size_t bytes);

} // namespace ImageReader
