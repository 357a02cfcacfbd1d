// What files say about showing their channels: colours, lookup tables, display ranges and
// wavelengths, from files ImageJ and tifffile wrote (tests/data) and files written here.
#include <gtest/gtest.h>

#include <libics.h>
#include <libics_sensor.h>

#include <array>
#include <filesystem>
#include <vector>

#include "OpenImage.h"
#include "TestData.h"
#include "TiffDescription.h"
#include "TiffWriter.h"

using namespace ImageReader;
using tifftest::Folder;
using tifftest::Messages;
using tifftest::V;

namespace {

struct Expected
{
    std::array<int, 3> colour; // {-1, -1, -1}: none
    bool hasLut;
    double lo, hi; // lo == hi: no window
};

void Check(ImageReaderBase<unsigned short>& r, int dim, const std::vector<Expected>& expected, const std::string& what)
{
    EXPECT_EQ(r.GetChannelHintDim(), dim) << what;
    const std::vector<ChannelHint> hints = r.GetChannelHints();
    ASSERT_EQ(hints.size(), expected.size()) << what;
    for (size_t c = 0; c < hints.size(); ++c) {
        const ChannelHint& h = hints[c];
        const Expected& e = expected[c];
        EXPECT_EQ(h.hasColor, e.colour[0] >= 0) << what << " " << c;
        if (h.hasColor) {
            EXPECT_EQ((std::array<int, 3>{h.red, h.green, h.blue}), e.colour) << what << " " << c;
        }
        EXPECT_EQ(h.lut.size(), e.hasLut ? 768u : 0u) << what << " " << c;
        EXPECT_EQ(h.hasWindow, e.lo < e.hi) << what << " " << c;
        if (e.lo < e.hi) {
            EXPECT_DOUBLE_EQ(h.windowStart, e.lo) << what << " " << c;
            EXPECT_DOUBLE_EQ(h.windowEnd, e.hi) << what << " " << c;
        }
    }
}

OpenedImage Open(const std::string& path)
{
    OpenedImage opened = OpenImage(std::filesystem::path(path));
    EXPECT_NE(opened.reader, nullptr) << path << ": " << opened.error;
    return opened;
}

} // namespace

// ImageJ itself (tests/data/imagej/hyperstack-luts.ijm): blue, green and magenta ramps with
// a range per channel, in a big-endian file.
TEST(FileColours, ImageJHyperstackLutsAndRanges)
{
    OpenedImage opened = Open(testdata::Path("imagej/hyperstack-luts.tif"));
    if (!opened.reader)
        return;
    auto& r = *opened.reader;
    EXPECT_EQ(r.GetSize(), V({6, 4, 3, 2}));
    Check(r, 2, {{{0, 0, 255}, false, 1100, 1150}, {{0, 255, 0}, false, 2000, 2300}, {{255, 0, 255}, false, 3120, 3240}},
          "ImageJ");
    // The file's pixels where the hints say they are: channel 2 (index 1), slice 2.
    EXPECT_EQ(r.GetSlice(V({1, 1})).GetData()[3 * 6 + 2], 1000 * 2 + 100 * 2 + 10 * 3 + 2);
    EXPECT_TRUE(r.GetIndexWavelengths(2).empty());
}

// tifffile (tests/data/tiff-other/README.md): a fire-like table, a cyan ramp and a falling
// cyan table, in a little-endian file.
TEST(FileColours, TifffileImageJLuts)
{
    OpenedImage opened = Open(testdata::Path("tiff-other/imagej-luts.tif"));
    if (!opened.reader)
        return;
    auto& r = *opened.reader;
    Check(r, 2, {{{255, 255, 255}, true, 0, 1000}, {{0, 255, 255}, false, 2000, 3000}, {{0, 0, 0}, true, 4500, 5900}},
          "tifffile");
    const std::vector<ChannelHint> hints = r.GetChannelHints();
    if (hints.size() == 3 && hints[0].lut.size() == 768 && hints[2].lut.size() == 768) {
        // Entry i of the first is (3i, 3i - 255, 3i - 510) clamped to 0..255, as written.
        const std::vector<std::uint8_t>& fire = hints[0].lut;
        EXPECT_EQ((std::array<int, 3>{fire[3 * 100], fire[3 * 100 + 1], fire[3 * 100 + 2]}), (std::array<int, 3>{255, 45, 0}));
        EXPECT_EQ((std::array<int, 3>{fire[3 * 50], fire[3 * 50 + 1], fire[3 * 50 + 2]}), (std::array<int, 3>{150, 0, 0}));
        const std::vector<std::uint8_t>& falling = hints[2].lut;
        EXPECT_EQ((std::array<int, 3>{falling[0], falling[1], falling[2]}), (std::array<int, 3>{0, 255, 255}));
        EXPECT_EQ(falling[3 * 255 + 1], 0);
    }
}

// OME's Color is signed RGBA: 65535 blue, 16711935 green, -16776961 red (tifffile's file);
// the same bits unsigned, -1 (the default) and a wavelength in µm (written here).
TEST(FileColours, OmeColorsAndEmissionWavelengths)
{
    OpenedImage opened = Open(testdata::Path("tiff-other/ome-colors.ome.tif"));
    if (opened.reader) {
        auto& r = *opened.reader;
        Check(r, 2, {{{0, 0, 255}, false, 0, 0}, {{0, 255, 0}, false, 0, 0}, {{255, 0, 0}, false, 0, 0}}, "tifffile OME");
        EXPECT_EQ(r.GetIndexWavelengths(2), (std::vector<double>{461, 510, 610}));
        EXPECT_TRUE(r.GetIndexWavelengths(0).empty());
    }

    Folder folder;
    tifftest::Page g;
    g.description = "<?xml version=\"1.0\"?><OME xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\">"
                    "<Image ID=\"Image:0\"><Pixels ID=\"Pixels:0\" DimensionOrder=\"XYCZT\" Type=\"uint16\" SizeX=\"3\" "
                    "SizeY=\"2\" SizeC=\"3\" SizeZ=\"1\" SizeT=\"1\">"
                    "<Channel ID=\"Channel:0:0\" Name=\"a\" Color=\"4278190335\" EmissionWavelength=\"0.52\" "
                    "EmissionWavelengthUnit=\"µm\"/>"
                    "<Channel ID=\"Channel:0:1\" Name=\"b\" Color=\"-1\"/>"
                    "<Channel ID=\"Channel:0:2\" Name=\"c\" Color=\"-16744193\" EmissionWavelength=\"nonsense\"/>"
                    "</Pixels></Image></OME>";
    tifftest::Write(folder.File("own.ome.tif"), g, 3, [](int p, int, int, int) { return p; });
    OpenedImage own = Open(folder.File("own.ome.tif"));
    if (!own.reader)
        return;
    const std::vector<ChannelHint> hints = own.reader->GetChannelHints();
    ASSERT_EQ(hints.size(), 3u);
    EXPECT_EQ((std::array<int, 4>{hints[0].hasColor, hints[0].red, hints[0].green, hints[0].blue}),
              (std::array<int, 4>{1, 255, 0, 0}));
    EXPECT_DOUBLE_EQ(hints[0].wavelength, 520.0);
    EXPECT_FALSE(hints[1].hasColor);
    // -16744193 is 0xFF0080FF: red 255, green 0, blue 128.
    EXPECT_EQ((std::array<int, 3>{hints[2].red, hints[2].green, hints[2].blue}), (std::array<int, 3>{255, 0, 128}));
    EXPECT_EQ(hints[2].wavelength, 0.0);
    // Not every channel has a wavelength: the axis has none.
    EXPECT_TRUE(own.reader->GetIndexWavelengths(2).empty());
}

// The description's min and max for a plain ImageJ image; a metadata block that is cut short
// or of another kind gives what it holds and nothing else.
TEST(FileColours, ImageJDescriptionRangeAndDamagedMetadata)
{
    Folder folder;
    tifftest::Page g;
    g.description = "ImageJ=1.53t\nmin=12.5\nmax=300.0\n";
    tifftest::Write(folder.File("plain.tif"), g, 1, [](int, int, int x, int) { return x; });
    OpenedImage plain = Open(folder.File("plain.tif"));
    if (plain.reader)
        Check(*plain.reader, -1, {{{-1, -1, -1}, false, 12.5, 300}}, "description");

    // "IJIJ", one "rang" part of two big-endian doubles (1.0, 2.0), one "luts" part cut short.
    std::vector<unsigned char> block = {'I', 'J', 'I', 'J', 'r', 'a', 'n', 'g', 0, 0, 0, 1, 'l', 'u', 't', 's', 0, 0, 0, 1};
    const unsigned char one[8] = {0x3f, 0xf0, 0, 0, 0, 0, 0, 0}, two[8] = {0x40, 0, 0, 0, 0, 0, 0, 0};
    block.insert(block.end(), one, one + 8);
    block.insert(block.end(), two, two + 8);
    block.resize(block.size() + 100, 7);
    const std::uint32_t counts[] = {20, 16, 768};
    ImageJMetadata metadata;
    EXPECT_TRUE(ParseImageJMetadata(block.data(), block.size(), counts, 3, metadata));
    EXPECT_EQ(metadata.ranges, (std::vector<double>{1.0, 2.0}));
    EXPECT_TRUE(metadata.luts.empty());
    const std::uint32_t lying[] = {4000, 16};
    EXPECT_FALSE(ParseImageJMetadata(block.data(), block.size(), lying, 2, metadata));
    block[0] = 'X';
    EXPECT_FALSE(ParseImageJMetadata(block.data(), block.size(), counts, 3, metadata));
}

// ICS has no colours: a wavelength axis from its position parameters in nm, or the sensor's
// emission wavelengths for a channel axis.
TEST(FileColours, IcsWavelengths)
{
    Folder folder;
    const auto write = [&](const std::string& name, const char* third, const char* unit, bool sensor) {
        const std::string path = folder.File(name);
        ICS* ics = nullptr;
        ASSERT_EQ(IcsOpen(&ics, path.c_str(), "w2"), IcsErr_Ok);
        const size_t dims[3] = {4, 3, 3};
        static std::vector<unsigned short> data(36, 5);
        IcsSetLayout(ics, Ics_uint16, 3, dims);
        IcsSetData(ics, data.data(), data.size() * 2);
        IcsSetOrder(ics, 0, "x", "x");
        IcsSetOrder(ics, 1, "y", "y");
        IcsSetOrder(ics, 2, third, third);
        if (unit)
            IcsSetPosition(ics, 2, 0.4, 0.05, unit);
        if (sensor) {
            IcsEnableWriteSensor(ics, 1);
            IcsSetSensorType(ics, 0, "CONFOCAL");
            IcsSetSensorChannels(ics, 3);
            const double em[3] = {450, 520, 600};
            for (int c = 0; c < 3; ++c) {
                IcsSetSensorType(ics, c, "CONFOCAL");
                IcsSetSensorEmissionWavelength(ics, c, em[c]);
            }
        }
        ASSERT_EQ(IcsClose(ics), IcsErr_Ok);
    };
    write("axis.ics", "lambda", "um", false);
    write("sensor.ics", "c", nullptr, true);
    write("depth.ics", "z", "um", true);
    Messages quiet;
    OpenedImage axis = Open(folder.File("axis.ics"));
    if (axis.reader) {
        const std::vector<double> nm = axis.reader->GetIndexWavelengths(2);
        ASSERT_EQ(nm.size(), 3u);
        EXPECT_NEAR(nm[0], 400, 1e-9);
        EXPECT_NEAR(nm[2], 500, 1e-9);
        EXPECT_EQ(axis.reader->GetChannelHintDim(), 2);
    }
    OpenedImage sensor = Open(folder.File("sensor.ics"));
    if (sensor.reader) {
        EXPECT_EQ(sensor.reader->GetIndexWavelengths(2), (std::vector<double>{450, 520, 600}));
        const std::vector<ChannelHint> hints = sensor.reader->GetChannelHints();
        ASSERT_EQ(hints.size(), 3u);
        EXPECT_EQ(hints[1].wavelength, 520);
        EXPECT_FALSE(hints[1].hasColor);
    }
    OpenedImage depth = Open(folder.File("depth.ics"));
    if (depth.reader) {
        EXPECT_TRUE(depth.reader->GetIndexWavelengths(2).empty());
        EXPECT_TRUE(depth.reader->GetChannelHints().empty());
    }
}
