#include <gtest/gtest.h>

#include <libics.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Diagnostics.h"
#include "ICSImageReader.h"
#include "ReaderOptions.h"
#include "SliceCache.h"
#include "FormulaImage.h"
#include "TestData.h"

using ImageReader::ICSImageReader;
using ImageReader::Vector;
using Reader = ICSImageReader<unsigned short>;
namespace fs = std::filesystem;

namespace {

struct Dim
{
    size_t extent;
    const char* order;
    double scale;
    const char* unit; // null: no unit written
};

class IcsFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("lumora_ics_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

public:
    // Writes an image with libics's own writer.
    template <class S>
    fs::path Write(const std::string& name, Ics_DataType type, const std::vector<Dim>& dims, const std::vector<S>& data,
                   const char* mode = "w2", bool gzip = false)
    {
        const fs::path path = dir / name;
        ICS* ics = nullptr;
        EXPECT_EQ(IcsOpen(&ics, path.c_str(), mode), IcsErr_Ok);
        std::vector<size_t> extents;
        for (const Dim& d : dims)
            extents.push_back(d.extent);
        EXPECT_EQ(IcsSetLayout(ics, type, static_cast<int>(dims.size()), extents.data()), IcsErr_Ok);
        EXPECT_EQ(IcsSetData(ics, data.data(), data.size() * sizeof(S)), IcsErr_Ok);
        if (gzip)
            IcsSetCompression(ics, IcsCompr_gzip, 6);
        for (size_t i = 0; i < dims.size(); ++i) {
            IcsSetOrder(ics, static_cast<int>(i), dims[i].order, dims[i].order);
            if (dims[i].unit)
                IcsSetPosition(ics, static_cast<int>(i), 0.0, dims[i].scale, dims[i].unit);
        }
        EXPECT_EQ(IcsClose(ics), IcsErr_Ok);
        return path;
    }

    // 16-bit samples in big-endian order: libics writes them natively, so the header and
    // the separate data file are edited by hand.
    fs::path WriteBigEndian(const std::string& name, const std::vector<Dim>& dims, const std::vector<uint16_t>& data)
    {
        const fs::path header = Write(name, Ics_uint16, dims, data, "w1");
        std::string text;
        {
            std::ifstream in(header);
            text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        const size_t at = text.find("byte_order\t1\t2");
        EXPECT_NE(at, std::string::npos) << text;
        if (at != std::string::npos)
            text.replace(at, 14, "byte_order\t2\t1");
        std::ofstream(header) << text;
        std::vector<unsigned char> swapped;
        for (uint16_t v : data) {
            swapped.push_back(static_cast<unsigned char>(v >> 8));
            swapped.push_back(static_cast<unsigned char>(v & 0xFF));
        }
        fs::path ids = header;
        std::ofstream(ids.replace_extension(".ids"), std::ios::binary)
            .write(reinterpret_cast<const char*>(swapped.data()), static_cast<std::streamsize>(swapped.size()));
        return header;
    }

protected:
    fs::path dir;
};

std::vector<unsigned short> plane(Reader& r, const Vector& pos)
{
    const auto s = r.GetSlice(pos);
    if (!s.GetData())
        return {};
    return std::vector<unsigned short>(s.GetData(), s.GetData() + s.GetSize().prod());
}

} // namespace

TEST_F(IcsFiles, SixteenBitVolumeReadsEveryPlane)
{
    std::vector<uint16_t> data(5 * 4 * 3);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint16_t>(i * 1000 + 7);
    const auto path = Write("vol.ics", Ics_uint16, {{5, "x", 0.1, "micrometers"}, {4, "y", 0.1, "um"}, {3, "z", 300, "nm"}}, data);

    Reader r(path);
    EXPECT_EQ(r.GetSize(), V({5, 4, 3}));
    EXPECT_EQ(r.GetDimName(0), "x");
    EXPECT_EQ(r.GetDimName(2), "z");
    EXPECT_DOUBLE_EQ(r.GetDimPixelSize(0), 100.0);
    EXPECT_DOUBLE_EQ(r.GetDimPixelSize(1), 100.0);
    EXPECT_DOUBLE_EQ(r.GetDimPixelSize(2), 300.0);
    for (int z = 0; z < 3; ++z) {
        const auto p = plane(r, V({z}));
        ASSERT_EQ(p.size(), 20u);
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(p[static_cast<size_t>(i)], data[static_cast<size_t>(z * 20 + i)]);
    }
    // A plane held while the mapped pages are given back still reads the file's values.
    const ImageReader::ImageSlice<unsigned short> held = r.GetSlice(V({2}));
    r.ReleaseMappedPages();
    ASSERT_FALSE(held.IsEmpty());
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(held.GetData()[i], data[static_cast<size_t>(40 + i)]);
}

// Every sample type: values chosen so that a wrap, a sign error, a truncation or a lost
// fraction shows. The picture must order the values as the numbers do (equal steps for exact
// maps), and the readout must give the file's own numbers.
template <class S>
void ExpectTrueValues(IcsFiles& files, const std::string& name, Ics_DataType type, const std::vector<double>& values,
                      bool exact)
{
    std::vector<S> data;
    for (double v : values)
        data.push_back(static_cast<S>(v));
    const auto path = files.Write(name, type, {{values.size(), "x", 1, "nm"}, {1, "y", 1, "nm"}}, data);
    Reader r(path);
    ASSERT_EQ(r.GetSize(), Vector(static_cast<int>(values.size()), 1)) << name << ": " << r.GetError();
    const auto shown = plane(r, Vector());
    ASSERT_EQ(shown.size(), values.size()) << name;
    const ImageReader::ValueMap map = r.GetValueMap();
    EXPECT_EQ(map.IsExact(), exact) << name;
    for (size_t i = 0; i < values.size(); ++i) {
        const double real = static_cast<double>(data[i]);
        const auto readout = r.GetValue(V({static_cast<int>(i), 0}));
        ASSERT_TRUE(readout.has_value()) << name;
        EXPECT_EQ(*readout, real) << name << " sample " << i;
        if (std::isfinite(real)) {
            EXPECT_NEAR(map.ToReal(shown[i]), real, exact ? 0.0 : map.scale / 2 + 1e-12 * std::fabs(real)) << name << " " << i;
        }
        for (size_t j = 0; j < values.size(); ++j) {
            const double other = static_cast<double>(data[j]);
            if (real < other) {
                EXPECT_LE(shown[i], shown[j]) << name << ": " << real << " drawn above " << other;
            }
            if (exact) {
                EXPECT_EQ(static_cast<double>(shown[i]) - shown[j], real - other) << name;
            }
        }
    }
}

TEST_F(IcsFiles, EverySampleTypeKeepsItsTrueValues)
{
    ExpectTrueValues<uint8_t>(*this, "u8.ics", Ics_uint8, {0, 1, 128, 255}, true);
    ExpectTrueValues<int8_t>(*this, "s8.ics", Ics_sint8, {-128, -1, 0, 5, 127}, true);
    ExpectTrueValues<uint16_t>(*this, "u16.ics", Ics_uint16, {0, 1, 40000, 65535}, true);
    ExpectTrueValues<int16_t>(*this, "s16.ics", Ics_sint16, {-32768, -1, 0, 1, 32767}, true);
    // Integers spanning at most 65536 values stay exact, wherever they lie.
    ExpectTrueValues<uint32_t>(*this, "u32.ics", Ics_uint32, {65535, 65536, 74565, 100000}, true);
    ExpectTrueValues<int32_t>(*this, "s32-narrow.ics", Ics_sint32, {-70000, -40000, -10000}, true);
    ExpectTrueValues<int32_t>(*this, "s32.ics", Ics_sint32, {-2000000, -1, 0, 65536, 3000000}, false);
    ExpectTrueValues<uint64_t>(*this, "u64.ics", Ics_uint64, {0, 70000, 5e12}, false);
    ExpectTrueValues<int64_t>(*this, "s64.ics", Ics_sint64, {-5e12, -1, 4e9}, false);
    ExpectTrueValues<float>(*this, "f32.ics", Ics_real32, {-3.5, 0.25, 1.9, 65536, 70000.5}, false);
    ExpectTrueValues<double>(*this, "f64-small.ics", Ics_real64, {0, 0.0001, 0.0005, 0.00099}, false);

    // Fractions below 1 are resolved, not truncated to one value.
    const std::vector<double> small = {0.0001, 0.0005, 0.00099};
    Reader r(Write("f64-fractions.ics", Ics_real64, {{3, "x", 1, "nm"}, {1, "y", 1, "nm"}}, small));
    const auto shown = plane(r, Vector());
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_LT(shown[0], shown[1]);
    EXPECT_LT(shown[1], shown[2]);

    // Non-finite floats neither widen the range nor wrap: NaN draws black, infinities saturate.
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    Reader f(Write("f32-special.ics", Ics_real32, {{4, "x", 1, "nm"}, {1, "y", 1, "nm"}}, std::vector<float>{nan, -inf, 2, inf}));
    EXPECT_EQ(plane(f, Vector()), (std::vector<unsigned short>{0, 0, 0, 65535}));
    EXPECT_TRUE(std::isnan(*f.GetValue(V({0, 0}))));
}

TEST_F(IcsFiles, RefusesWhatCannotBeShown)
{
    const std::vector<float> complexData(8, 1.0f);
    Reader complex(Write("c.ics", Ics_complex32, {{2, "x", 1, "nm"}, {2, "y", 1, "nm"}}, complexData));
    EXPECT_EQ(complex.GetSize().size(), 0u);

    const std::vector<uint16_t> line = {1, 2, 3};
    Reader oneD(Write("line.ics", Ics_uint16, {{3, "x", 1, "nm"}}, line));
    EXPECT_EQ(oneD.GetSize().size(), 0u);

    Reader missing(dir / "does-not-exist.ics");
    EXPECT_EQ(missing.GetSize().size(), 0u);

    fs::path garbage = dir / "garbage.ics";
    FILE* f = std::fopen(garbage.c_str(), "w");
    std::fputs("not an ics header\n", f);
    std::fclose(f);
    Reader bad(garbage);
    EXPECT_EQ(bad.GetSize().size(), 0u);
}

TEST_F(IcsFiles, PixelSizeUnits)
{
    const std::vector<uint16_t> d(2 * 2 * 2 * 2 * 2, 1);
    const auto path = Write("units.ics", Ics_uint16,
                            {{2, "x", 0.1, "um"}, {2, "y", 2.5, "mm"}, {2, "z", 0.25, "Micrometers"}, {2, "t", 1, nullptr}, {2, "ch", 3, "m"}},
                            d);
    Reader r(path);
    EXPECT_DOUBLE_EQ(r.GetDimPixelSize(0), 100.0);
    EXPECT_DOUBLE_EQ(r.GetDimPixelSize(1), 2.5e6);
    EXPECT_DOUBLE_EQ(r.GetDimPixelSize(2), 250.0) << "unit names in any case";
    EXPECT_DOUBLE_EQ(r.GetDimPixelSize(3), 0.0) << "a missing unit gives no size";
    EXPECT_DOUBLE_EQ(r.GetDimPixelSize(4), 3e9);

    std::string shown;
    auto previous = ImageReader::SetDiagnosticHandler([&](const std::string& text) { shown = text; });
    EXPECT_DOUBLE_EQ(r.GetDimPixelSize(7), 1.0);
    ImageReader::SetDiagnosticHandler(previous);
    EXPECT_EQ(shown.rfind("7 ", 0), 0u) << shown;
    EXPECT_NE(shown, "7 0") << "the message carries libics's error code";
}

TEST_F(IcsFiles, PlanesInAnyOrderAndEitherByteOrder)
{
    // 4-D so that the plane number mixes two dimensions; values differ in both bytes.
    std::vector<uint16_t> data(3 * 2 * 4 * 3);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint16_t>(0x0102 + i * 0x0301);
    auto expected = [&](int z, int t) {
        const size_t start = static_cast<size_t>(z + 4 * t) * 6;
        return std::vector<unsigned short>(data.begin() + static_cast<long>(start), data.begin() + static_cast<long>(start) + 6);
    };
    const std::vector<Dim> dims = {{3, "x", 1, "nm"}, {2, "y", 1, "nm"}, {4, "z", 1, "nm"}, {3, "t", 1, "nm"}};
    const auto path = Write("order.ics", Ics_uint16, dims, data);
    // Compressed, where skipping means decompressing.
    const auto gz = Write("gz.ics", Ics_uint16, dims, data, "w2", true);

    // Big-endian samples: header and separate data file edited by hand.
    const auto big = WriteBigEndian("big.ics", dims, data);

    for (const fs::path& file : {path, big, gz}) {
        Reader r(file);
        ASSERT_EQ(r.GetSize(), V({3, 2, 4, 3})) << file;
        // Backwards, repeated and skipping requests all land on the right plane.
        for (const auto& zt : std::vector<std::pair<int, int>>{{3, 2}, {0, 0}, {0, 0}, {1, 2}, {2, 0}, {0, 1}, {3, 1}, {3, 0}})
            EXPECT_EQ(plane(r, Vector(zt.first, zt.second)), expected(zt.first, zt.second))
                << file.filename() << " z " << zt.first << " t " << zt.second;
    }
}

TEST_F(IcsFiles, OutOfRangePositionsGiveEmptySlices)
{
    const std::vector<uint16_t> d(2 * 2 * 3, 9);
    Reader r(Write("small.ics", Ics_uint16, {{2, "x", 1, "nm"}, {2, "y", 1, "nm"}, {3, "z", 1, "nm"}}, d));
    EXPECT_TRUE(plane(r, V({3})).empty());
    EXPECT_TRUE(plane(r, V({-1})).empty());
    EXPECT_TRUE(plane(r, Vector()).empty());
    EXPECT_EQ(plane(r, V({2})).size(), 4u);
}

TEST_F(IcsFiles, OpensUnderACompositeLocale)
{
    // A GUI program's locale name is usually composite; the reader must leave it intact.
    const std::vector<uint16_t> d(4, 3);
    const auto path = Write("loc.ics", Ics_uint16, {{2, "x", 0.5, "um"}, {2, "y", 0.5, "um"}}, d);
    const std::string before = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
    ASSERT_NE(std::setlocale(LC_NUMERIC, "C"), nullptr);
    const std::string composite = std::setlocale(LC_ALL, nullptr);
    {
        Reader r(path);
        EXPECT_EQ(r.GetSize(), Vector(2, 2));
        EXPECT_DOUBLE_EQ(r.GetDimPixelSize(0), 500.0);
        EXPECT_EQ(plane(r, Vector()), (std::vector<unsigned short>{3, 3, 3, 3}));
    }
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), composite);
    std::setlocale(LC_ALL, before.c_str());
}

TEST(IcsRealFile, ReadsTheSampleImage)
{
    const fs::path folder = testdata::Path("ics");
    Reader r(folder / "testim.ics");
    ASSERT_EQ(r.GetSize(), V({175, 105, 2}));
    EXPECT_EQ(r.GetDimName(0), "x");
    EXPECT_EQ(r.GetDimName(1), "y");
    EXPECT_EQ(r.GetDimName(2), "z");
    EXPECT_DOUBLE_EQ(r.GetDimPixelSize(0), 0.0) << "the file gives no unit";

    // The data file holds the samples uncompressed, little-endian: compare against its bytes.
    FILE* f = std::fopen((folder / "testim.ids").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::vector<unsigned char> raw(175 * 105 * 2 * 2);
    ASSERT_EQ(std::fread(raw.data(), 1, raw.size(), f), raw.size());
    std::fclose(f);
    for (int z = 0; z < 2; ++z) {
        const auto p = plane(r, V({z}));
        ASSERT_EQ(p.size(), 175u * 105u);
        size_t mismatches = 0;
        for (size_t i = 0; i < p.size(); ++i) {
            const size_t o = (static_cast<size_t>(z) * p.size() + i) * 2;
            mismatches += p[i] != static_cast<unsigned short>(raw[o] | raw[o + 1] << 8);
        }
        EXPECT_EQ(mismatches, 0u) << "plane " << z;
        // Figures published with the file.
        const long long sum = std::accumulate(p.begin(), p.end(), 0LL);
        EXPECT_EQ(*std::min_element(p.begin(), p.end()), z == 0 ? 76 : 300);
        EXPECT_EQ(*std::max_element(p.begin(), p.end()), z == 0 ? 224 : 940);
        EXPECT_EQ(sum, z == 0 ? 3480168LL : 10821985LL);
        EXPECT_EQ(p[0], z == 0 ? 208 : 916);
        EXPECT_EQ(p[100 + 50 * 175], z == 0 ? 208 : 313);
    }
}

namespace {

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void replaceLine(const fs::path& header, const std::string& from, const std::string& to)
{
    std::string text = readText(header);
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    std::ofstream(header, std::ios::binary | std::ios::trunc) << text;
}

// The first sample of a plane, or -1 when the plane is missing.
int firstSample(Reader& r, const Vector& at)
{
    const auto p = plane(r, at);
    return p.empty() ? -1 : p.front();
}

// Collects the diagnostics shown while it lives.
struct Diagnostics
{
    Diagnostics()
    {
        previous = ImageReader::SetDiagnosticHandler([this](const std::string& text) { shown.push_back(text); });
    }
    ~Diagnostics() { ImageReader::SetDiagnosticHandler(previous); }
    std::vector<std::string> shown;
    ImageReader::DiagnosticHandler previous;
};

} // namespace

TEST_F(IcsFiles, DataFilesThatDoNotMatchTheirHeaderAreRefusedQuickly)
{
    const std::vector<uint16_t> d(7 * 5 * 3, 11);
    const auto header = Write("cells.ics", Ics_uint16, {{7, "x", 1, "nm"}, {5, "y", 1, "nm"}, {3, "z", 1, "nm"}}, d, "w1");
    const fs::path ids = dir / "cells.ids";
    ASSERT_EQ(fs::file_size(ids), 7u * 5 * 3 * 2);

    fs::resize_file(ids, 100);
    Reader shortData(header);
    EXPECT_EQ(shortData.GetSize().size(), 0u);
    EXPECT_EQ(shortData.GetError(), "cells.ids holds 100 bytes; the header needs 210");

    // Headers claiming far more than the file holds: refused from the file's length, at once.
    const std::pair<const char*, const char*> absurd[] = {
        {"sizes\t16\t70000\t70000\t2", "cells.ids holds 100 bytes; the header needs 19 600 000 000"},
        {"sizes\t16\t100000\t100000\t100000", "cells.ids holds 100 bytes; the header needs 2 000 000 000 000 000"},
    };
    for (const auto& [sizes, message] : absurd) {
        replaceLine(header, readText(header).find("sizes\t16\t7\t5\t3") != std::string::npos ? "sizes\t16\t7\t5\t3" : absurd[0].first,
                    sizes);
        const auto start = std::chrono::steady_clock::now();
        Reader r(header);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500)) << sizes;
        EXPECT_EQ(r.GetSize().size(), 0u) << sizes;
        EXPECT_EQ(r.GetError(), message);
    }

    fs::remove(ids);
    Reader noData(header);
    EXPECT_EQ(noData.GetSize().size(), 0u);
    EXPECT_NE(noData.GetError().find("cells.ids"), std::string::npos) << noData.GetError();
}

TEST_F(IcsFiles, HeaderFieldsAreCheckedBeforeUse)
{
    const std::vector<uint16_t> d(4 * 4, 3);
    const auto header = Write("h.ics", Ics_uint16, {{4, "x", 1, "nm"}, {4, "y", 1, "nm"}}, d, "w1");
    // A byte index far outside the sample (once a crash inside libics), a repeated byte, a zero.
    for (const char* order : {"byte_order\t1\t99999", "byte_order\t1\t1", "byte_order\t0\t1"}) {
        replaceLine(header, readText(header).find("byte_order\t1\t2") != std::string::npos ? "byte_order\t1\t2" : "byte_order", order);
        Reader r(header);
        EXPECT_EQ(r.GetSize().size(), 0u) << order;
        EXPECT_NE(r.GetError().find("byte order"), std::string::npos) << r.GetError();
        replaceLine(header, order, "byte_order\t1\t2");
    }
    Reader good(header);
    EXPECT_EQ(plane(good, Vector()), std::vector<unsigned short>(16, 3));
}

TEST_F(IcsFiles, VersionTwoDataFileIsFoundBesideItsHeader)
{
    // A header naming its data file relative to itself, opened from another working folder.
    const fs::path header = dir / "two.ics";
    ICS* ics = nullptr;
    ASSERT_EQ(IcsOpen(&ics, header.c_str(), "w2"), IcsErr_Ok);
    const size_t extents[] = {3, 2};
    IcsSetLayout(ics, Ics_uint16, 2, extents);
    IcsSetSource(ics, "data.bin", 4);
    IcsSetByteOrder(ics, IcsByteOrder_bigEndian);
    ASSERT_EQ(IcsClose(ics), IcsErr_Ok);
    const unsigned char bytes[] = {9, 9, 9, 9, 0, 1, 0, 2, 1, 0, 0xff, 0xff, 0, 0, 0x12, 0x34};
    std::ofstream(dir / "data.bin", std::ios::binary).write(reinterpret_cast<const char*>(bytes), sizeof bytes);

    const fs::path cwd = fs::current_path();
    fs::current_path(fs::temp_directory_path());
    Reader r(header);
    fs::current_path(cwd);
    ASSERT_EQ(r.GetSize(), Vector(3, 2)) << r.GetError();
    EXPECT_EQ(plane(r, Vector()), (std::vector<unsigned short>{1, 2, 256, 65535, 0, 0x1234}));

    // Header and data in one file, opened by a path relative to the working folder.
    const std::vector<uint16_t> d = {5, 6, 7, 8};
    Write("one.ics", Ics_uint16, {{2, "x", 1, "nm"}, {2, "y", 1, "nm"}}, d);
    fs::current_path(dir.parent_path());
    Reader relative(dir.filename() / "one.ics");
    fs::current_path(cwd);
    ASSERT_EQ(relative.GetSize(), Vector(2, 2)) << relative.GetError();
    EXPECT_EQ(plane(relative, Vector()), (std::vector<unsigned short>{5, 6, 7, 8}));
}

TEST_F(IcsFiles, PlanesLostAfterOpeningAreMissingNotStale)
{
    std::vector<uint16_t> d(4 * 3 * 5);
    for (size_t i = 0; i < d.size(); ++i)
        d[i] = static_cast<uint16_t>(100 + i);
    const std::vector<Dim> dims = {{4, "x", 1, "nm"}, {3, "y", 1, "nm"}, {5, "z", 1, "nm"}};

    // An uncompressed data file cut short while the image is open.
    {
        const auto header = Write("cut.ics", Ics_uint16, dims, d, "w1");
        Reader r(header);
        ASSERT_EQ(firstSample(r, V({4})), 100 + 4 * 12) << r.GetError();
        fs::resize_file(dir / "cut.ids", 2 * 12 * 2);
        Diagnostics seen;
        EXPECT_TRUE(plane(r, V({4})).empty());
        EXPECT_TRUE(plane(r, V({3})).empty());
        EXPECT_FALSE(r.GetValue(V({0, 0, 4})).has_value()) << "the readout must not show an old value";
        EXPECT_EQ(firstSample(r, V({1})), 100 + 12);
        EXPECT_EQ(*r.GetValue(V({1, 0, 1})), 100 + 13);
        EXPECT_EQ(seen.shown.size(), 1u) << "one warning per image";
    }
    // A compressed stream that ends early: the planes before the cut stay readable. Samples
    // that do not compress well, so that the cut falls after the first plane.
    {
        std::vector<uint16_t> noisy(64 * 64 * 5);
        uint32_t state = 12345;
        for (auto& v : noisy)
            v = static_cast<uint16_t>((state = state * 1664525u + 1013904223u) >> 16);
        const auto header = Write("gz.ics", Ics_uint16, {{64, "x", 1, "nm"}, {64, "y", 1, "nm"}, {5, "z", 1, "nm"}}, noisy, "w2", true);
        const std::string text = readText(header);
        const size_t dataStart = text.find("end\t\n") + 5;
        ASSERT_LT(dataStart, text.size());
        fs::resize_file(header, dataStart + (text.size() - dataStart) * 6 / 10);
        Diagnostics seen;
        Reader r(header);
        ASSERT_EQ(r.GetSize(), V({64, 64, 5})) << r.GetError();
        EXPECT_TRUE(plane(r, V({4})).empty());
        EXPECT_EQ(firstSample(r, V({0})), noisy[0]);
        EXPECT_EQ(firstSample(r, V({1})), noisy[64 * 64]);
        EXPECT_TRUE(plane(r, V({4})).empty());
        EXPECT_EQ(seen.shown.size(), 1u);
    }
}

namespace {

uint16_t gzValue(int x, int y, int z, int t)
{
    return static_cast<uint16_t>(x * 3 + y * 401 + z * 7919 + t * 12007 + ((x * y) & 0x3F));
}

// Planes of a 40 x 30 x 8 x 6 image; -1: the plane is missing, -2: a value differs.
int gzPlane(Reader& r, int z, int t)
{
    const auto got = plane(r, V({z, t}));
    if (got.empty())
        return -1;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            if (got[static_cast<size_t>(y * 40 + x)] != gzValue(x, y, z, t))
                return -2;
    return 0;
}

// 40 x 30 x 8 z x 6 t samples of gzValue, and their dimensions.
std::vector<Dim> gzDims()
{
    return {{40, "x", 1, "nm"}, {30, "y", 1, "nm"}, {8, "z", 1, "nm"}, {6, "t", 1, "nm"}};
}

std::vector<uint16_t> gzData()
{
    std::vector<uint16_t> data;
    for (int t = 0; t < 6; ++t)
        for (int z = 0; z < 8; ++z)
            for (int y = 0; y < 30; ++y)
                for (int x = 0; x < 40; ++x)
                    data.push_back(gzValue(x, y, z, t));
    return data;
}

} // namespace

// gzip data, in the header's own file or a separate one: every plane in order, backwards
// and at random is the formula's.
TEST_F(IcsFiles, GzipPlanesInAnyOrder)
{
    const std::vector<Dim> dims = gzDims();
    const std::vector<uint16_t> data = gzData();
    for (const char* mode : {"w2", "w1"}) {
        const auto path = Write(std::string("gz") + mode + ".ics", Ics_uint16, dims, data, mode, true);
        Reader r(path);
        ASSERT_EQ(r.GetSize(), V({40, 30, 8, 6})) << mode << ": " << r.GetError();
        EXPECT_EQ(r.GetFormatName(), "ICS, uint16, compressed");
        std::vector<std::pair<int, int>> order;
        for (int t = 0; t < 6; ++t)
            for (int z = 0; z < 8; ++z)
                order.emplace_back(z, t);
        std::vector<std::pair<int, int>> requests = order;
        requests.insert(requests.end(), order.rbegin(), order.rend());
        std::shuffle(order.begin(), order.end(), std::mt19937(5));
        requests.insert(requests.end(), order.begin(), order.end());
        for (const auto& [z, t] : requests)
            ASSERT_EQ(gzPlane(r, z, t), 0) << mode << " z " << z << " t " << t;
        EXPECT_EQ(*r.GetValue(V({39, 29, 7, 5})), gzValue(39, 29, 7, 5));

        // Several threads at once, each in its own order.
        std::vector<int> wrong(3, 0);
        std::vector<std::thread> threads;
        for (int n = 0; n < 3; ++n)
            threads.emplace_back([&, n] {
                for (int i = 0; i < 48; ++i) {
                    const int k = n == 0 ? i : n == 1 ? 47 - i : (i * 29) % 48;
                    wrong[static_cast<size_t>(n)] += gzPlane(r, k % 8, k / 8) != 0;
                }
            });
        for (std::thread& t : threads)
            t.join();
        EXPECT_EQ(wrong, std::vector<int>(3, 0)) << mode;
    }
}

// gzip data cut short: planes from the cut on are missing (once one is, all after it are),
// whichever is asked for first; the ones before it read. Damage inside the stream that
// inflate cannot notice gives wrong samples after it, but the planes before it read and
// nothing reads outside its buffers.
TEST_F(IcsFiles, CutOrDamagedGzipDataGivesMissingPlanes)
{
    const std::vector<Dim> dims = gzDims();
    const std::vector<uint16_t> data = gzData();
    {
        const auto header = Write("cut.ics", Ics_uint16, dims, data, "w1", true);
        fs::resize_file(dir / "cut.ids", fs::file_size(dir / "cut.ids") / 2);
        Diagnostics seen;
        Reader r(header);
        ASSERT_EQ(r.GetSize(), V({40, 30, 8, 6})) << r.GetError();
        EXPECT_EQ(gzPlane(r, 7, 5), -1);
        int firstMissing = -1;
        for (int k = 0; k < 48; ++k) {
            const int result = gzPlane(r, k % 8, k / 8);
            if (firstMissing < 0 && result == -1)
                firstMissing = k;
            EXPECT_EQ(result, firstMissing < 0 ? 0 : -1) << "plane " << k;
        }
        EXPECT_GT(firstMissing, 5);
        EXPECT_LT(firstMissing, 47);
        for (int k = firstMissing - 1; k >= 0; --k)
            EXPECT_EQ(gzPlane(r, k % 8, k / 8), 0) << "plane " << k;
        EXPECT_EQ(seen.shown.size(), 1u);
    }
    {
        const auto header = Write("bad.ics", Ics_uint16, dims, data, "w2", true);
        std::string text = readText(header);
        const size_t dataStart = text.find("end\t\n") + 5;
        ASSERT_LT(dataStart, text.size());
        const size_t at = dataStart + (text.size() - dataStart) * 2 / 3;
        for (size_t i = at; i < at + 48 && i < text.size(); ++i)
            text[i] = static_cast<char>(0xA5 ^ (i * 37));
        std::ofstream(header, std::ios::binary | std::ios::trunc) << text;
        Reader r(header);
        ASSERT_EQ(r.GetSize(), V({40, 30, 8, 6})) << r.GetError();
        for (int k = 47; k >= 0; --k)
            gzPlane(r, k % 8, k / 8);
        for (int k = 0; k < 8; ++k)
            EXPECT_EQ(gzPlane(r, k, 0), 0) << "plane " << k << ", well before the damage";
    }
}

TEST(IcsUnits, SpellingsOfLengthUnits)
{
    const std::pair<const char*, double> units[] = {
        {"m", 1e9},         {"mm", 1e6},          {"um", 1e3},       {"UM", 1e3},
        {"\xc2\xb5m", 1e3}, {"\xb5m", 1e3},       {"micron", 1e3},   {"Microns", 1e3},
        {"micrometer", 1e3}, {"MICROMETERS", 1e3}, {"nm", 1},        {"nanometers", 1},
        {"Nanometer", 1},   {"furlong", 0},       {"pixel", 0},
    };
    const fs::path folder = fs::temp_directory_path() / ("lumora_units_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    for (const auto& [unit, factor] : units) {
        const fs::path path = folder / "u.ics";
        ICS* ics = nullptr;
        ASSERT_EQ(IcsOpen(&ics, path.c_str(), "w2"), IcsErr_Ok);
        const size_t extents[] = {1, 1};
        const uint16_t sample = 0;
        IcsSetLayout(ics, Ics_uint16, 2, extents);
        IcsSetData(ics, &sample, sizeof sample);
        IcsSetPosition(ics, 0, 0.0, 0.5, unit);
        ASSERT_EQ(IcsClose(ics), IcsErr_Ok);
        Reader r(path);
        EXPECT_DOUBLE_EQ(r.GetDimPixelSize(0), 0.5 * factor) << unit;
    }
    fs::remove_all(folder);
}

// A header may name its data file; only files in its own folder or below are read, unless
// the user allows others.
TEST_F(IcsFiles, DataFilesOutsideTheHeadersFolderAreRefusedUnlessAllowed)
{
    fs::create_directories(dir / "img" / "sub");
    const unsigned char bytes[] = {1, 0, 2, 0, 3, 0, 4, 0};
    for (const fs::path& data : {dir / "outside.bin", dir / "img" / "sub" / "inside.bin"})
        std::ofstream(data, std::ios::binary).write(reinterpret_cast<const char*>(bytes), sizeof bytes);
    fs::create_symlink(dir / "outside.bin", dir / "img" / "link.bin");
    const auto writeHeader = [&](const std::string& source) {
        const fs::path header = dir / "img" / "h.ics";
        ICS* ics = nullptr;
        EXPECT_EQ(IcsOpen(&ics, header.c_str(), "w2"), IcsErr_Ok);
        const size_t extents[] = {2, 2};
        IcsSetLayout(ics, Ics_uint16, 2, extents);
        IcsSetSource(ics, source.c_str(), 0);
        IcsSetByteOrder(ics, IcsByteOrder_littleEndian);
        EXPECT_EQ(IcsClose(ics), IcsErr_Ok);
        return header;
    };
    for (const std::string& source : {std::string("../outside.bin"), (dir / "outside.bin").string(), std::string("link.bin"),
                                     std::string("/etc/passwd")}) {
        Reader r(writeHeader(source));
        EXPECT_EQ(r.GetSize().size(), 0u) << source;
        EXPECT_NE(r.GetError().find("outside its own folder"), std::string::npos) << r.GetError();
    }
    Reader inside(writeHeader("sub/inside.bin"));
    EXPECT_EQ(plane(inside, Vector()), (std::vector<unsigned short>{1, 2, 3, 4})) << inside.GetError();

    ImageReader::SetAllowOutsideData(true);
    Reader allowed(writeHeader("../outside.bin"));
    ImageReader::SetAllowOutsideData(false);
    EXPECT_EQ(plane(allowed, Vector()), (std::vector<unsigned short>{1, 2, 3, 4})) << allowed.GetError();
    ::setenv("LUMORA_ALLOW_OUTSIDE_DATA", "1", 1);
    Reader byEnvironment(writeHeader("link.bin"));
    ::unsetenv("LUMORA_ALLOW_OUTSIDE_DATA");
    EXPECT_EQ(plane(byEnvironment, Vector()), (std::vector<unsigned short>{1, 2, 3, 4})) << byEnvironment.GetError();
}

// libics reads a header without a byte order line in the machine's own order.
TEST_F(IcsFiles, HeaderWithoutByteOrderIsReadInNativeOrder)
{
    const auto dropByteOrder = [](const fs::path& header) {
        std::string text = readText(header);
        const size_t at = text.find("representation\tbyte_order");
        ASSERT_NE(at, std::string::npos);
        text.erase(at, text.find('\n', at) + 1 - at);
        std::ofstream(header, std::ios::binary | std::ios::trunc) << text;
    };
    const std::vector<uint16_t> d = {1, 300, 65535, 7, 8, 9};
    const auto header = Write("n.ics", Ics_uint16, {{3, "x", 1, "nm"}, {2, "y", 1, "nm"}}, d, "w1");
    dropByteOrder(header);
    Reader r(header);
    ASSERT_EQ(r.GetSize(), Vector(3, 2)) << r.GetError();
    EXPECT_EQ(plane(r, Vector()), d);

    const std::vector<float> f = {0.5f, -2.0f, 1e6f, 3.0f};
    const auto floats = Write("f.ics", Ics_real32, {{2, "x", 1, "nm"}, {2, "y", 1, "nm"}}, f, "w1");
    dropByteOrder(floats);
    Reader rf(floats);
    ASSERT_EQ(rf.GetSize(), Vector(2, 2)) << rf.GetError();
    EXPECT_EQ(rf.GetValue(V({0, 1})), 1e6);
    EXPECT_EQ(rf.GetValue(V({1, 0})), -2.0);
}

// Side views of mapped data that is not lent as it is (big-endian, 8-bit) read each plane's
// row or column alone: the values are the file's, and no plane is converted and kept whole.
TEST_F(IcsFiles, SideViewsOfConvertedDataReadOnlyTheirBand)
{
    constexpr int X = 5, Y = 4, Z = 70;
    std::vector<uint16_t> data(X * Y * Z);
    std::vector<uint8_t> bytes(data.size());
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint16_t>(0x0102 + i * 0x0301);
        bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    const std::vector<Dim> dims = {{X, "x", 1, "nm"}, {Y, "y", 1, "nm"}, {Z, "z", 1, "nm"}};
    const auto big = WriteBigEndian("big.ics", dims, data);
    const auto u8 = Write("u8.ics", Ics_uint8, dims, bytes, "w1");

    const auto value = [&](bool wide, int x, int y, int z) -> unsigned short {
        const size_t i = static_cast<size_t>(x + X * (y + Y * z));
        return wide ? data[i] : bytes[i];
    };
    for (const bool wide : {true, false}) {
        Reader r(wide ? big : u8);
        ASSERT_EQ(r.GetSize(), V({X, Y, Z})) << r.GetError();
        ImageReader::SliceCache<unsigned short> cache(&r, size_t(64) << 20);
        const auto yz = cache.GetMaximumProjection(2, 1, V({3, -1, -1}));
        const auto xz = cache.GetMaximumProjection(0, 2, V({-1, 2, -1}));
        ASSERT_EQ(yz.GetSize(), V({Z, Y}));
        ASSERT_EQ(xz.GetSize(), V({X, Z}));
        for (int z = 0; z < Z; ++z) {
            for (int y = 0; y < Y; ++y)
                ASSERT_EQ(yz.GetData()[z + Z * y], value(wide, 3, y, z)) << wide << " YZ " << y << "," << z;
            for (int x = 0; x < X; ++x)
                ASSERT_EQ(xz.GetData()[x + X * z], value(wide, x, 2, z)) << wide << " XZ " << x << "," << z;
        }
        EXPECT_EQ(cache.GetCount(), 0u) << "no plane kept for a line of it";
        // A band that reaches outside the plane is nothing, not a read past it.
        EXPECT_TRUE(r.GetColumns(V({0}), 4, 6).IsEmpty());
        EXPECT_TRUE(r.GetRows(V({Z}), 0, 1).IsEmpty());
    }

    // Planes lost from the data file after opening: their bands are missing too.
    Reader r(big);
    fs::resize_file(dir / "big.ids", size_t(X * Y * 2) * 10);
    Diagnostics seen;
    EXPECT_TRUE(r.GetColumns(V({20}), 1, 2).IsEmpty());
    const auto early = r.GetRows(V({3}), 1, 2);
    ASSERT_EQ(early.GetSize(), V({X, 1}));
    EXPECT_EQ(early.GetData()[4], data[static_cast<size_t>(4 + X * (1 + Y * 3))]);
}
