// Lookup tables, file hints applied to channels, and the colour bar.
#include <array>
#include <cstring>
#include <vector>

#include <QGuiApplication>
#include <gtest/gtest.h>

#include "ChannelHints.h"
#include "ColourBar.h"
#include "ImageChannel.h"
#include "MemoryImage.h"

using namespace ImageViewer;

namespace {

using Rgb = std::array<int, 3>;

// The grey ramp's level of value v for range mn..mx, written out from the mapping's
// definition: 256 steps reaching full one below mx, then 255ths.
int Level(long long v, long long mn, long long mx)
{
    const long long t = std::clamp((v - mn + 1) * 256 / (mx - mn), 0ll, 256ll);
    return static_cast<int>(std::min(255 * t / 256, 255ll));
}

// What a render gives value v: the table is built only over the slice's values.
Rgb Rendered(ImageChannel& channel, unsigned short v)
{
    const ImageReader::ImageSlice<unsigned short> slice = MemoryImage({1, 1}, {v}).GetSlice(V({}));
    const std::vector<std::uint32_t> table = channel.PrepareRender(slice);
    unsigned char px[4];
    std::memcpy(px, &table[v], 4);
    return {px[2], px[1], px[0]};
}

} // namespace

// Range 100..1100 throughout: values at or below 100 are the bottom, from 1099 on the top.
TEST(LookupTables, KnownValuesPerTable)
{
    ImageChannel channel(100, 1100, 0, 0, 255, 0);
    const int samples[] = {0, 99, 100, 101, 350, 600, 1098, 1099, 1100, 5000, 65535};
    for (int v : samples) {
        const int level = Level(v, 100, 1100);
        channel.m_lut = LookupTable::Colour;
        EXPECT_EQ(Rendered(channel, static_cast<unsigned short>(v)), (Rgb{0, level, 0})) << v;
        channel.m_lut = LookupTable::Grey;
        EXPECT_EQ(Rendered(channel, static_cast<unsigned short>(v)), (Rgb{level, level, level})) << v;
        // Inverted: the colour minus its ramp.
        channel.m_lut = LookupTable::Inverted;
        EXPECT_EQ(Rendered(channel, static_cast<unsigned short>(v)), (Rgb{0, 255 - level, 0})) << v;
        // HiLo: grey inside, blue at and below the minimum, red at and above the maximum.
        channel.m_lut = LookupTable::HiLo;
        const Rgb hilo = v <= 100 ? Rgb{0, 0, 255} : v >= 1100 ? Rgb{255, 0, 0} : Rgb{level, level, level};
        EXPECT_EQ(Rendered(channel, static_cast<unsigned short>(v)), hilo) << v;
        // A table of its own, indexed by the level: entry i is (i, 255 - i, 7).
        channel.m_lut = LookupTable::Own;
        channel.m_lutColours.clear();
        for (int i = 0; i < 256; ++i)
            channel.m_lutColours.insert(channel.m_lutColours.end(), {static_cast<std::uint8_t>(i),
                                                                     static_cast<std::uint8_t>(255 - i), 7});
        EXPECT_EQ(Rendered(channel, static_cast<unsigned short>(v)), (Rgb{level, 255 - level, 7})) << v;
    }
    // Hand-worked: 600 is level 127 (501 * 256 / 1000 = 128 steps of 256).
    channel.m_lut = LookupTable::HiLo;
    EXPECT_EQ(Rendered(channel, 600), (Rgb{127, 127, 127}));
    channel.m_lut = LookupTable::Inverted;
    EXPECT_EQ(Rendered(channel, 600), (Rgb{0, 128, 0}));
    // Fire runs from black through reds to white.
    channel.m_lut = LookupTable::Fire;
    EXPECT_EQ(Rendered(channel, 50), (Rgb{0, 0, 0}));
    EXPECT_EQ(Rendered(channel, 2000), (Rgb{255, 255, 255}));
    const Rgb middle = Rendered(channel, 700);
    EXPECT_GT(middle[0], middle[1]);
    EXPECT_GT(middle[0], middle[2]);
    // A table of the wrong size shows grey rather than reading past it.
    channel.m_lut = LookupTable::Own;
    channel.m_lutColours.assign(30, 9);
    EXPECT_EQ(Rendered(channel, 600), (Rgb{127, 127, 127}));
}

// A channel keeps its last table: switching the table, or editing its own table's entries,
// must not show the old one.
TEST(LookupTables, SwitchingTablesRebuildsTheCachedTable)
{
    ImageChannel channel(0, 256, 0, 255, 255, 255);
    EXPECT_EQ(Rendered(channel, 300), (Rgb{255, 255, 255}));
    channel.m_lut = LookupTable::HiLo;
    EXPECT_EQ(Rendered(channel, 300), (Rgb{255, 0, 0}));
    channel.m_lut = LookupTable::Own;
    channel.m_lutColours.assign(768, 10);
    EXPECT_EQ(Rendered(channel, 300), (Rgb{10, 10, 10}));
    channel.m_lutColours.assign(768, 20);
    EXPECT_EQ(Rendered(channel, 300), (Rgb{20, 20, 20}));
    unsigned char r, g, b;
    channel.MapValue(300, r, g, b);
    EXPECT_EQ((Rgb{r, g, b}), (Rgb{20, 20, 20}));
    EXPECT_EQ(LookupTableFromName("HiLo"), LookupTable::HiLo);
    EXPECT_EQ(LookupTableFromName(LookupTableNames()[4]), LookupTable::Inverted);
    EXPECT_EQ(LookupTableFromName("nonsense"), LookupTable::Colour);
}

TEST(ChannelHints, FileColourWavelengthTableAndWindow)
{
    ImageChannel channel(0, 100, 0, 255, 0, 0, true);
    ImageReader::ChannelHint hint;
    hint.hasColor = true;
    hint.red = 0;
    hint.green = 0;
    hint.blue = 255;
    hint.hasWindow = true;
    hint.windowStart = -10.25;
    hint.windowEnd = 99.25;
    // A map of a signed 16-bit file: display = real + 32768.
    ImageReader::ValueMap map;
    map.offset = -32768;
    ApplyChannelHint(channel, hint, map);
    EXPECT_EQ((Rgb{channel.m_r, channel.m_g, channel.m_b}), (Rgb{0, 0, 255}));
    EXPECT_EQ(channel.m_min, 32758); // the nearest display values
    EXPECT_EQ(channel.m_max, 32867);
    EXPECT_FALSE(channel.m_autoscaling);
    EXPECT_EQ(channel.m_lut, LookupTable::Colour);

    // Without a colour, the emission wavelength gives one: 610 nm red-orange, 460 nm blue,
    // 520 nm green.
    const auto colourOf = [](double nm) {
        ImageChannel c(0, 1, 0, 1, 2, 3);
        ImageReader::ChannelHint h;
        h.wavelength = nm;
        ApplyChannelHint(c, h, ImageReader::ValueMap());
        return Rgb{c.m_r, c.m_g, c.m_b};
    };
    const Rgb red = colourOf(610), blue = colourOf(460), green = colourOf(520), infrared = colourOf(800);
    EXPECT_EQ(red[0], 255);
    EXPECT_LT(red[2], 20);
    EXPECT_EQ(blue[2], 255);
    EXPECT_LT(blue[0], 100);
    EXPECT_EQ(green[1], 255);
    EXPECT_EQ(infrared[0], 255); // shown as the deepest visible red, not black
    EXPECT_EQ(colourOf(0), (Rgb{1, 2, 3}));

    hint = ImageReader::ChannelHint();
    hint.lut.assign(768, 5);
    hint.active = false;
    ApplyChannelHint(channel, hint, ImageReader::ValueMap());
    EXPECT_EQ(channel.m_lut, LookupTable::Own);
    EXPECT_EQ(channel.m_lutColours.size(), 768u);
    EXPECT_FALSE(channel.m_enabled);
}

TEST(ColourBar, ColumnsFollowTheTableAndEndsAreLabelled)
{
    int argc = 0;
    QGuiApplication app(argc, nullptr);
    ImageChannel channel(1000, 3000, 0, 255, 255, 255);
    channel.m_lut = LookupTable::HiLo;
    const QImage bar = RenderColourBar(channel, 203, 12, ImageReader::ValueMap(), ImageReader::SampleType::UInt16);
    ASSERT_FALSE(bar.isNull());
    EXPECT_EQ(bar.width(), 203);
    EXPECT_GT(bar.height(), 12); // the labels' row
    const auto at = [&](int x) {
        const QRgb c = bar.pixel(x, 6);
        return Rgb{qRed(c), qGreen(c), qBlue(c)};
    };
    // Inside the outline: 1000 (blue) at column 1, 3000 (red) at column 201, 10 a column.
    EXPECT_EQ(at(1), (Rgb{0, 0, 255}));
    EXPECT_EQ(at(201), (Rgb{255, 0, 0}));
    const int mid = Level(2000, 1000, 3000);
    EXPECT_EQ(at(101), (Rgb{mid, mid, mid}));
    EXPECT_EQ(bar.pixel(0, 6), qRgb(128, 128, 128));
    EXPECT_TRUE(RenderColourBar(channel, 1, 12, ImageReader::ValueMap(), ImageReader::SampleType::UInt16).isNull());
}
