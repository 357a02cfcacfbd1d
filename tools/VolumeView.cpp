#include "VolumeView.h"

#include <QImage>
#include <QString>
#include <cmath>

#include "PictureOverlay.h"
#include "SliceCache.h"
#include "VolumePicture.h"
#include "VolumeRenderer.h"

namespace ImageViewer {

size_t VolumeView::DefaultBudget()
{
    return ImageReader::SliceCache<unsigned short>::DefaultBudget() / 5 * 2;
}

ViewPicture VolumeView::Render(ImageSession& session, const ViewState& state, DisplayState& display,
                               const std::vector<double>& pixelSizes, const Rotation& rotation, int w, int h,
                               bool box, double& nmPerPixel, std::string& error, size_t budget)
{
    nmPerPixel = 0;
    const ImageReader::Vector size = session.Size();
    const int n = static_cast<int>(size.size());
    const std::array<int, 3> dims{state.axes.x, state.axes.y, state.axes.xz};
    for (int k = 0; k < 3; ++k)
        if (dims[k] < 0 || dims[k] >= n || dims[k] == dims[(k + 1) % 3]) {
            error = "the 3-D view needs three different dimensions (--axes X,Y,Z)";
            return ViewPicture();
        }
    std::vector<double> sizes = pixelSizes;
    sizes.resize(size.size(), 0.0);
    const std::vector<double> zooms = PixelZooms(sizes, 1.0);

    VolumeRequest request;
    request.dims = dims;
    request.cursor = state.cursor;
    request.budgetBytes = budget;
    const int cd = state.channelDim;
    const bool spectral = state.IsSpectral(size);
    if (cd >= 0 && cd < n && cd != dims[0] && cd != dims[1] && cd != dims[2]) {
        request.channelDim = cd;
        if (spectral)
            for (int c = 0; c < size[cd]; ++c)
                request.channels.push_back(c);
        else
            request.channels = WantedEntries(state, display, size);
    }
    for (int k = 0; k < 3; ++k)
        request.spacing[static_cast<size_t>(k)] = zooms[static_cast<size_t>(dims[k])];
    // The shown dimensions' positions do not change the volume.
    ImageReader::Vector cursor = state.cursor;
    for (int d : dims)
        cursor[d] = 0;
    if (m_build.volumes.empty() || cursor != m_cursor || request.dims != m_request.dims ||
        request.channels != m_request.channels || request.channelDim != m_request.channelDim) {
        std::vector<VolumeLevel> levels;
        for (int l = 0; l < session.LevelCount() && static_cast<size_t>(l) < session.levelSizes.size(); ++l)
            levels.push_back(VolumeLevel{&session.Level(l), session.levelSizes[static_cast<size_t>(l)]});
        m_build = BuildVolume(levels, request);
        m_request = request;
        m_cursor = cursor;
    }
    if (m_build.volumes.empty() || !m_build.volumes[0]) {
        error = "no volume of the image fits the memory budget";
        return ViewPicture();
    }
    const Volume& volume = *m_build.volumes[0];
    if (w <= 0 || h <= 0) {
        w = std::max(1, static_cast<int>(std::lround(size[dims[0]] * zooms[static_cast<size_t>(dims[0])])));
        h = std::max(1, static_cast<int>(std::lround(size[dims[1]] * zooms[static_cast<size_t>(dims[1])])));
    }
    VolumeCamera camera;
    camera.rotation = rotation;
    const VolumeRenderParams params = CameraParams(camera, volume, w, h);
    const std::vector<ImageReader::ImageSlice<unsigned short>> planes = RenderVolume(params, m_build.volumes);

    ViewPicture picture{nullptr, w, h};
    if (spectral && request.channelDim >= 0) {
        // The planes stacked as an x, y, channel image fold by wavelength as a slice view does.
        VolumePlanes stack(planes, w, h);
        ViewState folded = state;
        folded.axes = ViewAxes{0, 1, -1, -1};
        folded.channelDim = 2;
        folded.cursor = ImageReader::Vector(0, 0);
        folded.cursor.push_back(0);
        folded.projected.clear();
        ColouredView coloured = ColourSpectrum(stack, folded, display, kViewXY);
        picture.pixels = std::move(coloured.picture.pixels);
        display = coloured.display;
    } else {
        std::vector<ImageChannel> channels;
        if (request.channelDim < 0)
            channels.push_back(ToImageChannel(display.global));
        for (int c : request.channels)
            channels.push_back(ToImageChannel(display.channels[static_cast<size_t>(c)]));
        std::vector<ImageChannel*> pointers;
        for (ImageChannel& c : channels)
            pointers.push_back(&c);
        picture.pixels = ColourVolumePlanes(planes, pointers, w, h);
        if (request.channelDim < 0)
            CopyRange(channels[0], display.global);
        for (size_t i = 0; i < request.channels.size(); ++i)
            CopyRange(channels[i], display.channels[static_cast<size_t>(request.channels[i])]);
    }
    if (picture.IsNull()) {
        error = "the 3-D picture would not fit in memory";
        return ViewPicture();
    }
    if (box) {
        QImage image = WrapPicture(picture);
        const std::vector<std::string> names = session.DimensionNames();
        std::array<QString, 3> axisNames;
        for (int k = 0; k < 3; ++k)
            axisNames[static_cast<size_t>(k)] = QString::fromStdString(names[static_cast<size_t>(dims[k])]);
        DrawVolumeBox(image, ProjectVolumeBox(params, volume), axisNames);
    }
    // A volume unit is the smallest pixel size; the x pixel size says whether it is known.
    const double sx = sizes[static_cast<size_t>(dims[0])];
    if (std::isfinite(sx) && sx > 0 && params.scale > 0)
        nmPerPixel = sx / zooms[static_cast<size_t>(dims[0])] / params.scale;
    return picture;
}

} // namespace ImageViewer
