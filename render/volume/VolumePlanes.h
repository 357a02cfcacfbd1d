#pragma once

#include <utility>
#include <vector>

#include "ImageBase.h"

// No toolkit header here: the model (core/) colours 3-D frames through this adapter.
namespace ImageViewer {

// The planes RenderVolume gives, stacked as an image of size (width, height, planes) whose
// third dimension is the channel: what ChannelRenderer and RenderSpectralView take, so the
// 3-D view is coloured exactly as a slice view is (ranges, gamma, colours, spectral mode).
class VolumePlanes : public ImageReader::ImageBase<unsigned short>
{
public:
    explicit VolumePlanes(std::vector<ImageReader::ImageSlice<unsigned short>> planes, int width, int height)
        : m_planes(std::move(planes)), m_width(width), m_height(height)
    {
    }
    ImageReader::Vector GetSize() override;
    // The plane of position[0]; empty outside.
    ImageReader::ImageSlice<unsigned short> GetSlice(const ImageReader::Vector& position) override;

private:
    std::vector<ImageReader::ImageSlice<unsigned short>> m_planes;
    int m_width;
    int m_height;
};

} // namespace ImageViewer
