#pragma once

// The playback benchmarks' image: a time series written once to /tmp/lumora-bench, larger
// than the cache budget, and a pread of a frame's bytes as the baseline.

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace {

namespace pfs = std::filesystem;
constexpr int kPlayWidth = 1024;
constexpr int kPlayHeight = 1024;
// Playback: 48 time points of three uint16 channel planes of 1024 x 1024 (6 MiB a frame), the
// same samples as an ICS image (header and raw .ids data) and as a multi-page ImageJ TIFF.
constexpr int kPlayFrames = 48;
constexpr size_t kPlane = size_t(kPlayWidth) * kPlayHeight * 2;
constexpr size_t kFrameBytes = 3 * kPlane;
constexpr size_t kBudget = size_t(64) << 20;
const pfs::path kPlayDir = "/tmp/lumora-bench";

void FillPlane(std::vector<unsigned short>& plane, int k)
{
    for (size_t i = 0; i < plane.size(); ++i)
        plane[i] = static_cast<unsigned short>(i * 7 + size_t(k) * 1000);
}

// The ICS image; its .ids data file holds the planes in order (channel fastest), so pread of
// frame t reads the same bytes the reader maps.
const pfs::path& IcsFile()
{
    static const pfs::path header = [] {
        const pfs::path h = kPlayDir / "movie_frames.ics", data = kPlayDir / "movie_frames.ids";
        if (!pfs::exists(h) || !pfs::exists(data) || pfs::file_size(data) != kFrameBytes * kPlayFrames) {
            pfs::create_directories(kPlayDir);
            std::ofstream f(data, std::ios::binary);
            std::vector<unsigned short> plane(kPlane / 2);
            for (int k = 0; k < 3 * kPlayFrames; ++k) {
                FillPlane(plane, k);
                f.write(reinterpret_cast<const char*>(plane.data()), static_cast<std::streamsize>(kPlane));
            }
            std::ofstream(h, std::ios::binary)
                << "\t\nics_version\t1.0\nfilename\tmovie_frames\nlayout\tparameters\t5\n"
                << "layout\torder\tbits\tx\ty\tc\tt\nlayout\tsizes\t16\t" << kPlayWidth << "\t" << kPlayHeight << "\t3\t" << kPlayFrames
                << "\nlayout\tcoordinates\tvideo\nlayout\tsignificant_bits\t16\nrepresentation\tformat\tinteger\n"
                << "representation\tsign\tunsigned\nrepresentation\tcompression\tuncompressed\n"
                << "representation\tbyte_order\t1\t2\nend\n";
        }
        return h;
    }();
    return header;
}

// Reads a frame's bytes with pread: the three planes in a row from `offset` on.
bool PreadFrame(int fd, off_t offset, int index, unsigned char* out)
{
    for (int c = 0; c < 3; ++c) {
        const off_t at = offset + static_cast<off_t>((size_t(index) * 3 + size_t(c)) * kPlane);
        if (pread(fd, out + size_t(c) * kPlane, kPlane, at) != static_cast<ssize_t>(kPlane))
            return false;
    }
    return true;
}

} // namespace
