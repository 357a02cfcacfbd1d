// The three orthogonal views: recomputing their pictures, painting them with zoom, pan,
// cursor lines and measurement overlays, and sizing the side views.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <cmath>
#include <optional>
#include <vector>

#include "BusyCursor.h"
#include "ChannelRenderer.h"
#include "PictureBox.h"
#include "SpectralProjection.h"
#include "TablePanel.h"
#include "formImageViewer.h"

namespace ImageViewer {

namespace {

// Beyond this many pixels off the box a coordinate is handed to Qt only after clipping;
// the unbounded zoom and pan can otherwise reach values Qt cannot convert to int.
constexpr double kSafeCoordinate = 1e7;

bool parseNumber(const QString& text, double& value)
{
    bool ok = false;
    value = QLocale().toDouble(text, &ok);
    if (!ok)
        value = QLocale::c().toDouble(text, &ok);
    return ok && std::isfinite(value);
}

// Draws `image` scaled into `target`, handing Qt only the part inside `visible`.
void drawScaled(QPainter& g, const QImage& image, const QRectF& target, const QRect& visible)
{
    const double coords[] = {target.left(), target.top(), target.right(), target.bottom()};
    bool safe = true;
    for (const double c : coords) {
        if (!std::isfinite(c))
            return;
        safe = safe && std::fabs(c) < kSafeCoordinate;
    }
    if (target.width() <= 0 || target.height() <= 0)
        return;
    if (safe) {
        g.drawImage(target, image, QRectF(image.rect()));
        return;
    }
    const QRectF shown = target.intersected(QRectF(visible));
    if (shown.isEmpty())
        return;
    const double sx = image.width() / target.width();
    const double sy = image.height() / target.height();
    const QRectF source((shown.left() - target.left()) * sx, (shown.top() - target.top()) * sy, shown.width() * sx,
                        shown.height() * sy);
    g.drawImage(shown, image, source);
}

// Clamps a cursor line to a little beyond the box, so that far-off ends stay convertible.
void drawLine(QPainter& g, QPointF a, QPointF b, const QRect& visible)
{
    if (!std::isfinite(a.x()) || !std::isfinite(a.y()) || !std::isfinite(b.x()) || !std::isfinite(b.y()))
        return;
    const double x0 = visible.left() - 2.0, x1 = visible.right() + 2.0;
    const double y0 = visible.top() - 2.0, y1 = visible.bottom() + 2.0;
    const auto clampPoint = [&](QPointF p) {
        return QPointF(std::fmin(std::fmax(p.x(), x0), x1), std::fmin(std::fmax(p.y(), y0), y1));
    };
    g.drawLine(QLineF(clampPoint(a), clampPoint(b)));
}

} // namespace

void formImageViewer::RefreshPictures(int mask)
{
    if (!image)
        return;
    // Full recomputes (channel choice, projection, typed positions) may read many planes.
    std::optional<BusyCursor> busy;
    if ((mask & ViewAll) == ViewAll)
        busy.emplace();

    if (meastype == 1)
        UpdateHistogram();
    else if (meastype == 2)
        UpdateProfile();
    UpdateCursorProfile();

    const ImageReader::Vector size = image->GetSize();
    const int n = static_cast<int>(size.size());
    if (n >= 2) {
        const ImageReader::Vector position = n > 2 ? curslice(2, ImageReader::Vector::end) : ImageReader::Vector();
        const ImageReader::ImageSlice<unsigned short> slice = image->GetSlice(position);
        if (!slice.IsEmpty()) {
            const ImageReader::Vector ss = slice.GetSize();
            if (ss.size() >= 2 && curslice[0] < ss[0] && curslice[1] < ss[1]) {
                const size_t at = static_cast<size_t>(curslice[1]) * static_cast<size_t>(ss[0]) +
                                  static_cast<size_t>(curslice[0]);
                lblPixelValue->setText(QString::number(slice.GetData()[at]));
            }
        }
    }

    const ViewAxes a = CurrentAxes();
    const bool colouring = comboDimC->currentIndex() >= 0;
    const auto recompute = [&](int bit, int index, int xdim, int ydim, QImage& bmp, RGBABuffer& data,
                               PictureBox* pct) {
        if (!(mask & bit))
            return;
        bmp = QImage();
        if (xdim >= 0 && ydim >= 0 && xdim != ydim && xdim < n && ydim < n && colouring) {
            ++recomputeCount[static_cast<size_t>(index)];
            data = RefreshPicture(xdim, ydim);
            if (data)
                bmp = QImage(data.get(), size[xdim], size[ydim], 4 * static_cast<qsizetype>(size[xdim]),
                             QImage::Format_RGB32);
        } else {
            data.reset();
        }
        pct->repaint();
    };
    recompute(ViewXY, 0, a.x, a.y, GDIImageXY, dataXY, pictureXY);
    recompute(ViewXZ, 1, a.x, a.xz, GDIImageXZ, dataXZ, pictureXZ);
    recompute(ViewYZ, 2, a.yz, a.y, GDIImageYZ, dataYZ, pictureYZ);
    pctHistogram->update();
}

RGBABuffer formImageViewer::RefreshPicture(int xdim, int ydim)
{
    const ImageReader::Vector size = image->GetSize();
    const int n = static_cast<int>(size.size());
    ImageReader::Vector pv;
    for (int i = 0; i < n; ++i)
        pv.push_back(i == xdim || i == ydim || IsProjected(i) ? -1 : curslice[i]);
    const int w = size[xdim];
    const int h = size[ydim];

    const int cd = ChannelDimension();
    if (cd < 0)
        return globalchannel->RenderToRGBA(image->GetMaximumProjection(xdim, ydim, pv));

    if (cd >= n)
        return NewBlackRGBA(w, h);
    if (size[cd] < 10) {
        // One pass over the output for all channels instead of a full picture per channel.
        std::vector<ChannelRenderer::Layer> layers;
        for (int c = 0; c < size[cd] && c < static_cast<int>(channels->size()); ++c) {
            ImageChannel& channel = *(*channels)[static_cast<size_t>(c)];
            if (!channel.m_enabled)
                continue;
            pv[cd] = c;
            layers.emplace_back(&channel, image->GetMaximumProjection(xdim, ydim, pv));
        }
        return ChannelRenderer::Composite(layers, w, h);
    }

    RGBABuffer buffer = NewBlackRGBA(w, h);
    if (!buffer)
        return buffer;

    // Spectral colouring. Equal reference positions would make the calibration divide by
    // zero, so they count as unusable just like text that is not a number.
    double p1 = 0, w1 = 0, p2 = 0, w2 = 0;
    if (!parseNumber(textSpectrumPos1->text(), p1) || !parseNumber(textSpectrumWavelength1->text(), w1) ||
        !parseNumber(textSpectrumPos2->text(), p2) || !parseNumber(textSpectrumWavelength2->text(), w2) || p1 == p2)
        return buffer;
    // The projection subtracts the range minimum it is given; with the empty range of a new
    // channel that is 65535 and the picture would come out black although the call has just
    // found the data's range. Then one more pass with that range draws the picture.
    const bool emptyRange = globalchannel->m_autoscaling && globalchannel->m_min > globalchannel->m_max;
    RGBABuffer spectral = RenderSpectralView(*image, xdim, ydim, cd, curslice, p1, w1, p2, w2, *globalchannel);
    if (emptyRange && globalchannel->m_min <= globalchannel->m_max)
        spectral = RenderSpectralView(*image, xdim, ydim, cd, curslice, p1, w1, p2, w2, *globalchannel);
    return spectral ? std::move(spectral) : std::move(buffer);
}

void formImageViewer::PaintPicture(const QImage& bmp, const ImageReader::Vector& delta,
                                   const ImageReader::Vector& dims, PictureBox* pct, QPainter& e)
{
    const int n = static_cast<int>(properties.m_pixelsize.size());
    if (bmp.isNull() || dims[0] < 0 || dims[1] < 0 || dims[0] >= n || dims[1] >= n) {
        e.fillRect(pct->rect(), Qt::black);
        return;
    }
    const std::vector<double> zooms = properties.GetPixelZooms();
    const float zx = static_cast<float>(zooms[static_cast<size_t>(dims[0])]);
    const float zy = static_cast<float>(zooms[static_cast<size_t>(dims[1])]);
    const float left = static_cast<float>(delta[0]);
    const float top = static_cast<float>(delta[1]);
    const float width = static_cast<float>(bmp.width()) * zx;
    const float height = static_cast<float>(bmp.height()) * zy;

    e.setRenderHint(QPainter::SmoothPixmapTransform, false);
    e.setRenderHint(QPainter::Antialiasing, false);
    drawScaled(e, bmp, QRectF(left, top, width, height), pct->rect());

    e.setPen(QPen(QColor(255, 255, 255, 64), 1));
    const float cy = top + static_cast<float>(curslice[dims[1]]) * zy;
    const float cx = left + static_cast<float>(curslice[dims[0]]) * zx;
    drawLine(e, QPointF(left, cy), QPointF(left + width, cy), pct->rect());
    drawLine(e, QPointF(cx, top), QPointF(cx, top + height), pct->rect());

    if (pct != pictureXY)
        return;
    const auto screen = [&](const ImageReader::Vector& p) {
        return ImageReader::Vector(
            SaturatingTruncate(left + static_cast<float>(p[dims[0]]) * zx, 0),
            SaturatingTruncate(top + static_cast<float>(p[dims[1]]) * zy, 0));
    };
    if (meastype == 2 && profile &&
        (measstart[dims[0]] != measend[dims[0]] || measstart[dims[1]] != measend[dims[1]])) {
        profile->Render(e, screen(measstart), screen(measend), true);
    } else if (meastype == 1 && histogram && measstart[dims[0]] < measend[dims[0]] &&
               measstart[dims[1]] < measend[dims[1]]) {
        const ImageReader::Vector corner = screen(measstart);
        histogram->Render(e, corner[0], corner[1]);
    }
}

void formImageViewer::pictureXY_Paint(QPainter& e)
{
    const ViewAxes a = CurrentAxes();
    if (!image || a.x < 0 || a.y < 0)
        return;
    PaintPicture(GDIImageXY, ImageReader::Vector(imagedelta[0], imagedelta[1]), ImageReader::Vector(a.x, a.y),
                 pictureXY, e);
    PaintScaleBar(e);
}

void formImageViewer::pictureXZ_Paint(QPainter& e)
{
    const ViewAxes a = CurrentAxes();
    if (!image || a.x < 0 || a.xz < 0)
        return;
    PaintPicture(GDIImageXZ, ImageReader::Vector(imagedelta[0], 0), ImageReader::Vector(a.x, a.xz), pictureXZ, e);
}

void formImageViewer::pictureYZ_Paint(QPainter& e)
{
    const ViewAxes a = CurrentAxes();
    if (!image || a.yz < 0 || a.y < 0)
        return;
    PaintPicture(GDIImageYZ, ImageReader::Vector(0, imagedelta[1]), ImageReader::Vector(a.yz, a.y), pictureYZ, e);
}

void formImageViewer::UpdateLayout()
{
    const ViewAxes a = CurrentAxes();
    const int n = DimensionCount();
    if (!image)
        return;
    // Without a side dimension its track takes no room, so a 2-D image gets the whole table.
    const std::vector<double> zooms = properties.GetPixelZooms();
    const ImageReader::Vector size = image->GetSize();
    const auto track = [&](int d, int table) {
        return d >= 0 && d < n ? SideViewSize(size[d], zooms[static_cast<size_t>(d)], table) : 0.0f;
    };
    layoutImage->setColumnStyle(0, TrackStyle{true, track(a.yz, layoutImage->width())});
    layoutImage->setColumnStyle(1, TrackStyle{false, 100});
    layoutImage->setRowStyle(0, TrackStyle{true, track(a.xz, layoutImage->height())});
    layoutImage->setRowStyle(1, TrackStyle{false, 100});
}

void formImageViewer::RepaintOthers(int mask)
{
    if (!(mask & ViewXY))
        pictureXY->update();
    if (!(mask & ViewXZ))
        pictureXZ->update();
    if (!(mask & ViewYZ))
        pictureYZ->update();
}

} // namespace ImageViewer
