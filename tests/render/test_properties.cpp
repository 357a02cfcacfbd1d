#include <limits>
#include <vector>

#include <cmath>
#include <limits>
#include <utility>

#include <gtest/gtest.h>

#include "ImageProperties.h"

using namespace ImageViewer;

namespace {

// Three dimensions with names and pixel sizes.
class FakeReader : public ImageReader::ImageReaderBase<unsigned short>
{
public:
    ImageReader::ImageSlice<unsigned short> GetSlice(const ImageReader::Vector&) override { return {}; }
    ImageReader::Vector GetSize() override
    {
        ImageReader::Vector v(4, 4);
        v.push_back(4);
        return v;
    }
    void Open(const std::filesystem::path&) override {}
    void Close() override {}
    std::string GetDimName(unsigned int dim) override { return names.at(dim); }
    double GetDimPixelSize(unsigned int dim) override { return sizes.at(dim); }

    std::vector<std::string> names = {"x", "y", "lambda"};
    std::vector<double> sizes = {65.5, 65.5, 0};
};

} // namespace

TEST(ImageProperties, CopiesNamesAndSizesFromTheReader)
{
    FakeReader reader;
    const ImageProperties props(reader);
    EXPECT_EQ(props.m_dimname, reader.names);
    EXPECT_EQ(props.m_pixelsize, reader.sizes);
    EXPECT_EQ(props.m_zoom, 1.0);
}

TEST(ImageProperties, PixelZooms)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case
    {
        std::vector<double> sizes;
        double zoom;
        std::vector<double> expected;
    };
    const Case cases[] = {
        {{0, 0, 0}, 1.5, {1.5, 1.5, 1.5}},
        {{50, 200}, 2.0, {2, 8}},
        {{100, 100, 300}, 1.0, {1, 1, 3}},
        {{0, 250, 500}, 1.0, {1, 1, 2}},
        // Negative, infinite and not-a-number sizes count as not given.
        {{-100, 100, 300}, 1.0, {1, 1, 3}},
        {{inf, 40, nan}, 3.0, {3, 3, 3}},
        {{-5}, 2.0, {2}},
        {{}, 1.0, {}},
        // A ratio past the largest double falls back to the plain zoom.
        {{1e-300, 1e300}, 2.0, {2, 2}},
    };
    for (const Case& c : cases) {
        ImageProperties props;
        props.m_pixelsize = c.sizes;
        props.m_zoom = c.zoom;
        EXPECT_EQ(props.GetPixelZooms(), c.expected) << "case with " << c.sizes.size() << " sizes";
    }
}

TEST(ImageProperties, PixelSizesInMicrometres)
{
    const std::pair<double, const char*> cases[] = {
        {162.4999997094274, "0.1625"}, {100, "0.1"}, {2000, "2"}, {500.00000001, "0.5"}, {1234567, "1235"},
        {12345678, "12346"}, {999.96, "1"}, {0.25, "0.00025"}, {65, "0.065"},
        {0, ""}, {-5, ""}, {std::nan(""), ""}, {std::numeric_limits<double>::infinity(), ""},
    };
    for (const auto& [nm, text] : cases)
        EXPECT_EQ(FormatMicrons(nm), text) << nm;
    EXPECT_EQ(FormatMicrons(162.4999997094274, 6), "0.1625");
    EXPECT_EQ(FormatMicrons(123.456789, 6), "0.123457");

    EXPECT_DOUBLE_EQ(ParseMicrons("0.1625"), 162.5);
    EXPECT_DOUBLE_EQ(ParseMicrons(" 0,5 µm"), 500);
    EXPECT_DOUBLE_EQ(ParseMicrons("2um"), 2000);
    for (const char* bad : {"", "abc", "0", "-1", "0.5x", "nan", "inf"})
        EXPECT_EQ(ParseMicrons(bad), 0.0) << bad;
}
