#include <gtest/gtest.h>

#include <libics.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ICSImageReader.h"
#include "TIFFStackReader.h"
#include "TestData.h"
#include "TiffDescription.h"
#include "TiffWriter.h"
#include "TimeUnit.h"
#include "ZarrReader.h"

using namespace ImageReader;
using tifftest::Folder;

TEST(TimeUnit, NamesOfTime)
{
    const struct { const char* unit; double seconds; } cases[] = {
        {"s", 1},        {"sec", 1},       {"Seconds", 1}, {"ms", 1e-3},   {"millisecond", 1e-3},
        {"\xC2\xB5s", 1e-6}, {"us", 1e-6}, {"ns", 1e-9},   {"min", 60},    {"minute", 60},
        {"h", 3600},     {"hours", 3600},  {"day", 86400}, {"um", 0},      {"m", 0},
        {"", 0},         {"pixel", 0},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(SecondsPerUnit(c.unit), c.seconds) << c.unit;
}

TEST(DimInterval, ImageJFrameIntervalInItsTimeUnit)
{
    const struct { const char* text; double seconds; } cases[] = {
        {"ImageJ=1.54f\nframes=3\nfinterval=2\n", 2.0},
        {"ImageJ=1.54f\nframes=3\nfinterval=2\ntunit=ms\n", 0.002},
        {"ImageJ=1.54f\nframes=3\ntunit=min\r\nfinterval=0.5\r\n", 30.0},
        {"ImageJ=1.54f\nframes=3\nfinterval=2\ntunit=parsec\n", 0.0},
        {"ImageJ=1.54f\nframes=3\nfinterval=-1\n", 0.0},
        {"ImageJ=1.54f\nframes=3\n", 0.0},
    };
    for (const auto& c : cases) {
        ImageJDescription ij;
        ASSERT_TRUE(ParseImageJDescription(c.text, ij));
        EXPECT_DOUBLE_EQ(ij.frameIntervalS, c.seconds) << c.text;
    }
}

// Files another program wrote (tests/data/tiff-other/README.md has the commands).
TEST(DimInterval, RealImageJAndOmeTimeSeries)
{
    TIFFStackReader<unsigned short> ij(testdata::Path("tiff-other/imagej-finterval.tif"));
    ASSERT_EQ(ij.GetSize().size(), 3u) << ij.GetError();
    EXPECT_EQ(ij.GetDimName(2), "t");
    EXPECT_DOUBLE_EQ(ij.GetDimInterval(2), 150.0); // 2.5 min
    EXPECT_DOUBLE_EQ(ij.GetDimInterval(0), 0.0);

    TIFFStackReader<unsigned short> ome(testdata::Path("tiff-other/ome-timeincrement.ome.tif"));
    ASSERT_EQ(ome.GetSize().size(), 3u) << ome.GetError();
    EXPECT_EQ(ome.GetDimName(2), "t");
    EXPECT_DOUBLE_EQ(ome.GetDimInterval(2), 0.5);

    // A hyperstack without finterval has a z spacing and no interval, t included.
    TIFFStackReader<unsigned short> stack(testdata::Path("tiff-other/imagej-hyperstack.tif"));
    ASSERT_EQ(stack.GetSize().size(), 5u);
    for (unsigned d = 0; d < 5; ++d)
        EXPECT_DOUBLE_EQ(stack.GetDimInterval(d), 0.0) << d;
    EXPECT_DOUBLE_EQ(stack.GetDimPixelSize(3), 750.0);
}

TEST(DimInterval, OmePlanesDeltaT)
{
    const auto ome = [](const std::string& planes) {
        return "<?xml version=\"1.0\"?><OME xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\">"
               "<Image ID=\"Image:0\"><Pixels ID=\"Pixels:0\" DimensionOrder=\"XYCZT\" Type=\"uint16\" SizeX=\"3\" "
               "SizeY=\"2\" SizeC=\"2\" SizeZ=\"1\" SizeT=\"3\">" + planes + "</Pixels></Image></OME>";
    };
    const struct { const char* what; std::string planes; double seconds; } cases[] = {
        // Channel 1's planes come later within each time point; only channel 0 counts.
        {"minutes", "<Plane TheC=\"0\" TheT=\"0\" DeltaT=\"0\" DeltaTUnit=\"min\"/>"
                    "<Plane TheC=\"1\" TheT=\"0\" DeltaT=\"0.2\" DeltaTUnit=\"min\"/>"
                    "<Plane TheC=\"0\" TheT=\"1\" DeltaT=\"1.5\" DeltaTUnit=\"min\"/>"
                    "<Plane TheC=\"0\" TheT=\"2\" DeltaT=\"3\" DeltaTUnit=\"min\"/>", 90.0},
        {"seconds by default", "<Plane TheT=\"0\" DeltaT=\"10\"/><Plane TheT=\"2\" DeltaT=\"14\"/>", 2.0},
        {"one time point", "<Plane TheT=\"0\" DeltaT=\"10\"/>", 0.0},
        {"going back", "<Plane TheT=\"0\" DeltaT=\"10\"/><Plane TheT=\"1\" DeltaT=\"4\"/>", 0.0},
    };
    for (const auto& c : cases) {
        OmeDescription d;
        std::string error;
        ASSERT_TRUE(ParseOmeDescription(ome(c.planes), d, error)) << error;
        EXPECT_DOUBLE_EQ(d.timeIncrementS, c.seconds) << c.what;
    }
}

TEST(DimInterval, IcsAxisInATimeUnit)
{
    Folder folder;
    const std::string path = folder.File("t.ics");
    std::vector<unsigned short> data(2 * 2 * 3 * 2, 7);
    ICS* ics = nullptr;
    ASSERT_EQ(IcsOpen(&ics, path.c_str(), "w2"), IcsErr_Ok);
    const size_t dims[] = {2, 2, 3, 2};
    IcsSetLayout(ics, Ics_uint16, 4, dims);
    IcsSetData(ics, data.data(), data.size() * sizeof(unsigned short));
    const char* order[] = {"x", "y", "t", "z"};
    const double scale[] = {0.1, 0.1, 2.5, 0.3};
    const char* unit[] = {"um", "um", "ms", "um"};
    for (int i = 0; i < 4; ++i) {
        IcsSetOrder(ics, i, order[i], order[i]);
        IcsSetPosition(ics, i, 0.0, scale[i], unit[i]);
    }
    ASSERT_EQ(IcsClose(ics), IcsErr_Ok);
    ICSImageReader<unsigned short> r(path);
    ASSERT_EQ(r.GetSize().size(), 4u) << r.GetError();
    EXPECT_DOUBLE_EQ(r.GetDimInterval(2), 0.0025);
    EXPECT_DOUBLE_EQ(r.GetDimInterval(3), 0.0);
    EXPECT_DOUBLE_EQ(r.GetDimPixelSize(3), 300.0);
    EXPECT_DOUBLE_EQ(r.GetDimInterval(9), 0.0);
}

TEST(DimInterval, OmeZarrTimeAxisScale)
{
    Folder folder;
    const std::filesystem::path root = folder.File("movie.zarr");
    std::filesystem::create_directories(root / "0");
    std::ofstream(root / ".zgroup") << R"({"zarr_format": 2})";
    std::ofstream(root / ".zattrs") << R"({"multiscales": [{"version": "0.4", "axes": [
        {"name": "t", "type": "time", "unit": "minute"},
        {"name": "y", "type": "space", "unit": "micrometer"},
        {"name": "x", "type": "space", "unit": "micrometer"}],
        "datasets": [{"path": "0", "coordinateTransformations": [{"type": "scale", "scale": [0.5, 0.2, 0.2]}]}]}]})";
    std::ofstream(root / "0" / ".zarray") << R"({"zarr_format": 2, "shape": [3, 4, 5], "chunks": [1, 4, 5],
        "dtype": "<u2", "compressor": null, "fill_value": 0, "order": "C", "filters": null})";
    ZarrReader<unsigned short> r(root.string());
    ASSERT_EQ(r.GetSize().size(), 3u) << r.GetError();
    EXPECT_EQ(r.GetDimName(2), "t");
    EXPECT_DOUBLE_EQ(r.GetDimInterval(2), 30.0);
    EXPECT_DOUBLE_EQ(r.GetDimPixelSize(2), 0.0);
    EXPECT_DOUBLE_EQ(r.GetDimInterval(0), 0.0);
    EXPECT_DOUBLE_EQ(r.GetDimPixelSize(0), 200.0);
}
