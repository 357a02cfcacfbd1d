// The text parts of TIFF files on their own, where a whole file would waste most of the input
// on its structure: the first byte picks the OME-XML parser, the ImageJ description parser
// or the series name matcher (a chosen name, a NUL byte, then a candidate name); the rest is
// the text. Parsed sizes must be sane and the parsers must not fault or leak.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "TIFFImageReader.h"
#include "TiffDescription.h"

using namespace ImageReader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
    case 0: {
        OmeDescription ome;
        std::string error;
        if (ParseOmeDescription(text, ome, error)) {
            for (const OmeDescription::TiffData& d : ome.tiffData)
                if (d.file.size() > text.size())
                    abort();
        } else if (error.empty()) {
            abort();
        }
        break;
    }
    case 1: {
        ImageJDescription ij;
        if (ParseImageJDescription(text, ij) && (ij.channels < 1 || ij.slices < 1 || ij.frames < 1 || ij.images < 1))
            abort();
        break;
    }
    default: {
        const size_t nul = text.find('\0');
        const SeriesTemplate pattern(text.substr(0, nul));
        std::vector<long long> numbers;
        if (nul != std::string::npos && pattern.Match(text.substr(nul + 1), numbers)) {
            if (numbers.size() != pattern.Runs())
                abort();
            for (size_t k = 0; k < pattern.Runs(); ++k)
                if (numbers[k] < 0 || numbers[k] > 999999999)
                    abort();
        }
        for (size_t k = 0; k < pattern.Runs(); ++k)
            pattern.RunName(k);
        break;
    }
    }
    return 0;
}
