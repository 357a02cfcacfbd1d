#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ImageSlice.h"
#include "RGBABuffer.h"

namespace ImageViewer {

// The smallest and largest value a slice holds; lo 65536 and hi 0 for a slice without
// pixels. Views keep it with their planes, so that re-colouring does not scan them again.
struct ValueSpan
{
    int lo = 65536;
    int hi = 0;
};
ValueSpan ScanValues(const ImageReader::ImageSlice<unsigned short>& slice);

// How a channel turns its ramp (0 at the range's bottom, full at its top, bent by gamma)
// into colour: the channel's colour; grey; a fire table (black, purple, red, orange,
// yellow, white); grey with values at or below the minimum blue and at or above the maximum
// red (to see clipping); the channel's colour falling from full at the bottom to black at
// the top; or a 256-entry table of its own (m_lutColours, as files give them).
enum class LookupTable { Colour, Grey, Fire, HiLo, Inverted, Own };

// The names the choice lists show, in enum order, and a name's table (Colour for unknown).
const std::vector<std::string>& LookupTableNames();
LookupTable LookupTableFromName(const std::string& name);

// A display channel: range, colour, gamma and switches. Shared by reference between the
// window, the renderers and the panels; rendering may widen m_min/m_max (autoscaling).
class ImageChannel
{
public:
    ImageChannel(int mi, int ma, int gamma, int r, int g, int b, bool autoscaling);
    ImageChannel(int mi, int ma, int gamma, int r, int g, int b);
    ImageChannel(int mi, int ma, int gamma);
    ImageChannel(int mi, int ma);

    // Maps a 16-bit slice through the range and colour; null for an empty slice.
    RGBABuffer RenderToRGBA(const ImageReader::ImageSlice<unsigned short>& slice);

    // The first half of a render: applies autoscaling for the slice and returns the table of
    // this render, 65536 entries of which every value the slice holds is filled with its
    // output pixel (bytes blue, green, red, 0 in memory order). Empty for an empty slice.
    // `known`, when given, is the slice's ScanValues, which then is not scanned again.
    std::vector<std::uint32_t> PrepareRender(const ImageReader::ImageSlice<unsigned short>& slice,
                                             const ValueSpan* known = nullptr);
    // Fills table[lo..hi] (0 <= lo <= hi <= 65535) from the current range, colour, gamma
    // and lookup table.
    void FillLookupTable(std::uint32_t* table, int lo, int hi) const;
    // The output pixel of one display value (red, green, blue), as a render gives it.
    void MapValue(int value, unsigned char& r, unsigned char& g, unsigned char& b) const;

    int m_min;
    int m_max;
    int m_gamma;
    int m_r;
    int m_g;
    int m_b;
    bool m_autoscaling;
    bool m_enabled = true;
    LookupTable m_lut = LookupTable::Colour;
    // For LookupTable::Own: 256 entries of red, green, blue (entry i at 3i); a table of
    // another size shows as grey.
    std::vector<std::uint8_t> m_lutColours;

private:
    // The ramp in the colour (r, g, b): the whole of FillLookupTable for LookupTable::Colour.
    void FillRamp(std::uint32_t* table, int lo, int hi, long long r, long long g, long long b) const;

    // The last table built and the settings it was built for, with the value span filled so
    // far: the views of one refresh share the settings, so each entry is computed once (the
    // gamma curve costs a pow per entry).
    std::vector<std::uint32_t> m_table;
    std::array<int, 7> m_tableSettings{};
    std::vector<std::uint8_t> m_tableColours;
    int m_tableLo = 1;
    int m_tableHi = 0;
};

using ChannelPtr = std::shared_ptr<ImageChannel>;
using ChannelList = std::vector<ChannelPtr>;
using ChannelListPtr = std::shared_ptr<ChannelList>;

} // namespace ImageViewer
