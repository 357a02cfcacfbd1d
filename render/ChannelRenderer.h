#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "ImageBase.h"
#include "ImageChannel.h"

namespace ImageViewer {

// Composites the channels of an image along the channel dimension m_dim (negative: none)
// by saturating addition.
class ChannelRenderer
{
public:
    ChannelRenderer(int dim, ChannelListPtr channels);
    explicit ChannelRenderer(int dim);

    void AddChannel(ChannelPtr channel);
    RGBABuffer RenderToRGBA(ImageReader::ImageBase<unsigned short>& image);

    // A slice, the channel colouring it and, when the caller has it, the slice's ScanValues.
    struct Layer
    {
        Layer(ImageChannel* c, ImageReader::ImageSlice<unsigned short> s, std::optional<ValueSpan> v = std::nullopt)
            : channel(c), slice(std::move(s)), span(v)
        {
        }
        ImageChannel* channel;
        ImageReader::ImageSlice<unsigned short> slice;
        std::optional<ValueSpan> span;
    };
    // A new w x h picture: every slice mapped through its channel (autoscaling included, in
    // list order) and added with saturation, black without layers. The output is written
    // once instead of once per channel. Empty slices contribute nothing, and so do slices
    // whose size is not w x h (their channel still autoscales).
    // `reuse`, when given, is a w x h picture to write over instead of allocating a new one
    // (fresh pages for every display step cost more than the colouring itself).
    // Pictures of ParallelPixels or more are coloured on up to `threads` threads (0: one
    // per core) sharing out blocks of pixels; the result does not depend on the split.
    static RGBABuffer Composite(const std::vector<Layer>& layers, int w, int h, RGBABuffer reuse = nullptr,
                                unsigned threads = 0);
    static constexpr size_t ParallelPixels = size_t(1) << 18;

    ChannelListPtr m_channels;
    int m_dim;
};

// The planes of the listed channels along the channel dimension `dim` (dim < 0: the first
// plane, for channel 0), one per channel considered; a disabled channel's stays empty, as
// does one the image cannot give. A list shorter than the dimension is a caller error: only
// listed channels count. `size` is the image's size, with `dim` inside it.
std::vector<ImageReader::ImageSlice<unsigned short>> ReadChannelPlanes(ImageReader::ImageBase<unsigned short>& image,
                                                                       const ImageReader::Vector& size, int dim,
                                                                       const ChannelList& channels);

// Light wavelength in nm to red, green and blue weights.
void WavelengthToRGB(double wl, double& r, double& g, double& b);

} // namespace ImageViewer
