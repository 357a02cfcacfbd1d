// Opens mutated ICS headers through the project's reader, with a data file beside them whose
// length the input also chooses, and reads a few planes and values: no header may crash the
// reader, read outside the data, or leave pixels uninitialised.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzScratch.h"
#include "ICSImageReader.h"

// Keeps the reads from being optimised away.
volatile unsigned icsFuzzSink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::filesystem::path& dir = FuzzFolder("lumora-fuzz-ics");
    if (size < 2)
        return 0;
    // The first two bytes give the data file's length (in units of 4 bytes), the rest is the header.
    const size_t idsBytes = (static_cast<size_t>(data[0]) | static_cast<size_t>(data[1]) << 8) * 4;
    std::vector<uint8_t> ids(idsBytes);
    for (size_t i = 0; i < ids.size(); ++i)
        ids[i] = static_cast<uint8_t>(i * 37 + (i >> 8));
    FuzzWriteFile(dir / "f.ics", data + 2, size - 2);
    FuzzWriteFile(dir / "f.ids", ids.data(), ids.size());

    ImageReader::ICSImageReader<unsigned short> reader(dir / "f.ics");
    icsFuzzSink = FuzzReadBack(reader);
    return 0;
}
