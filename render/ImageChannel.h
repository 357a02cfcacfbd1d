#pragma once

#include <array>
#include <cstdint>
#include <memory>
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
    // Fills table[lo..hi] (0 <= lo <= hi <= 65535) from the current range, colour and gamma.
    void FillLookupTable(std::uint32_t* table, int lo, int hi) const;

    int m_min;
    int m_max;
    int m_gamma;
    int m_r;
    int m_g;
    int m_b;
    bool m_autoscaling;
    bool m_enabled = true;

private:
    // The last table built and the settings it was built for, with the value span filled so
    // far: the views of one refresh share the settings, so each entry is computed once (the
    // gamma curve costs a pow per entry).
    std::vector<std::uint32_t> m_table;
    std::array<int, 6> m_tableSettings{};
    int m_tableLo = 1;
    int m_tableHi = 0;
};

using ChannelPtr = std::shared_ptr<ImageChannel>;
using ChannelList = std::vector<ChannelPtr>;
using ChannelListPtr = std::shared_ptr<ChannelList>;

} // namespace ImageViewer
