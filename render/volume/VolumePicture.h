#pragma once

#include <array>
#include <vector>

#include <QColor>
#include <QImage>
#include <QString>

#include "ImageBase.h"
#include "ImageChannel.h"
#include "VolumePlanes.h"
#include "VolumeRenderer.h"

namespace ImageViewer {

// The planes coloured through their channels (channels[i] for planes[i]; null or disabled
// ones add nothing) and added with saturation, as ChannelRenderer::Composite does.
RGBABuffer ColourVolumePlanes(const std::vector<ImageReader::ImageSlice<unsigned short>>& planes,
                              const std::vector<ImageChannel*>& channels, int width, int height);

// Draws the box outline on `picture` (edges facing away from the viewer dashed) and the
// names of the volume's x, y and z axes beyond the far ends of the edges leaving corner 0.
void DrawVolumeBox(QImage& picture, const ProjectedBox& box, const std::array<QString, 3>& axisNames,
                   const QColor& colour = QColor(255, 255, 255, 160));

} // namespace ImageViewer
