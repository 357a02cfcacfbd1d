// What the XY view draws over the picture: the scale bar and the colour bar, inside the part
// of the view the picture covers.
#include <QPainter>

#include "PictureBox.h"
#include "WindowTools.h"
#include "formImageViewer.h"

namespace ImageViewer {

void formImageViewer::PaintScaleBar(QPainter& e)
{
    const ViewAxes a = CurrentAxes();
    const int n = static_cast<int>(properties.m_pixelsize.size());
    if (!tools || a.x < 0 || a.x >= n || GDIImageXY.isNull())
        return;
    const double size = properties.m_pixelsize[static_cast<size_t>(a.x)];
    const double zoom = properties.GetPixelZooms()[static_cast<size_t>(a.x)];
    PaintOverlays(e, tools->PictureArea(), tools->Overlays(size / zoom));
}

} // namespace ImageViewer
