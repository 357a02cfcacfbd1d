#pragma once

#include <array>
#include <vector>

#include <QColor>
#include <QImage>
#include <QString>

#include "ImageBase.h"
#include "ImageChannel.h"
#include "VolumeRenderer.h"

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

// The planes coloured through their channels (channels[i] for planes[i]; null or disabled
// ones add nothing) and added with saturation, as ChannelRenderer::Composite does.
RGBABuffer ColourVolumePlanes(const std::vector<ImageReader::ImageSlice<unsigned short>>& planes,
                              const std::vector<ImageChannel*>& channels, int width, int height);

// Draws the box outline on `picture` (edges facing away from the viewer dashed) and the
// names of the volume's x, y and z axes beyond the far ends of the edges leaving corner 0.
void DrawVolumeBox(QImage& picture, const ProjectedBox& box, const std::array<QString, 3>& axisNames,
                   const QColor& colour = QColor(255, 255, 255, 160));

} // namespace ImageViewer
