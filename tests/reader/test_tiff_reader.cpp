// Single TIFF files: multi-page stacks, ImageJ and OME descriptions, layouts and sample
// types, calibration, refusals and diagnostics. Files are written here with libtiff.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <thread>

#include <korvel.h>

#include "Diagnostics.h"
#include "OpenImage.h"
#include "TestData.h"
#include "TiffWriter.h"

using namespace ImageReader;
using tifftest::Folder;
using tifftest::Messages;
using tifftest::V;
using tifftest::Page;

namespace {

using Reader = std::unique_ptr<ImageReaderBase<unsigned short>>;

Reader Open(const std::string& path)
{
    OpenedImage opened = OpenImage(path);
    EXPECT_NE(opened.reader, nullptr) << path << ": " << opened.error;
    return std::move(opened.reader);
}

std::vector<std::string> Names(ImageReaderBase<unsigned short>& r)
{
    std::vector<std::string> names;
    for (unsigned d = 0; d < r.GetSize().size(); ++d)
        names.push_back(r.GetDimName(d));
    return names;
}

std::vector<double> PixelSizes(ImageReaderBase<unsigned short>& r)
{
    std::vector<double> sizes;
    for (unsigned d = 0; d < r.GetSize().size(); ++d)
        sizes.push_back(r.GetDimPixelSize(d));
    return sizes;
}

// Every sample of a file of `pages` pages, one page per plane along the last dimension and
// the samples of a page along dimension 2 when there are several, read back by value and
// as display values.
void ExpectSamples(ImageReaderBase<unsigned short>& r, const Page& g, int pages, const tifftest::Formula& f,
                   const std::string& what)
{
    const Vector size = r.GetSize();
    const bool channels = g.samples > 1;
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (int p = 0; p < pages; ++p)
        for (int s = 0; s < g.samples; ++s)
            for (unsigned y = 0; y < g.height; ++y)
                for (unsigned x = 0; x < g.width; ++x) {
                    lo = std::min(lo, f(p, s, static_cast<int>(x), static_cast<int>(y)));
                    hi = std::max(hi, f(p, s, static_cast<int>(x), static_cast<int>(y)));
                }
    // The display offsets of the 8- and 16-bit types are fixed; wider integers of a small
    // range are shifted by their smallest value; a range wider than 16 bits is spread.
    double offset = lo;
    bool exact = hi - lo <= 65535 && !(g.format == SAMPLEFORMAT_IEEEFP);
    if (g.bits <= 16)
        offset = g.format == SAMPLEFORMAT_INT ? -std::ldexp(1.0, g.bits - 1) : 0.0;
    else if (exact && lo >= 0 && hi <= 65535)
        offset = 0;
    for (int p = 0; p < pages; ++p)
        for (int s = 0; s < g.samples; ++s) {
            Vector plane;
            if (channels)
                plane.push_back(s);
            if (pages > 1)
                plane.push_back(p);
            const ImageSlice<unsigned short> slice = r.GetSlice(plane);
            ASSERT_FALSE(slice.IsEmpty()) << what << " page " << p;
            ASSERT_EQ(slice.GetSize(), V({static_cast<int>(g.width), static_cast<int>(g.height)})) << what;
            for (unsigned y = 0; y < g.height; ++y)
                for (unsigned x = 0; x < g.width; ++x) {
                    const double real = f(p, s, static_cast<int>(x), static_cast<int>(y));
                    Vector at = V({static_cast<int>(x), static_cast<int>(y)});
                    for (unsigned i = 0; i < plane.size(); ++i)
                        at.push_back(plane[static_cast<int>(i)]);
                    EXPECT_EQ(r.GetValue(at), std::optional<double>(real)) << what << " p" << p << " s" << s;
                    const unsigned short shown = slice.GetData()[y * g.width + x];
                    const double expected = exact ? real - offset : real == lo ? 0 : real == hi ? 65535 : -1;
                    if (expected >= 0) {
                        EXPECT_EQ(shown, expected) << what << " p" << p << " s" << s << " x" << x << " y" << y;
                    }
                }
        }
    EXPECT_EQ(size.size(), 2u + (channels ? 1 : 0) + (pages > 1 ? 1 : 0)) << what;
}

} // namespace

TEST(TiffFile, LayoutsAndSampleTypesReadByValue)
{
    struct Case {
        const char* what;
        Page page;
        int pages;
        tifftest::Formula f;
        std::vector<std::string> names;
        std::string format;
    };
    const auto g = [](std::uint16_t bits, std::uint16_t format) {
        Page p;
        p.bits = bits;
        p.format = format;
        return p;
    };
    Page tiled = g(16, SAMPLEFORMAT_UINT);
    tiled.width = 40, tiled.height = 20, tiled.tile = 16;
    Page rgb = g(8, SAMPLEFORMAT_UINT);
    rgb.samples = 3, rgb.rowsPerStrip = 2;
    Page planar = g(16, SAMPLEFORMAT_UINT);
    planar.samples = 3, planar.planar = true;
    Page tiledPlanar = tiled;
    tiledPlanar.bits = 8, tiledPlanar.samples = 3, tiledPlanar.planar = true;
    Page deflate = g(16, SAMPLEFORMAT_INT);
    deflate.compression = COMPRESSION_ADOBE_DEFLATE, deflate.rowsPerStrip = 2, deflate.width = 17, deflate.height = 5;
    Page lzw = g(32, SAMPLEFORMAT_IEEEFP);
    lzw.compression = COMPRESSION_LZW, lzw.rowsPerStrip = 3, lzw.width = 9, lzw.height = 7;
    Page tiledRgb = tiled;
    tiledRgb.samples = 3;

    const auto ramp = [](double base, double page) {
        return [base, page](int p, int s, int x, int y) { return base + page * p + 100.0 * s + 10.0 * y + x; };
    };
    const Case cases[] = {
        {"uint8", g(8, SAMPLEFORMAT_UINT), 1, ramp(3, 0), {"x", "y"}, "TIFF, uint8"},
        {"int8", g(8, SAMPLEFORMAT_INT), 3, [](int p, int, int x, int y) { return -100.0 + 40 * p + 3 * y + x; },
         {"x", "y", "z"}, "multi-page TIFF, int8"},
        {"uint16", g(16, SAMPLEFORMAT_UINT), 3, ramp(60000, 1000), {"x", "y", "z"}, "multi-page TIFF, uint16"},
        {"int16", g(16, SAMPLEFORMAT_INT), 2, ramp(-30000, 1000), {"x", "y", "z"}, "multi-page TIFF, int16"},
        {"uint32 narrow", g(32, SAMPLEFORMAT_UINT), 2, ramp(4e9, 1000), {"x", "y", "z"}, "multi-page TIFF, uint32"},
        {"int32 wide", g(32, SAMPLEFORMAT_INT), 3, ramp(-2e9, 1e9), {"x", "y", "z"}, "multi-page TIFF, int32"},
        {"uint64 narrow", g(64, SAMPLEFORMAT_UINT), 2, ramp(std::ldexp(1.0, 40), 7), {"x", "y", "z"}, "multi-page TIFF, uint64"},
        {"int64 wide", g(64, SAMPLEFORMAT_INT), 2, ramp(-std::ldexp(1.0, 50), std::ldexp(1.0, 49)), {"x", "y", "z"},
         "multi-page TIFF, int64"},
        {"float32", g(32, SAMPLEFORMAT_IEEEFP), 2,
         [](int p, int, int x, int y) { return 0.5 + 1.25 * p - 0.125 * y + 0.0625 * x; }, {"x", "y", "z"},
         "multi-page TIFF, float32"},
        {"float64", g(64, SAMPLEFORMAT_IEEEFP), 1, [](int, int, int x, int y) { return -1e-3 * x + 1e10 * y; },
         {"x", "y"}, "TIFF, float64"},
        {"tiled", tiled, 2, ramp(0, 1000), {"x", "y", "z"}, "multi-page TIFF, uint16"},
        {"rgb contiguous", rgb, 1, [](int, int s, int x, int y) { return 50.0 * s + 10 * y + x; }, {"x", "y", "c"},
         "TIFF, uint8"},
        {"rgb planar", planar, 2, ramp(7, 1000), {"x", "y", "c", "z"}, "multi-page TIFF, uint16"},
        {"rgb tiled planar", tiledPlanar, 1, [](int, int s, int x, int y) { return 60.0 * s + y + x; }, {"x", "y", "c"},
         "TIFF, uint8"},
        {"rgb tiled contiguous", tiledRgb, 1, ramp(1, 0), {"x", "y", "c"}, "TIFF, uint16"},
        {"deflate", deflate, 3, ramp(-500, 3000), {"x", "y", "z"}, "multi-page TIFF, int16"},
        {"lzw float", lzw, 2, [](int p, int, int x, int y) { return p * 1e6 + y * 0.5 - x * 0.25; }, {"x", "y", "z"},
         "multi-page TIFF, float32"},
    };
    for (const Case& c : cases) {
        Folder folder;
        const std::string path = folder.File("stack.tif");
        tifftest::Write(path, c.page, c.pages, c.f);
        const Reader r = Open(path);
        if (!r)
            continue;
        EXPECT_EQ(Names(*r), c.names) << c.what;
        EXPECT_EQ(r->GetFormatName(), c.format) << c.what;
        ExpectSamples(*r, c.page, c.pages, c.f, c.what);
    }
}

TEST(TiffFile, RgbChannelsAreNamedByColour)
{
    Folder folder;
    Page rgb;
    rgb.bits = 8;
    rgb.samples = 3;
    tifftest::Write(folder.File("rgb.tif"), rgb, 1, [](int, int s, int, int) { return s; });
    const Reader r = Open(folder.File("rgb.tif"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->GetIndexName(2, 0) + r->GetIndexName(2, 1) + r->GetIndexName(2, 2), "redgreenblue");
    EXPECT_EQ(r->GetIndexName(2, 3), "");
    EXPECT_EQ(r->GetIndexName(0, 0), "");
}

TEST(TiffFile, ImageJHyperstacksFollowTheirDescription)
{
    struct Case {
        std::string description;
        int pages;
        std::vector<std::string> names;
        Vector size;
        std::vector<double> nm;
        // Plane position, page it must come from.
        std::vector<std::pair<Vector, int>> planes;
        std::string format;
    };
    const std::string hyper = "ImageJ=1.54f\nimages=24\nchannels=2\nslices=4\nframes=3\nhyperstack=true\nmode=composite\n"
                              "unit=micron\nspacing=0.5\nloop=false\n";
    const Case cases[] = {
        {hyper, 24, {"x", "y", "c", "z", "t"}, V({3, 2, 2, 4, 3}), {250, 250, 0, 500, 0},
         {{V({1, 2, 1}), 1 + 2 * 2 + 8 * 1}, {V({0, 3, 2}), 6 + 16}, {V({1, 0, 0}), 1}}, "ImageJ TIFF, uint16"},
        {"ImageJ=1.54f\nimages=5\nslices=5\nunit=\\u00B5m\nspacing=2.0\nloop=false\n", 5, {"x", "y", "z"}, V({3, 2, 5}),
         {250, 250, 2000}, {{V({4}), 4}}, "ImageJ TIFF, uint16"},
        {"ImageJ=1.54f\nimages=6\nframes=6\nunit=nm\n", 6, {"x", "y", "t"}, V({3, 2, 6}), {0.25, 0.25, 0},
         {{V({5}), 5}}, "ImageJ TIFF, uint16"},
        // Channels and frames, no slices: "images" alone does not add a z.
        {"ImageJ=1.54f\nimages=6\nchannels=3\nframes=2\nunit=pixel\n", 6, {"x", "y", "c", "t"}, V({3, 2, 3, 2}),
         {0, 0, 0, 0}, {{V({2, 1}), 5}}, "ImageJ TIFF, uint16"},
        // A description promising more images than there are pages is not believed.
        {"ImageJ=1.54f\nimages=100\nslices=100\nunit=micron\n", 4, {"x", "y", "z"}, V({3, 2, 4}), {250, 250, 0},
         {{V({3}), 3}}, "multi-page TIFF, uint16"},
    };
    for (const Case& c : cases) {
        Folder folder;
        Page g;
        g.description = c.description;
        g.xres = g.yres = 4; // pixels per unit: 0.25 unit wide
        g.resolutionUnit = RESUNIT_NONE;
        tifftest::Write(folder.File("hyper.tif"), g, c.pages, [](int p, int, int x, int) { return 100 * p + x; });
        Messages quiet;
        const Reader r = Open(folder.File("hyper.tif"));
        if (!r)
            continue;
        EXPECT_EQ(Names(*r), c.names) << c.description;
        EXPECT_EQ(r->GetSize(), c.size) << c.description;
        EXPECT_EQ(PixelSizes(*r), c.nm) << c.description;
        EXPECT_EQ(r->GetFormatName(), c.format) << c.description;
        for (const auto& [plane, page] : c.planes) {
            const ImageSlice<unsigned short> slice = r->GetSlice(plane);
            ASSERT_FALSE(slice.IsEmpty()) << c.description;
            EXPECT_EQ(slice.GetData()[2], 100 * page + 2) << c.description;
        }
    }
}

TEST(TiffFile, OmeXmlGivesDimensionsNamesAndSizes)
{
    const auto ome = [](const std::string& pixels, const std::string& inside) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<OME xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\">"
               "<Image ID=\"Image:0\" Name=\"cells\"><Pixels ID=\"Pixels:0\" Type=\"uint16\" SizeX=\"3\" SizeY=\"2\" " +
               pixels + ">" + inside + "</Pixels></Image><Image ID=\"Image:1\"><Pixels SizeZ=\"9\"/></Image></OME>";
    };
    const std::string channels = "<Channel ID=\"Channel:0:0\" Name=\"DAPI\" SamplesPerPixel=\"1\"/>"
                                 "<Channel ID=\"Channel:0:1\" Name=\"GFP\" SamplesPerPixel=\"1\"/>";
    struct Case {
        const char* what;
        std::string xml;
        int pages;
        std::vector<std::string> names;
        Vector size;
        std::vector<double> nm;
        std::vector<std::pair<Vector, int>> planes; // page -1: missing
        std::string format;
    };
    std::string reversed;
    for (int k = 0; k < 3; ++k)
        reversed += "<TiffData IFD=\"" + std::to_string(k) + "\" FirstZ=\"" + std::to_string(2 - k) + "\" PlaneCount=\"1\"/>";
    const Case cases[] = {
        {"czt", ome("DimensionOrder=\"XYCZT\" SizeZ=\"3\" SizeC=\"2\" SizeT=\"1\" PhysicalSizeX=\"0.1\" PhysicalSizeY=\"200\" "
                    "PhysicalSizeYUnit=\"nm\" PhysicalSizeZ=\"1.5\" PhysicalSizeZUnit=\"\xC2\xB5m\"",
                    channels + "<TiffData IFD=\"0\" PlaneCount=\"6\"/>"),
         6, {"x", "y", "c", "z"}, V({3, 2, 2, 3}), {100, 200, 0, 1500}, {{V({1, 2}), 5}, {V({0, 1}), 2}}, "OME-TIFF, uint16"},
        {"tzc", ome("DimensionOrder=\"XYTZC\" SizeZ=\"2\" SizeC=\"2\" SizeT=\"2\" PhysicalSizeX=\"1\" PhysicalSizeXUnit=\"mm\" "
                    "PhysicalSizeY=\"1\" PhysicalSizeYUnit=\"mm\"", channels),
         8, {"x", "y", "t", "z", "c"}, V({3, 2, 2, 2, 2}), {1e6, 1e6, 0, 0, 0}, {{V({1, 0, 1}), 5}}, "OME-TIFF, uint16"},
        {"pages in reverse", ome("DimensionOrder=\"XYZCT\" SizeZ=\"3\"", reversed), 3, {"x", "y", "z"}, V({3, 2, 3}),
         {0, 0, 0}, {{V({0}), 2}, {V({2}), 0}}, "OME-TIFF, uint16"},
        {"planes in another file",
         ome("DimensionOrder=\"XYZCT\" SizeZ=\"3\"",
             "<TiffData IFD=\"0\" FirstZ=\"0\" PlaneCount=\"2\"><UUID FileName=\"stack.ome.tif\">urn:uuid:1</UUID></TiffData>"
             "<TiffData IFD=\"0\" FirstZ=\"2\" PlaneCount=\"1\"><UUID FileName=\"other.ome.tif\">urn:uuid:2</UUID></TiffData>"),
         2, {"x", "y", "z"}, V({3, 2, 3}), {0, 0, 0}, {{V({1}), 1}, {V({2}), -1}}, "OME-TIFF, uint16"},
        // Broken XML leaves the pages as a plain stack.
        {"broken", "<OME><Image><Pixels SizeZ=\"3\"></Image>", 3, {"x", "y", "z"}, V({3, 2, 3}), {0, 0, 0},
         {{V({2}), 2}}, "multi-page TIFF, uint16"},
        {"impossible sizes", ome("DimensionOrder=\"XYZCT\" SizeZ=\"100000\" SizeT=\"100000\"", ""), 2, {"x", "y", "z"},
         V({3, 2, 2}), {0, 0, 0}, {{V({1}), 1}}, "multi-page TIFF, uint16"},
    };
    for (const Case& c : cases) {
        Folder folder;
        Page g;
        g.description = c.xml;
        tifftest::Write(folder.File("stack.ome.tif"), g, c.pages, [](int p, int, int x, int) { return 100 * p + x; });
        Messages messages;
        const Reader r = Open(folder.File("stack.ome.tif"));
        if (!r)
            continue;
        EXPECT_EQ(Names(*r), c.names) << c.what;
        EXPECT_EQ(r->GetSize(), c.size) << c.what;
        EXPECT_EQ(PixelSizes(*r), c.nm) << c.what;
        EXPECT_EQ(r->GetFormatName(), c.format) << c.what;
        for (const auto& [plane, page] : c.planes) {
            const ImageSlice<unsigned short> slice = r->GetSlice(plane);
            EXPECT_EQ(slice.IsEmpty(), page < 0) << c.what;
            if (!slice.IsEmpty()) {
                EXPECT_EQ(slice.GetData()[1], 100 * page + 1) << c.what;
            }
        }
        // Broken descriptions and planes elsewhere are said once; good files say nothing.
        const bool told = std::string(c.what) == "broken" || std::string(c.what) == "planes in another file" ||
                          std::string(c.what) == "impossible sizes";
        EXPECT_EQ(messages.list.size(), told ? 1u : 0u) << c.what;
    }
    Folder folder;
    Page g;
    g.description = ome("DimensionOrder=\"XYCZT\" SizeC=\"2\"", channels);
    tifftest::Write(folder.File("named.ome.tif"), g, 2, [](int, int, int, int) { return 0; });
    const Reader r = Open(folder.File("named.ome.tif"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->GetIndexName(2, 0), "DAPI");
    EXPECT_EQ(r->GetIndexName(2, 1), "GFP");
}

TEST(TiffFile, PixelSizesFromResolutionTags)
{
    struct Case {
        std::uint16_t unit;
        float xres, yres;
        std::string description;
        double x, y;
    };
    const Case cases[] = {
        {RESUNIT_CENTIMETER, 10000, 5000, "", 1000, 2000},
        {RESUNIT_INCH, 300, 300, "", 0, 0}, // print resolution, not a pixel size
        {RESUNIT_NONE, 2, 2, "", 0, 0},     // no unit to go by
        {RESUNIT_NONE, 2, 4, "ImageJ=1.54f\nunit=mm\n", 5e5, 2.5e5},
        {0, 10, 10, "ImageJ=1.54f\nunit=\xC2\xB5m\n", 100, 100},
        {RESUNIT_CENTIMETER, 1e4, 1e4, "ImageJ=1.54f\nunit=pixel\n", 1000, 1000},
    };
    for (const Case& c : cases) {
        Folder folder;
        Page g;
        g.resolutionUnit = c.unit;
        g.xres = c.xres;
        g.yres = c.yres;
        g.description = c.description;
        tifftest::Write(folder.File("res.tif"), g, 1, [](int, int, int, int) { return 1; });
        const Reader r = Open(folder.File("res.tif"));
        if (!r)
            continue;
        EXPECT_DOUBLE_EQ(r->GetDimPixelSize(0), c.x) << c.unit << " " << c.description;
        EXPECT_DOUBLE_EQ(r->GetDimPixelSize(1), c.y) << c.unit << " " << c.description;
    }
}

TEST(TiffFile, RefusedFilesSayWhy)
{
    Folder folder;
    struct Case {
        const char* what;
        std::function<void(const std::string&)> write;
        std::string reason; // part of the error
    };
    const auto tiff = [](std::uint16_t bits, std::uint16_t photometric, std::uint16_t format = SAMPLEFORMAT_UINT) {
        return [=](const std::string& path) {
            TIFF* tif = TIFFOpen(path.c_str(), "w");
            TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 8);
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 2);
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
            TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, format);
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 2);
            if (photometric == PHOTOMETRIC_PALETTE) {
                std::vector<std::uint16_t> map(std::size_t{1} << bits, 0);
                TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
            }
            std::vector<unsigned char> data(8 * 2 * 8, 0);
            TIFFWriteEncodedStrip(tif, 0, data.data(), static_cast<tmsize_t>(2 * ((8 * bits + 7) / 8)));
            TIFFClose(tif);
        };
    };
    const auto bytes = [](const std::string& content) {
        return [content](const std::string& path) { std::ofstream(path, std::ios::binary) << content; };
    };
    using namespace std::string_literals;
    const Case cases[] = {
        {"palette", tiff(8, PHOTOMETRIC_PALETTE), "palette"},
        {"bilevel", tiff(1, PHOTOMETRIC_MINISBLACK), "1-bit"},
        {"12-bit", tiff(12, PHOTOMETRIC_MINISBLACK), "12-bit"},
        {"complex", tiff(64, PHOTOMETRIC_MINISBLACK, SAMPLEFORMAT_COMPLEXIEEEFP), "complex"},
        {"separated", tiff(8, PHOTOMETRIC_SEPARATED), "colour space"},
        {"text", bytes("just some text"), "not a recognised image format"},
        {"text named tif", bytes("II*\0 nothing follows"s), "not a readable TIFF"},
        {"empty", bytes(""), "not a readable TIFF"},
    };
    for (const Case& c : cases) {
        const std::string path = folder.File(std::string(c.what) + (std::string(c.what) == "text" ? ".txt" : ".tif"));
        c.write(path);
        Messages quiet;
        const OpenedImage opened = OpenImage(path);
        EXPECT_EQ(opened.reader, nullptr) << c.what;
        EXPECT_NE(opened.error.find(c.reason), std::string::npos) << c.what << ": " << opened.error;
    }
}

TEST(TiffFile, ChosenByContentThenExtensionInAnyCase)
{
    Folder folder;
    for (const char* name : {"upper.TIF", "mixed.Tiff", "named.ics", "noext"})
        tifftest::WriteFlat(folder.File(name), 9);
    for (const char* name : {"upper.TIF", "mixed.Tiff", "named.ics", "noext"}) {
        EXPECT_EQ(SniffFile(folder.File(name)), FileKind::TIFF) << name;
        const Reader r = Open(folder.File(name));
        if (r) {
            EXPECT_EQ(r->GetFormatName(), "TIFF, uint16") << name;
        }
    }
}

// 16-bit and 8-bit grey files give, sample for sample, the values Korvel's reader gives;
// their warnings (no fill order) reach nobody. (Copied alone into a folder: the sample
// folder's names minisblack-1c-8b and -16b would form a series.)
TEST(TiffFile, GreyFilesReadAsKorvelReadsThem)
{
    for (const char* name : {"minisblack-1c-16b.tiff", "minisblack-1c-8b.tiff", "deflate-last-strip-extra-data.tiff"}) {
        Folder folder;
        const std::string path = folder.File("grey.tif");
        std::filesystem::copy_file(testdata::Path(std::string("tiff/") + name), path);
        IMAGE image = {0, 0, 0, 0, nullptr};
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int status = SimpleTIFFReadImage(path.c_str(), &image);
        ::testing::internal::GetCapturedStdout();
        ::testing::internal::GetCapturedStderr();
        ASSERT_EQ(status, 0) << name;
        ASSERT_EQ(ConvertImageInt16(&image), 0) << name;
        Messages messages;
        const Reader r = Open(path);
        ASSERT_TRUE(r) << name;
        EXPECT_EQ(r->GetSize(), V({image.width, image.height})) << name;
        const ImageSlice<unsigned short> slice = r->GetSlice(Vector());
        ASSERT_FALSE(slice.IsEmpty()) << name;
        const size_t n = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
        EXPECT_EQ(std::memcmp(slice.GetData(), image.data, n * 2), 0) << name;
        EXPECT_TRUE(messages.list.empty()) << name << ": " << (messages.list.empty() ? "" : messages.list[0]);
        DeleteImage(&image);
    }
}

// The JPEG-compressed YCbCr tiles of libtiff's sample come out as RGB channels.
TEST(TiffFile, JpegYCbCrTilesReadAsRgb)
{
    const Reader r = Open(testdata::Path("tiff/quad-tile.jpg.tiff"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->GetSize(), V({512, 384, 3}));
    EXPECT_EQ(r->GetDimName(2), "c");
    for (int c = 0; c < 3; ++c) {
        const ImageSlice<unsigned short> slice = r->GetSlice(V({c}));
        ASSERT_FALSE(slice.IsEmpty());
        unsigned short hi = 0;
        for (int i = 0; i < 512 * 384; ++i)
            hi = std::max(hi, slice.GetData()[i]);
        EXPECT_GT(hi, 0) << c;
        EXPECT_LE(hi, 255) << c;
    }
}

// Files another writer made (tests/data/tiff-other/README.md): each sample is its index in the
// array the writer was given, through the formula of that file's command.
TEST(TiffFile, FilesFromAnotherWriter)
{
    struct Case {
        const char* file;
        Vector size;
        std::vector<std::string> names;
        std::vector<double> nm;
        std::string format;
        // The array index (numpy's arange) of a full position, and the value it becomes.
        std::function<double(const Vector&)> index;
        std::function<double(double)> value;
    };
    const Case cases[] = {
        {"imagej-hyperstack.tif", V({4, 5, 2, 3, 2}), {"x", "y", "c", "z", "t"}, {200, 200, 0, 750, 0}, "ImageJ TIFF, uint16",
         [](const Vector& p) { return (((p[4] * 3.0 + p[3]) * 2 + p[2]) * 5 + p[1]) * 4 + p[0]; },
         [](double i) { return i; }},
        {"ome-czyx.ome.tif", V({5, 6, 3, 2}), {"x", "y", "z", "c"}, {300, 400, 1200, 0}, "OME-TIFF, float32",
         [](const Vector& p) { return ((p[3] * 3.0 + p[2]) * 6 + p[1]) * 5 + p[0]; },
         [](double i) { return i * 0.5 - 7; }},
        {"tiled-int16-deflate.tif", V({48, 64}), {"x", "y"}, {0, 0}, "TIFF, int16",
         [](const Vector& p) { return p[1] * 48.0 + p[0]; }, [](double i) { return i - 1500; }},
        {"rgb-planar.tif", V({30, 20, 3}), {"x", "y", "c"}, {0, 0, 0}, "TIFF, uint8",
         [](const Vector& p) { return p[2] * 600.0 + p[1] * 30 + p[0]; }, [](double i) { return std::fmod(i, 251); }},
        {"float64-pages.tif", V({9, 8, 4}), {"x", "y", "z"}, {0, 0, 0}, "multi-page TIFF, float64",
         [](const Vector& p) { return p[2] * 72.0 + p[1] * 9 + p[0]; }, [](double i) { return i * 1e6 - 3.25; }},
        {"bigtiff-uint32.tif", V({6, 7, 3}), {"x", "y", "z"}, {0, 0, 0}, "multi-page TIFF, uint32",
         [](const Vector& p) { return p[2] * 42.0 + p[1] * 6 + p[0]; }, [](double i) { return i * 100000; }},
    };
    for (const Case& c : cases) {
        Folder folder;
        const std::string path = folder.File(c.file);
        std::filesystem::copy_file(testdata::Path(std::string("tiff-other/") + c.file), path);
        Messages messages;
        const Reader r = Open(path);
        if (!r)
            continue;
        EXPECT_EQ(r->GetSize(), c.size) << c.file;
        EXPECT_EQ(Names(*r), c.names) << c.file;
        EXPECT_EQ(PixelSizes(*r), c.nm) << c.file;
        EXPECT_EQ(r->GetFormatName(), c.format) << c.file;
        // Every position, in the order of the dimensions, last fastest.
        const Vector size = c.size;
        Vector p;
        for (unsigned i = 0; i < size.size(); ++i)
            p.push_back(0);
        for (bool more = true; more;) {
            EXPECT_EQ(r->GetValue(p), std::optional<double>(c.value(c.index(p)))) << c.file;
            more = false;
            for (int i = 0; i < static_cast<int>(size.size()) && !more; ++i) {
                if (++p[i] < size[i])
                    more = true;
                else
                    p[i] = 0;
            }
        }
        EXPECT_TRUE(messages.list.empty()) << c.file << ": " << (messages.list.empty() ? "" : messages.list[0]);
    }
    Folder folder;
    std::filesystem::copy_file(testdata::Path("tiff-other/ome-czyx.ome.tif"), folder.File("o.ome.tif"));
    const Reader r = Open(folder.File("o.ome.tif"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->GetIndexName(3, 0) + "," + r->GetIndexName(3, 1), "DAPI,GFP");
}

// A page chain that points outside the file ends the stack there, and the user is told once.
TEST(TiffFile, BrokenPageChainEndsTheStackWithOneMessage)
{
    Folder folder;
    const std::string path = folder.File("chain.tif");
    tifftest::Write(path, Page(), 4, [](int p, int, int, int) { return p + 1; });
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    ASSERT_TRUE(TIFFSetDirectory(tif, 1));
    const std::uint64_t ifd = TIFFCurrentDirOffset(tif);
    TIFFClose(tif);
    // Little-endian classic TIFF: entry count, 12-byte entries, then the next page's offset.
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    std::uint16_t entries = 0;
    file.seekg(static_cast<std::streamoff>(ifd));
    file.read(reinterpret_cast<char*>(&entries), 2);
    const std::uint32_t outside = 0x7FFFFFF0u;
    file.seekp(static_cast<std::streamoff>(ifd + 2 + 12u * entries));
    file.write(reinterpret_cast<const char*>(&outside), 4);
    file.close();

    Messages messages;
    const Reader r = Open(path);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->GetSize(), V({3, 2, 2}));
    EXPECT_EQ(r->GetSlice(V({1})).GetData()[0], 2);
    ASSERT_EQ(messages.list.size(), 1u);
    EXPECT_NE(messages.list[0].find("only the first 2 pages"), std::string::npos) << messages.list[0];
}

namespace {

// How a plain-layout test file stores its 16-bit pages.
struct Plain
{
    std::uint32_t width = 24, height = 10;
    std::uint32_t rowsPerStrip = 3; // 0: tiles of 16 rows
    std::uint32_t tileWidth = 0;    // 0: as wide as the page
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    bool bigEndian = false;
    bool stripsBackwards = false; // strips written last first: none follows the one before
    bool oddOffset = false;       // the page's data at an odd offset in the file
};

std::uint16_t PlainValue(int p, std::uint32_t x, std::uint32_t y)
{
    return static_cast<std::uint16_t>(p * 4099 + static_cast<int>(y) * 257 + static_cast<int>(x) * 3 + 1);
}

void WritePlain(const std::string& path, const Plain& g, int pages)
{
    TIFF* tif = TIFFOpen(path.c_str(), g.bigEndian ? "wb" : "wl");
    ASSERT_NE(tif, nullptr);
    for (int p = 0; p < pages; ++p) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, g.width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, g.height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, g.photometric);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, g.compression);
        if (g.rowsPerStrip) {
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, g.rowsPerStrip);
        } else {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, g.tileWidth ? g.tileWidth : g.width);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
        }
        if (g.oddOffset) {
            // The directory goes first; its description, 9 bytes with the terminator, leaves
            // the samples after it at an odd offset.
            TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, "abcdefgh");
            TIFFCheckpointDirectory(tif);
        }
        const std::uint32_t rows = g.rowsPerStrip ? g.rowsPerStrip : 16;
        const std::uint32_t cols = g.rowsPerStrip || !g.tileWidth ? g.width : g.tileWidth;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> corners; // x, y of each block
        for (std::uint32_t y = 0; y < g.height; y += rows)
            for (std::uint32_t x = 0; x < g.width; x += cols)
                corners.emplace_back(x, y);
        if (g.stripsBackwards)
            std::reverse(corners.begin(), corners.end());
        for (const auto& [x0, y0] : corners) {
            // libtiff byte-swaps the buffer it is given, so each block is built afresh.
            std::vector<std::uint16_t> block(static_cast<size_t>(cols) * rows, 0);
            for (std::uint32_t r = 0; r < rows && y0 + r < g.height; ++r)
                for (std::uint32_t c = 0; c < cols && x0 + c < g.width; ++c)
                    block[r * cols + c] = PlainValue(p, x0 + c, y0 + r);
            const std::uint32_t used = g.rowsPerStrip ? std::min(rows, g.height - y0) : rows;
            const auto bytes = static_cast<tmsize_t>(static_cast<size_t>(used) * cols * 2);
            ASSERT_GT(g.rowsPerStrip ? TIFFWriteEncodedStrip(tif, TIFFComputeStrip(tif, y0, 0), block.data(), bytes)
                                     : TIFFWriteEncodedTile(tif, TIFFComputeTile(tif, x0, y0, 0, 0), block.data(), bytes),
                      0);
        }
        ASSERT_TRUE(TIFFWriteDirectory(tif));
    }
    TIFFClose(tif);
}

// Every plane of the reader against the formula, last page first so that no plane follows
// the read of the one before it; `borrowed` says how each plane must have come.
void ExpectPlain(ImageReaderBase<unsigned short>& r, const Plain& g, int pages, bool borrowed, const std::string& what)
{
    for (int p = pages - 1; p >= 0; --p) {
        const ImageSlice<unsigned short> slice = r.GetSlice(pages > 1 ? V({p}) : V({}));
        ASSERT_FALSE(slice.IsEmpty()) << what << " page " << p;
        EXPECT_EQ(slice.IsBorrowed(), borrowed) << what << " page " << p;
        ASSERT_EQ(slice.GetSize(), V({static_cast<int>(g.width), static_cast<int>(g.height)})) << what;
        size_t wrong = 0;
        for (std::uint32_t y = 0; y < g.height; ++y)
            for (std::uint32_t x = 0; x < g.width; ++x) {
                std::uint16_t expected = PlainValue(p, x, y);
                if (g.photometric == PHOTOMETRIC_MINISWHITE)
                    expected = static_cast<std::uint16_t>(~expected);
                wrong += slice.GetData()[y * g.width + x] != expected;
            }
        EXPECT_EQ(wrong, 0u) << what << " page " << p;
    }
}

} // namespace

// Uncompressed pages whose bytes are the plane itself are served from a mapping of the
// file; any other arrangement is decoded, with the same values.
TEST(TiffFile, PlainPagesAreBorrowedFromTheFileOthersDecoded)
{
    struct Case
    {
        const char* what;
        Plain g;
        bool borrowed;
    };
    std::vector<Case> cases;
    const auto add = [&](const char* what, bool borrowed, auto change) {
        Plain g;
        change(g);
        cases.push_back({what, g, borrowed});
    };
    add("strips", true, [](Plain&) {});
    add("one strip", true, [](Plain& g) { g.rowsPerStrip = 1000; });
    // libtiff cuts a large single strip into many strips of a few rows as it opens the file.
    add("one large strip", true, [](Plain& g) { g.rowsPerStrip = 1000, g.width = 1024, g.height = 64; });
    add("tiles as wide as the page", true, [](Plain& g) { g.rowsPerStrip = 0, g.width = 32, g.height = 40; });
    add("strips out of order", false, [](Plain& g) { g.stripsBackwards = true; });
    add("other byte order", false, [](Plain& g) { g.bigEndian = true; });
    add("odd offset", false, [](Plain& g) { g.oddOffset = true, g.rowsPerStrip = 1000; });
    add("narrow tiles", false, [](Plain& g) { g.rowsPerStrip = 0, g.tileWidth = 16, g.width = 40, g.height = 20; });
    add("compressed", false, [](Plain& g) { g.compression = COMPRESSION_ADOBE_DEFLATE; });
    add("min-is-white", false, [](Plain& g) { g.photometric = PHOTOMETRIC_MINISWHITE; });

    Folder folder;
    for (const Case& c : cases)
        for (int pages : {1, 5}) {
            const std::string what = std::string(c.what) + ", " + std::to_string(pages) + " page(s)";
            const std::string path = folder.File(pages > 1 ? "stack.tif" : "single.tif");
            WritePlain(path, c.g, pages);
            Messages messages;
            const Reader r = Open(path);
            ASSERT_TRUE(r) << what;
            ExpectPlain(*r, c.g, pages, c.borrowed, what);
            EXPECT_TRUE(messages.list.empty()) << what << ": " << (messages.list.empty() ? "" : messages.list[0]);
        }
}

// Views read on worker threads while the window reads the plane under the cursor: planes
// borrowed or decoded on several threads at once are each the formula's.
TEST(TiffFile, PlanesReadOnSeveralThreadsAtOnce)
{
    Folder folder;
    for (bool backwards : {false, true}) {
        Plain g;
        g.stripsBackwards = backwards;
        const std::string path = folder.File(backwards ? "decoded.tif" : "plain.tif");
        WritePlain(path, g, 12);
        Reader r = Open(path);
        ASSERT_TRUE(r);
        std::vector<int> wrong(4, 0);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (int round = 0; round < 20; ++round)
                    for (int i = 0; i < 12; ++i) {
                        const int p = (i * (t + 1) + round) % 12;
                        const ImageSlice<unsigned short> slice = r->GetSlice(V({p}));
                        if (slice.IsEmpty() || slice.GetData()[g.width * g.height - 1] != PlainValue(p, g.width - 1, g.height - 1) ||
                            slice.GetData()[0] != PlainValue(p, 0, 0))
                            ++wrong[static_cast<size_t>(t)];
                    }
            });
        for (std::thread& t : threads)
            t.join();
        for (int t = 0; t < 4; ++t)
            EXPECT_EQ(wrong[static_cast<size_t>(t)], 0) << (backwards ? "decoded" : "borrowed") << ", thread " << t;
        // A borrowed plane keeps the file's mapping after its reader is gone.
        ImageSlice<unsigned short> kept = r->GetSlice(V({11}));
        r.reset();
        EXPECT_EQ(kept.GetData()[g.width * g.height - 1], PlainValue(11, g.width - 1, g.height - 1));
    }
}

// A page whose strip runs past the end of the file is a missing plane; the pages before it
// are still served.
TEST(TiffFile, StripPastTheEndOfTheFileIsAMissingPlane)
{
    Folder folder;
    const std::string path = folder.File("short.tif");
    Plain g;
    g.rowsPerStrip = 1000;
    WritePlain(path, g, 3);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    ASSERT_TRUE(TIFFSetDirectory(tif, 2));
    const std::uint64_t ifd = TIFFCurrentDirOffset(tif);
    TIFFClose(tif);
    // Point the last page's only strip (tag 273, one LONG held in the entry) at a place
    // from which its bytes would run past the end.
    const auto fileSize = static_cast<std::uint32_t>(std::filesystem::file_size(path));
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    std::uint16_t entries = 0;
    file.seekg(static_cast<std::streamoff>(ifd));
    file.read(reinterpret_cast<char*>(&entries), 2);
    bool patched = false;
    for (std::uint16_t e = 0; e < entries && !patched; ++e) {
        std::uint16_t tag = 0;
        file.seekg(static_cast<std::streamoff>(ifd + 2 + 12u * e));
        file.read(reinterpret_cast<char*>(&tag), 2);
        if (tag == TIFFTAG_STRIPOFFSETS) {
            const std::uint32_t past = (fileSize - 100) & ~1u;
            file.seekp(static_cast<std::streamoff>(ifd + 2 + 12u * e + 8));
            file.write(reinterpret_cast<const char*>(&past), 4);
            patched = true;
        }
    }
    file.close();
    ASSERT_TRUE(patched);

    Messages messages;
    const Reader r = Open(path);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->GetSize(), V({24, 10, 3}));
    EXPECT_TRUE(r->GetSlice(V({2})).IsEmpty());
    for (int p : {1, 0}) {
        const ImageSlice<unsigned short> slice = r->GetSlice(V({p}));
        ASSERT_TRUE(slice.IsBorrowed()) << p;
        EXPECT_EQ(slice.GetData()[24 * 10 - 1], PlainValue(p, 23, 9)) << p;
    }
}

TEST(TiffFile, PageOfManyDamagedStripsIsGivenUpWithFewMessages)
{
    // 20000 one-row deflate strips whose data is then overwritten: every strip fails.
    Folder folder;
    const std::string path = folder.File("damaged.tif");
    constexpr std::uint32_t width = 8, height = 20000;
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1);
    std::vector<std::uint16_t> row(width);
    for (std::uint32_t y = 0; y < height; ++y) {
        std::fill(row.begin(), row.end(), static_cast<std::uint16_t>(y));
        ASSERT_EQ(TIFFWriteScanline(tif, row.data(), y, 0), 1);
    }
    TIFFClose(tif);
    tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    const std::uint64_t ifd = TIFFCurrentDirOffset(tif);
    TIFFClose(tif);
    {
        // The strips lie between the header and the directory.
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        const std::string junk(static_cast<size_t>(ifd - 8), '\x5a');
        file.seekp(8);
        file.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }

    Messages messages;
    const Reader r = Open(path);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->GetSize(), V({8, 20000}));
    EXPECT_TRUE(r->GetSlice(V({})).IsEmpty());
    EXPECT_GE(messages.list.size(), 1u);
    EXPECT_LE(messages.list.size(), 16u);
}
