// A view keeps the planes it showed, and planes of uncompressed files are lent from a memory
// mapping: when the file is cut while a view holds them, they read zeros. The view then
// draws them missing (no picture) instead of as zeros, which under an inverted table would
// be white.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

#include "OpenImage.h"
#include "ViewRender.h"
#include "ViewState.h"
#include "ViewWork.h"

namespace {

using namespace ImageViewer;
namespace fs = std::filesystem;
constexpr int W = 1024, H = 64; // 128 KiB planes: many pages each

// A 16-bit x, y, z ICS image of `z` planes holding 1000 + x.
fs::path writeIcs(const fs::path& folder, int z)
{
    const fs::path header = folder / "held.ics";
    std::ofstream(header, std::ios::binary)
        << "\t\nics_version\t1.0\nfilename\theld\nlayout\tparameters\t4\nlayout\torder\tbits\tx\ty\tz\n"
        << "layout\tsizes\t16\t" << W << "\t" << H << "\t" << z << "\nlayout\tcoordinates\tvideo\n"
        << "layout\tsignificant_bits\t16\nrepresentation\tformat\tinteger\nrepresentation\tsign\tunsigned\n"
        << "representation\tcompression\tuncompressed\nrepresentation\tbyte_order\t1\t2\nend\n";
    std::vector<std::uint16_t> data;
    for (int k = 0; k < z * H; ++k)
        for (int x = 0; x < W; ++x)
            data.push_back(static_cast<std::uint16_t>(1000 + x));
    std::ofstream(folder / "held.ids", std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size() * 2));
    return header;
}

ImageReader::Vector plane(int z)
{
    ImageReader::Vector p;
    p.push_back(z);
    return p;
}

TEST(CutPlanes, AViewsHeldPlanesCutFromTheirFileDrawMissing)
{
    const fs::path folder = fs::temp_directory_path() / ("lumora-cut-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    auto opened = ImageReader::OpenImage(writeIcs(folder, 4));
    ASSERT_TRUE(opened.reader) << opened.error;
    const ImageReader::Vector size = opened.reader->GetSize();

    ViewState state;
    state.axes = {0, 1, 2, 2};
    state.channelDim = -1;
    state.cursor = ImageReader::Vector(0, 0);
    state.cursor.push_back(3);
    DisplayState display;
    display.global.min = 1000;
    display.global.max = 1000 + W - 1;
    display.global.autoscaling = false;
    display.global.lut = "Inverted";

    ViewKey key;
    key.xdim = 0, key.ydim = 1;
    const auto held = [&](int z) {
        ViewData data;
        data.Reset(key, 1);
        ImageReader::ImageSlice<unsigned short> p = opened.reader->GetSlice(plane(z));
        EXPECT_TRUE(p.IsBorrowed());
        const ValueSpan span = ScanValues(p);
        data.Store(0, std::move(p), span);
        return data;
    };
    const ViewData first = held(0), last = held(3);
    const ColouredView before = ColourViewData(last, state, display, size);
    ASSERT_FALSE(before.picture.IsNull());
    EXPECT_EQ(before.picture.pixels[0], 255); // the bottom of the range, inverted: white

    fs::resize_file(folder / "held.ids", size_t(W) * H * 2 * 2); // planes 2 and 3 gone
    // Drawn again from the held plane: it reads zeros while drawn, and is drawn missing.
    EXPECT_TRUE(ColourViewData(last, state, display, size).picture.IsNull());
    EXPECT_TRUE(ColourViewData(last, state, display, size).picture.IsNull());
    // A plane the cut left alone still draws.
    const ColouredView kept = ColourViewData(first, state, display, size);
    ASSERT_FALSE(kept.picture.IsNull());
    EXPECT_EQ(kept.picture.pixels[0], 255);

    // Stored after the cut: kept as missing.
    ViewData stored;
    stored.Reset(key, 1);
    stored.Store(0, last.planes[0], ValueSpan{1000, 2023});
    EXPECT_TRUE(stored.planes[0].IsEmpty());
    fs::remove_all(folder);
}

} // namespace
