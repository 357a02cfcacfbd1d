#pragma once

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

    using Layer = std::pair<ImageChannel*, ImageReader::ImageSlice<unsigned short>>;
    // A new w x h picture: every slice mapped through its channel (autoscaling included, in
    // list order) and added with saturation, black without layers. The output is written
    // once instead of once per channel. Empty slices contribute nothing, and so do slices
    // whose size is not w x h (their channel still autoscales).
    static RGBABuffer Composite(const std::vector<Layer>& layers, int w, int h);

    ChannelListPtr m_channels;
    int m_dim;
};

// Light wavelength in nm to red, green and blue weights.
void WavelengthToRGB(double wl, double& r, double& g, double& b);

} // namespace ImageViewer
