#include "ViewRender.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ChannelRenderer.h"
#include "ImageProperties.h"
#include "OpenDefaults.h"
#include "SpectralProjection.h"

namespace ImageViewer {

ImageChannel ToImageChannel(const ChannelDisplay& c)
{
    ImageChannel channel(c.min, c.max, c.gamma, c.r, c.g, c.b, c.autoscaling);
    channel.m_enabled = c.enabled;
    channel.m_lut = LookupTableFromName(c.lut);
    channel.m_lutColours.assign(c.lutColours.begin(), c.lutColours.end());
    return channel;
}

ChannelDisplay ChannelDisplayOf(const ImageChannel& c, const std::string& name)
{
    ChannelDisplay d{name, c.m_r, c.m_g, c.m_b, c.m_min, c.m_max, c.m_gamma, c.m_enabled, c.m_autoscaling, {}, {}};
    d.lut = LookupTableNames()[static_cast<size_t>(c.m_lut)];
    d.lutColours.assign(c.m_lutColours.begin(), c.m_lutColours.end());
    return d;
}

void AssignChannel(ImageChannel& c, const ChannelDisplay& d)
{
    c = ToImageChannel(d);
}

void CopyRange(const ImageChannel& from, ChannelDisplay& to)
{
    to.min = from.m_min;
    to.max = from.m_max;
}

size_t ViewEntries(const ViewState& state, const DisplayState& display, const ImageReader::Vector& size)
{
    const int cd = state.channelDim;
    if (cd < 0 || cd >= static_cast<int>(size.size()))
        return 1;
    return std::min(display.channels.size(), static_cast<size_t>(std::max(size[cd], 0)));
}

std::vector<int> WantedEntries(const ViewState& state, const DisplayState& display, const ImageReader::Vector& size)
{
    std::vector<int> wanted;
    const size_t entries = ViewEntries(state, display, size);
    for (size_t c = 0; c < entries; ++c)
        if (state.channelDim < 0 || display.channels[c].enabled)
            wanted.push_back(static_cast<int>(c));
    return wanted;
}

namespace {

bool CutFromItsFile(const ViewData& data)
{
    return !std::all_of(data.planes.begin(), data.planes.end(), [](const auto& p) { return p.IsIntact(); });
}

ViewData WithoutCutPlanes(ViewData data)
{
    for (size_t k = 0; k < data.planes.size(); ++k)
        if (!data.planes[k].IsIntact())
            data.Store(static_cast<int>(k), {}, ValueSpan());
    return data;
}

// Channels whose lookup tables outlive one colouring: an ImageChannel keeps the table of its
// last settings, so views coloured again with unchanged settings (every refresh) do not build
// 65536 entries afresh. One set per thread, since views are coloured on the worker and on
// the caller's thread; slot 0 is the global channel.
constexpr size_t kKeptChannels = 17;

ImageChannel& KeptChannel(size_t slot, const ChannelDisplay& c)
{
    thread_local std::vector<ImageChannel> kept(kKeptChannels, ImageChannel(0, 0));
    ImageChannel& k = kept[slot];
    k.m_min = c.min;
    k.m_max = c.max;
    k.m_gamma = c.gamma;
    k.m_r = c.r;
    k.m_g = c.g;
    k.m_b = c.b;
    k.m_autoscaling = c.autoscaling;
    k.m_enabled = c.enabled;
    k.m_lut = LookupTableFromName(c.lut);
    k.m_lutColours.assign(c.lutColours.begin(), c.lutColours.end());
    return k;
}

} // namespace

ColouredView ColourViewData(const ViewData& data, const ViewState& state, const DisplayState& display,
                            const ImageReader::Vector& levelSize, RGBABuffer reuse)
{
    // A plane lent from a file cut since it was read reads zeros now: it is drawn missing.
    if (CutFromItsFile(data))
        return ColourViewData(WithoutCutPlanes(data), state, display, levelSize, std::move(reuse));
    ColouredView out;
    out.display = display;
    const int xdim = data.key.xdim, ydim = data.key.ydim;
    const int n = static_cast<int>(levelSize.size());
    if (xdim < 0 || ydim < 0 || xdim >= n || ydim >= n || data.planes.empty())
        return out;
    const int w = levelSize[xdim], h = levelSize[ydim];
    const int cd = data.key.cd;
    out.picture.width = w;
    out.picture.height = h;
    if (cd < 0) {
        ImageChannel& global = KeptChannel(0, display.global);
        const ImageReader::Vector ps = data.planes[0].GetSize();
        if (data.planes[0].IsEmpty() || ps.size() < 2 || ps[0] != w || ps[1] != h) {
            // No picture for a missing plane.
            out.picture.pixels = global.RenderToRGBA(data.planes[0]);
        } else {
            out.picture.pixels = ChannelRenderer::Composite({{&global, data.planes[0], data.spans[0]}}, w, h,
                                                            std::move(reuse));
        }
        CopyRange(global, out.display.global);
    } else {
        std::vector<ImageChannel> extra; // channels past the kept ones
        extra.reserve(display.channels.size());
        std::vector<ImageChannel*> channels;
        for (size_t k = 0; k < display.channels.size(); ++k) {
            if (k + 1 < kKeptChannels) {
                channels.push_back(&KeptChannel(k + 1, display.channels[k]));
            } else {
                extra.push_back(ToImageChannel(display.channels[k]));
                channels.push_back(&extra.back());
            }
        }
        std::vector<ChannelRenderer::Layer> layers;
        for (int c : WantedEntries(state, display, levelSize)) {
            const auto k = static_cast<size_t>(c);
            if (k < data.planes.size())
                layers.emplace_back(channels[k], data.planes[k], data.spans[k]);
        }
        out.picture.pixels = ChannelRenderer::Composite(layers, w, h, std::move(reuse));
        for (size_t k = 0; k < channels.size(); ++k)
            CopyRange(*channels[k], out.display.channels[k]);
    }
    if (!out.picture.pixels)
        out.picture = ViewPicture();
    // Cut while it was drawn: drawn again without what went.
    if (CutFromItsFile(data))
        return ColourViewData(WithoutCutPlanes(data), state, display, levelSize, {});
    out.widened = out.display != display;
    return out;
}

ColouredView ColourSpectrum(ImageReader::ImageBase<unsigned short>& source, const ViewState& state,
                            const DisplayState& display, int index)
{
    ColouredView out;
    out.display = display;
    const ImageReader::Vector size = source.GetSize();
    const auto [xdim, ydim] = state.ViewDims(index);
    if (!state.Drawable(index, size))
        return out;
    out.picture.width = size[xdim];
    out.picture.height = size[ydim];
    const SpectrumCalibration& s = state.spectrum;
    ImageChannel global = ToImageChannel(display.global);
    if (s.p1 == s.p2) {
        out.picture.pixels = NewBlackRGBA(size[xdim], size[ydim]);
        return out;
    }
    RGBABuffer spectral = RenderTrueColourSpectrum(source, xdim, ydim, state.channelDim, state.cursor, s, global);
    out.picture.pixels = spectral ? std::move(spectral) : NewBlackRGBA(size[xdim], size[ydim]);
    CopyRange(global, out.display.global);
    out.widened = out.display != display;
    return out;
}

ViewData ReadViewData(ImageSession& session, const ViewState& state, const DisplayState& display, int index, int level)
{
    ViewData data;
    const ImageReader::Vector size = session.Size();
    level = std::clamp(level, 0, session.LevelCount() - 1);
    const ViewKey key = MakeViewKey(state, index, session.serial, session.levelSizes, level);
    data.Reset(key, ViewEntries(state, display, size));
    ImageReader::ImageBase<unsigned short>& source = session.Level(level);
    for (int c : WantedEntries(state, display, size)) {
        ImageReader::ImageSlice<unsigned short> plane = key.Project(source, c);
        const ValueSpan span = ScanValues(plane);
        data.Store(c, std::move(plane), span);
    }
    return data;
}

namespace {

// Views the data path cannot colour: spectra (folded as they are read) and a channel
// dimension the image does not have (black).
bool colouredAsRead(const ImageSession& session, const ViewState& state)
{
    const ImageReader::Vector size = session.Size();
    return state.IsSpectral(size) || state.channelDim >= static_cast<int>(size.size());
}

ColouredView renderAsRead(ImageSession& session, const ViewState& state, const DisplayState& display, int index,
                          int level)
{
    if (state.IsSpectral(session.Size()))
        return ColourSpectrum(session.Level(0), state, display, index);
    ColouredView out;
    out.display = display;
    level = std::clamp(level, 0, session.LevelCount() - 1);
    const ImageReader::Vector& levelSize = session.levelSizes[static_cast<size_t>(level)];
    const auto [xdim, ydim] = state.ViewDims(index);
    out.picture = ViewPicture{NewBlackRGBA(levelSize[xdim], levelSize[ydim]), levelSize[xdim], levelSize[ydim]};
    return out;
}

} // namespace

ColouredView RenderView(ImageSession& session, const ViewState& state, const DisplayState& display, int index,
                        int level)
{
    ColouredView out;
    out.display = display;
    if (!session.IsOpen() || !state.Drawable(index, session.Size()))
        return out;
    if (colouredAsRead(session, state))
        return renderAsRead(session, state, display, index, level);
    const ViewData data = ReadViewData(session, state, display, index, level);
    return ColourViewData(data, state, display, session.levelSizes[static_cast<size_t>(data.key.level)]);
}

std::vector<double> PixelZooms(const std::vector<double>& pixelSizes, double zoom)
{
    ImageProperties p;
    p.m_pixelsize = pixelSizes;
    p.m_zoom = zoom;
    return p.GetPixelZooms();
}

ViewPicture ScaleViewPicture(const ViewPicture& picture, int w, int h)
{
    ViewPicture out;
    if (picture.IsNull() || w <= 0 || h <= 0 || picture.width <= 0 || picture.height <= 0)
        return out;
    out.pixels = AllocateRGBA(static_cast<size_t>(w) * static_cast<size_t>(h));
    if (!out.pixels)
        return out;
    out.width = w;
    out.height = h;
    const auto* src = reinterpret_cast<const std::uint32_t*>(picture.pixels.get());
    auto* dst = reinterpret_cast<std::uint32_t*>(out.pixels.get());
    std::vector<size_t> column(static_cast<size_t>(w));
    // Pixel centres: output pixel i samples the source pixel its centre falls in.
    for (int x = 0; x < w; ++x)
        column[static_cast<size_t>(x)] =
            std::min<size_t>(static_cast<size_t>((2.0 * x + 1) * picture.width / (2.0 * w)), picture.width - 1);
    for (int y = 0; y < h; ++y) {
        const size_t sy =
            std::min<size_t>(static_cast<size_t>((2.0 * y + 1) * picture.height / (2.0 * h)), picture.height - 1);
        const std::uint32_t* row = src + sy * static_cast<size_t>(picture.width);
        std::uint32_t* out_row = dst + static_cast<size_t>(y) * static_cast<size_t>(w);
        for (int x = 0; x < w; ++x)
            out_row[x] = row[column[static_cast<size_t>(x)]];
    }
    return out;
}

namespace {

void blit(ViewPicture& to, const ViewPicture& from, int left, int top)
{
    if (from.IsNull())
        return;
    for (int y = 0; y < from.height; ++y)
        std::memcpy(to.pixels.get() + 4 * (static_cast<size_t>(top + y) * static_cast<size_t>(to.width) +
                                           static_cast<size_t>(left)),
                    from.pixels.get() + 4 * static_cast<size_t>(y) * static_cast<size_t>(from.width),
                    4 * static_cast<size_t>(from.width));
}

int scaled(int pixels, double zoom)
{
    return static_cast<int>(std::lround(pixels * zoom));
}

} // namespace

ViewPicture ComposeViewPictures(const ViewPicture& xy, const ViewPicture& xz, const ViewPicture& yz, int gap)
{
    ViewPicture out;
    if (xy.IsNull())
        return out;
    const int left = yz.IsNull() ? 0 : yz.width + gap;
    const int top = xz.IsNull() ? 0 : xz.height + gap;
    out.width = left + xy.width;
    out.height = top + xy.height;
    out.pixels = NewBlackRGBA(out.width, out.height);
    if (!out.pixels)
        return ViewPicture();
    blit(out, xy, left, top);
    blit(out, xz, left, 0);
    blit(out, yz, 0, top);
    return out;
}

std::vector<ViewPicture> RenderViews(ImageSession& session, const ViewState& state, DisplayState& display,
                                     const std::vector<double>& pixelSizes, int views, int level)
{
    std::vector<ViewPicture> pictures(kViewCount);
    if (!session.IsOpen())
        return pictures;
    // Each view is read once; under autoscaling a later view may widen a range an earlier
    // one was coloured with: colour again until no view widens it (ranges only grow).
    const bool asRead = colouredAsRead(session, state);
    std::vector<ViewData> data(kViewCount);
    for (int index = 0; index < kViewCount; ++index)
        if ((views & (1 << index)) && state.Drawable(index, session.Size()) && !asRead)
            data[static_cast<size_t>(index)] = ReadViewData(session, state, display, index, level);
    std::vector<ColouredView> coloured(kViewCount);
    for (int pass = 0; pass < 4; ++pass) {
        bool widened = false;
        for (int index = 0; index < kViewCount; ++index) {
            if (!(views & (1 << index)) || !state.Drawable(index, session.Size()))
                continue;
            const ViewData& d = data[static_cast<size_t>(index)];
            coloured[static_cast<size_t>(index)] =
                asRead ? renderAsRead(session, state, display, index, level)
                       : ColourViewData(d, state, display, session.levelSizes[static_cast<size_t>(d.key.level)]);
            if (coloured[static_cast<size_t>(index)].widened) {
                display = coloured[static_cast<size_t>(index)].display;
                widened = true;
            }
        }
        if (!widened)
            break;
    }
    const ImageReader::Vector size = session.Size();
    std::vector<double> sizes = pixelSizes;
    sizes.resize(size.size(), 0.0);
    const std::vector<double> z = PixelZooms(sizes, 1.0);
    for (int index = 0; index < kViewCount; ++index) {
        const ViewPicture& p = coloured[static_cast<size_t>(index)].picture;
        if (p.IsNull())
            continue;
        const auto [xdim, ydim] = state.ViewDims(index);
        pictures[static_cast<size_t>(index)] = ScaleViewPicture(p, scaled(size[xdim], z[static_cast<size_t>(xdim)]),
                                                                scaled(size[ydim], z[static_cast<size_t>(ydim)]));
    }
    return pictures;
}

ViewPicture RenderPicture(ImageSession& session, const ViewState& state, DisplayState& display,
                          const std::vector<double>& pixelSizes, int views, int w, int h, int level)
{
    std::vector<ViewPicture> p = RenderViews(session, state, display, pixelSizes, views, level);
    ViewPicture picture;
    if (views == ViewAll) {
        // The side views match the XY view's edges, as in the window.
        const ViewPicture& xy = p[kViewXY];
        ViewPicture xz = xy.IsNull() ? ViewPicture() : ScaleViewPicture(p[kViewXZ], xy.width, p[kViewXZ].height);
        ViewPicture yz = xy.IsNull() ? ViewPicture() : ScaleViewPicture(p[kViewYZ], p[kViewYZ].width, xy.height);
        picture = ComposeViewPictures(xy, xz, yz, 6);
    } else {
        const int index = views == ViewXZ ? kViewXZ : views == ViewYZ ? kViewYZ : kViewXY;
        picture = std::move(p[static_cast<size_t>(index)]);
    }
    if (picture.IsNull() || w <= 0 || h <= 0)
        return picture;
    // Fitted into w x h with the aspect kept, centred on black.
    const double k = std::min(static_cast<double>(w) / picture.width, static_cast<double>(h) / picture.height);
    const ViewPicture inner = ScaleViewPicture(picture, std::max(1, scaled(picture.width, k)),
                                               std::max(1, scaled(picture.height, k)));
    ViewPicture out{NewBlackRGBA(w, h), w, h};
    if (!out.pixels || inner.IsNull())
        return ViewPicture();
    blit(out, inner, (w - std::min(w, inner.width)) / 2, (h - std::min(h, inner.height)) / 2);
    return out;
}

} // namespace ImageViewer
