#include "FittedPicture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "ViewMath.h"

namespace ImageViewer {

int NearestSource(int x, int from, int to)
{
    return static_cast<int>(std::min<size_t>(static_cast<size_t>((2.0 * x + 1) * from / (2.0 * to)), from - 1));
}

namespace {

constexpr int kGap = 6; // RenderPicture's black between the views

int scaled(int pixels, double zoom)
{
    return static_cast<int>(std::lround(pixels * zoom));
}

// The output pixels of one axis that show a view: from `first` on, each showing a pixel of
// the view's level, in order.
struct Run
{
    int first = 0;
    std::vector<int> source;
};

// One view on its way into the picture, per axis (x, y): its size stretched to the physical
// aspect, then to the XY view's edges, and its corner in the composed picture.
struct Placed
{
    bool shown = false;
    int aspect[2] = {0, 0};
    int edges[2] = {0, 0};
    int corner[2] = {0, 0};
    Run runs[2];
};

// Traces the `out` pixels of an axis back through the fit (the composed picture's `composed`
// pixels stretched to `inner`, placed at `offset`), the view's corner and both stretches.
// The stretches never reverse, so the pixels showing the view are one run.
Run trace(int out, int offset, int inner, int composed, const Placed& view, int axis, int levelPixels)
{
    Run run;
    run.first = -1;
    for (int o = std::max(0, offset); o < std::min(out, offset + inner); ++o) {
        const int c = NearestSource(o - offset, composed, inner) - view.corner[axis];
        if (c < 0 || c >= view.edges[axis])
            continue;
        if (run.first < 0)
            run.first = o;
        const int a = NearestSource(c, view.aspect[axis], view.edges[axis]);
        run.source.push_back(NearestSource(a, levelPixels, view.aspect[axis]));
    }
    run.first = std::max(run.first, 0);
    return run;
}

// The pixels of `plane` (levelWidth wide) the runs pick, as a plane of their own.
ImageReader::ImageSlice<unsigned short> pick(const ImageReader::ImageSlice<unsigned short>& plane, int levelWidth,
                                             const Run& columns, const Run& rows)
{
    const size_t nc = columns.source.size(), nr = rows.source.size();
    auto* data = static_cast<unsigned short*>(std::malloc(nc * nr * sizeof(unsigned short)));
    if (!data)
        return {};
    const unsigned short* src = plane.GetData();
    for (size_t r = 0; r < nr; ++r) {
        const unsigned short* line = src + static_cast<size_t>(rows.source[r]) * static_cast<size_t>(levelWidth);
        unsigned short* o = data + r * nc;
        for (size_t c = 0; c < nc; ++c)
            o[c] = line[columns.source[c]];
    }
    return ImageReader::ImageSlice<unsigned short>(
        ImageReader::Vector(static_cast<int>(nc), static_cast<int>(nr)), data);
}

} // namespace

ViewPicture RenderFittedPicture(ImageSession& session, const ViewState& state, DisplayState& display,
                                const std::vector<double>& pixelSizes, int views, int w, int h, int level)
{
    const DisplayState given = display;
    const auto fallback = [&] {
        display = given;
        return RenderPicture(session, state, display, pixelSizes, views, w, h, level);
    };
    const bool all = views == ViewAll;
    if (!session.IsOpen() || w <= 0 || h <= 0 || !(all || views == ViewXY || views == ViewXZ || views == ViewYZ))
        return fallback();
    const ImageReader::Vector size = session.Size();
    level = std::clamp(level, 0, session.LevelCount() - 1);
    if (state.IsSpectral(size) || state.channelDim >= static_cast<int>(size.size()) ||
        static_cast<size_t>(level) >= session.levelSizes.size())
        return fallback();
    const ImageReader::Vector& levelSize = session.levelSizes[static_cast<size_t>(level)];

    std::vector<double> sizes = pixelSizes;
    sizes.resize(size.size(), 0.0);
    const std::vector<double> zooms = PixelZooms(sizes, 1.0);
    Placed placed[kViewCount];
    for (int index = 0; index < kViewCount; ++index) {
        if (!(views & (1 << index)))
            continue;
        // A view left out changes the layout: RenderPicture knows how.
        if (!state.Drawable(index, size))
            return fallback();
        Placed& p = placed[index];
        const auto [xd, yd] = state.ViewDims(index);
        p.shown = true;
        p.aspect[0] = scaled(size[xd], zooms[static_cast<size_t>(xd)]);
        p.aspect[1] = scaled(size[yd], zooms[static_cast<size_t>(yd)]);
        if (p.aspect[0] <= 0 || p.aspect[1] <= 0)
            return fallback();
        p.edges[0] = p.aspect[0];
        p.edges[1] = p.aspect[1];
    }
    int composed[2] = {0, 0};
    if (all) {
        Placed &xy = placed[kViewXY], &xz = placed[kViewXZ], &yz = placed[kViewYZ];
        xz.edges[0] = xy.aspect[0];
        yz.edges[1] = xy.aspect[1];
        const int left = yz.edges[0] + kGap, top = xz.edges[1] + kGap;
        xy.corner[0] = xz.corner[0] = left;
        xy.corner[1] = yz.corner[1] = top;
        composed[0] = left + xy.edges[0];
        composed[1] = top + xy.edges[1];
    } else {
        const Placed& only = placed[views == ViewXZ ? kViewXZ : views == ViewYZ ? kViewYZ : kViewXY];
        composed[0] = only.edges[0];
        composed[1] = only.edges[1];
    }
    const double k = std::min(static_cast<double>(w) / composed[0], static_cast<double>(h) / composed[1]);
    const int inner[2] = {std::max(1, scaled(composed[0], k)), std::max(1, scaled(composed[1], k))};
    const int offset[2] = {(w - std::min(w, inner[0])) / 2, (h - std::min(h, inner[1])) / 2};
    const int out[2] = {w, h};

    // The XZ view's row and the YZ view's column of a plane often lie in the same chunks: a
    // source that fetches chunks keeps the column aside while it reads the row.
    ImageReader::ImageBase<unsigned short>& source = session.Level(level);
    struct Forget
    {
        ImageReader::ImageBase<unsigned short>& source;
        ~Forget() { source.ForgetExpectedBand(); }
    } forget{source};
    if (placed[kViewXZ].shown && placed[kViewYZ].shown) {
        const ViewKey yz = MakeViewKey(state, kViewYZ, session.serial, session.levelSizes, level);
        if (yz.pinned.size() >= 2 && yz.pinned[0] >= 0 && yz.pinned[1] < 0)
            source.ExpectBand(false, yz.pinned[0], yz.pinned[0] + 1);
    }

    // Each view read, its shown pixels taken and its planes let go before the next is read.
    ViewData picked[kViewCount];
    ImageReader::Vector pickedSize[kViewCount];
    for (int index = 0; index < kViewCount; ++index) {
        Placed& p = placed[index];
        if (!p.shown)
            continue;
        const auto [xd, yd] = state.ViewDims(index);
        for (int axis = 0; axis < 2; ++axis) {
            p.runs[axis] = trace(out[axis], offset[axis], inner[axis], composed[axis], p, axis,
                                 levelSize[axis == 0 ? xd : yd]);
            // Not in the picture at all, but still autoscaling the others: RenderPicture's way.
            if (p.runs[axis].source.empty())
                return fallback();
        }
        const ViewData data = ReadViewData(session, state, display, index, level);
        ImageReader::Vector& ps = pickedSize[index];
        ps = session.levelSizes[static_cast<size_t>(data.key.level)];
        if (ps != levelSize)
            return fallback();
        ps[xd] = static_cast<int>(p.runs[0].source.size());
        ps[yd] = static_cast<int>(p.runs[1].source.size());
        picked[index].Reset(data.key, data.planes.size());
        for (size_t c = 0; c < data.planes.size(); ++c) {
            if (!data.have[c])
                continue;
            const ImageReader::ImageSlice<unsigned short>& plane = data.planes[c];
            const ImageReader::Vector got = plane.GetSize();
            // A missing plane draws nothing; without a channel dimension RenderPicture leaves
            // its view out, and a plane of another size is drawn its own way.
            if (plane.IsEmpty()) {
                if (data.key.cd < 0)
                    return fallback();
                picked[index].Store(static_cast<int>(c), {}, data.spans[c]);
                continue;
            }
            if (got.size() != 2 || got[0] != levelSize[xd] || got[1] != levelSize[yd])
                return fallback();
            ImageReader::ImageSlice<unsigned short> taken = pick(plane, levelSize[xd], p.runs[0], p.runs[1]);
            // Lent from a file cut since: zeros, so missing (as the views draw it).
            if (taken.IsEmpty() || !plane.IsIntact())
                return fallback();
            picked[index].Store(static_cast<int>(c), std::move(taken), data.spans[c]);
        }
    }

    // As RenderViews: coloured again until no view widens an autoscaled range.
    ColouredView coloured[kViewCount];
    for (int pass = 0; pass < 4; ++pass) {
        bool widened = false;
        for (int index = 0; index < kViewCount; ++index) {
            if (!placed[index].shown)
                continue;
            ColouredView& c = coloured[index];
            c = ColourViewData(picked[index], state, display, pickedSize[index], std::move(c.picture.pixels));
            if (c.widened) {
                display = c.display;
                widened = true;
            }
        }
        if (!widened)
            break;
    }
    ViewPicture picture{NewBlackRGBA(w, h), w, h};
    if (!picture.pixels)
        return ViewPicture();
    for (int index = 0; index < kViewCount; ++index) {
        const Placed& p = placed[index];
        const ViewPicture& from = coloured[index].picture;
        if (!p.shown)
            continue;
        if (from.IsNull())
            return fallback();
        for (int y = 0; y < from.height; ++y)
            std::memcpy(picture.pixels.get() + 4 * (static_cast<size_t>(p.runs[1].first + y) * static_cast<size_t>(w) +
                                                    static_cast<size_t>(p.runs[0].first)),
                        from.pixels.get() + 4 * static_cast<size_t>(y) * static_cast<size_t>(from.width),
                        4 * static_cast<size_t>(from.width));
    }
    return picture;
}

} // namespace ImageViewer
