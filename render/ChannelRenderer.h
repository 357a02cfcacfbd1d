#pragma once

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

    ChannelListPtr m_channels;
    int m_dim;
};

// Light wavelength in nm to red, green and blue weights.
void WavelengthToRGB(double wl, double& r, double& g, double& b);

} // namespace ImageViewer
