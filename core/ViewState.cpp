#include "ViewState.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "ChannelHints.h"
#include "ViewRender.h"

namespace ImageViewer {

namespace {

bool inside(int d, int n)
{
    return d >= 0 && d < n;
}

bool startsWith(const std::string& name, const char* prefix)
{
    for (size_t i = 0; prefix[i]; ++i)
        if (i >= name.size() || std::tolower(static_cast<unsigned char>(name[i])) != prefix[i])
            return false;
    return true;
}

// A position vector of the image's rank inside it; the clamped copy when `fix`.
bool positionInside(ImageReader::Vector& p, const ImageReader::Vector& size, bool fix)
{
    const int n = static_cast<int>(size.size());
    if (static_cast<int>(p.size()) != n) {
        if (!fix)
            return false;
        p = size / 2;
        return true;
    }
    bool ok = true;
    for (int d = 0; d < n; ++d) {
        const int c = std::clamp(p[d], 0, std::max(0, size[d] - 1));
        ok = ok && c == p[d];
        if (fix)
            p[d] = c;
    }
    return ok;
}

} // namespace

bool ViewState::IsProjected(int d) const
{
    return projection == ProjectionMode::Max && d >= 0 && d < static_cast<int>(projected.size()) &&
           projected[static_cast<size_t>(d)];
}

bool ViewState::IsSpectral(const ImageReader::Vector& size) const
{
    return inside(channelDim, static_cast<int>(size.size())) && size[channelDim] >= 10;
}

std::pair<int, int> ViewState::ViewDims(int index) const
{
    return index == kViewXY   ? std::make_pair(axes.x, axes.y)
           : index == kViewXZ ? std::make_pair(axes.x, axes.xz)
                              : std::make_pair(axes.yz, axes.y);
}

bool ViewState::Drawable(int index, const ImageReader::Vector& size) const
{
    const int n = static_cast<int>(size.size());
    const auto [x, y] = ViewDims(index);
    return inside(x, n) && inside(y, n) && x != y;
}

std::string ViewState::Validate(const ImageReader::Vector& size) const
{
    const int n = static_cast<int>(size.size());
    for (int a : {axes.x, axes.y, axes.xz, axes.yz})
        if (a < -1 || a >= n)
            return "a view axis is not a dimension of the image";
    if (channelDim < -1 || channelDim >= n)
        return "the channel dimension is not a dimension of the image";
    if (profileDim < -1 || profileDim >= n)
        return "the profile dimension is not a dimension of the image";
    ImageReader::Vector c = cursor;
    if (!positionInside(c, size, false))
        return "the cursor lies outside the image";
    if (!projected.empty() && static_cast<int>(projected.size()) != n)
        return "the projected dimensions do not match the image";
    if (!(zoom > 0) || !std::isfinite(zoom))
        return "the zoom is not a positive number";
    if (pan.size() != 2)
        return "the pan needs two offsets";
    if (!std::isfinite(spectrum.p1) || !std::isfinite(spectrum.p2) || !std::isfinite(spectrum.w1) ||
        !std::isfinite(spectrum.w2) || spectrum.p1 == spectrum.p2)
        return "the spectral calibration needs two distinct reference positions";
    if (measure.type < 0 || measure.type > 2)
        return "unknown measurement";
    if (const std::string why = volume.Validate(size); !why.empty())
        return why;
    if (measure.type != 0) {
        ImageReader::Vector s = measure.start, e = measure.end;
        if (static_cast<int>(s.size()) != n || static_cast<int>(e.size()) != n)
            return "the measurement does not match the image";
    }
    return std::string();
}

void ViewState::Clamp(const ImageReader::Vector& size)
{
    const int n = static_cast<int>(size.size());
    for (int* a : {&axes.x, &axes.y, &axes.xz, &axes.yz})
        if (!inside(*a, n))
            *a = -1;
    if (!inside(channelDim, n))
        channelDim = -1;
    if (!inside(profileDim, n))
        profileDim = -1;
    positionInside(cursor, size, true);
    projected.resize(static_cast<size_t>(n), false);
    if (!(zoom > 0) || !std::isfinite(zoom))
        zoom = 1.0;
    if (pan.size() != 2)
        pan = ImageReader::Vector(0, 0);
    if (Validate(size).find("spectral") != std::string::npos)
        spectrum = SpectrumCalibration();
    if (measure.type < 0 || measure.type > 2 || static_cast<int>(measure.start.size()) != n ||
        static_cast<int>(measure.end.size()) != n)
        measure = MeasureState{0, cursor, cursor};
    if (!volume.Validate(size).empty())
        volume = VolumeViewState();
}

ViewState ViewState::Initial(const ImageReader::Vector& size, const std::vector<std::string>& names, int hintedChannel)
{
    const int n = static_cast<int>(size.size());
    ViewState s;
    int depth = -1;
    int channel = -1;
    for (int i = 0; i < n && i < static_cast<int>(names.size()); ++i) {
        const std::string& name = names[static_cast<size_t>(i)];
        if (startsWith(name, "z"))
            depth = i;
        if (startsWith(name, "w") || startsWith(name, "c") || startsWith(name, "lambda"))
            channel = i;
    }
    s.axes.x = n >= 1 ? 0 : -1;
    s.axes.y = n >= 2 ? 1 : -1;
    if (depth >= 0)
        s.axes.xz = s.axes.yz = depth;
    else if (n > 2)
        s.axes.xz = s.axes.yz = 2;
    // The file's own channel axis, when it names one, wins over a guess from the names.
    if (inside(hintedChannel, n))
        channel = hintedChannel;
    s.channelDim = channel;
    s.cursor = size / 2;
    s.projected.assign(static_cast<size_t>(n), false);
    s.pan = ImageReader::Vector(0, 0);
    s.measure = MeasureState{0, s.cursor, s.cursor};
    if (s.IsSpectral(size))
        s.spectrum = DefaultSpectrumCalibration(size[channel]);
    return s;
}

bool ViewState::operator==(const ViewState& o) const
{
    return axes.x == o.axes.x && axes.y == o.axes.y && axes.xz == o.axes.xz && axes.yz == o.axes.yz &&
           channelDim == o.channelDim && profileDim == o.profileDim && cursor == o.cursor &&
           projection == o.projection && projected == o.projected && zoom == o.zoom && pan == o.pan &&
           fitted == o.fitted && scaleBar == o.scaleBar && colourBar == o.colourBar && spectrum.p1 == o.spectrum.p1 &&
           spectrum.w1 == o.spectrum.w1 && spectrum.p2 == o.spectrum.p2 && spectrum.w2 == o.spectrum.w2 &&
           spectrum.fileWavelengths == o.spectrum.fileWavelengths && measure.type == o.measure.type &&
           // An unused measurement's corners are not part of the state.
           (measure.type == 0 || (measure.start == o.measure.start && measure.end == o.measure.end)) &&
           regions == o.regions &&
           volume == o.volume;
}

bool ChannelDisplay::operator==(const ChannelDisplay& o) const
{
    return name == o.name && r == o.r && g == o.g && b == o.b && min == o.min && max == o.max && gamma == o.gamma &&
           enabled == o.enabled && autoscaling == o.autoscaling && lut == o.lut && lutColours == o.lutColours;
}

std::string DisplayState::Validate() const
{
    const auto check = [](const ChannelDisplay& c) {
        for (int v : {c.r, c.g, c.b})
            if (v < 0 || v > 255)
                return false;
        const std::vector<std::string>& luts = LookupTableNames();
        if (std::find(luts.begin(), luts.end(), c.lut) == luts.end() || (!c.lutColours.empty() && c.lutColours.size() != 768))
            return false;
        // An empty range (min > max) is how a channel waits for autoscaling. Colours ramp
        // from min - 1 to max - 1, so a window whose top value is full colour ends at 65536.
        return c.min >= 0 && c.min <= 65535 && c.max >= 0 && c.max <= 65536 && c.gamma >= -100 && c.gamma <= 100;
    };
    if (!check(global))
        return "the global channel's colour, range, gamma or lookup table is out of bounds";
    for (const ChannelDisplay& c : channels)
        if (!check(c))
            return "channel " + c.name + ": colour, range, gamma or lookup table out of bounds";
    if (selected < 0 || (selected > 0 && selected >= static_cast<int>(channels.size())))
        return "the selected channel does not exist";
    return std::string();
}

const ChannelDisplay& DisplayState::For(int c, int channelDim) const
{
    if (channelDim < 0 || c < 0 || c >= static_cast<int>(channels.size()))
        return global;
    return channels[static_cast<size_t>(c)];
}

bool DisplayState::operator==(const DisplayState& o) const
{
    return channels == o.channels && global == o.global && selected == o.selected;
}

ViewKey MakeViewKey(const ViewState& state, int index, std::uint64_t image,
                    const std::vector<ImageReader::Vector>& levelSizes, int level)
{
    const auto [xdim, ydim] = state.ViewDims(index);
    return MakeViewKeyForAxes(state, xdim, ydim, image, levelSizes, level);
}

std::string ValidateStates(const ViewState& view, const DisplayState& display, const ImageReader::Vector& size)
{
    const std::string why = view.Validate(size);
    return why.empty() ? display.Validate() : why;
}

void ApplyChannelHints(const std::vector<ImageReader::ChannelHint>& hints, const ImageReader::ValueMap& map,
                       std::vector<ChannelDisplay>& channels)
{
    if (channels.size() < hints.size())
        channels.resize(hints.size());
    for (size_t k = 0; k < hints.size(); ++k) {
        // One rule for every format and for the window and the model alike.
        ImageChannel channel = ToImageChannel(channels[k]);
        ApplyChannelHint(channel, hints[k], map);
        const std::string name = hints[k].name.empty() ? channels[k].name : hints[k].name;
        channels[k] = ChannelDisplayOf(channel, name);
    }
}

ViewKey MakeViewKeyForAxes(const ViewState& state, int xdim, int ydim, std::uint64_t image,
                           const std::vector<ImageReader::Vector>& levelSizes, int level)
{
    ViewKey key;
    key.xdim = xdim;
    key.ydim = ydim;
    key.cd = state.channelDim;
    key.image = image;
    for (int i = 0; i < static_cast<int>(state.cursor.size()); ++i)
        key.full.push_back(i == xdim || i == ydim || i == key.cd || state.IsProjected(i) ? -1 : state.cursor[i]);
    key.pinned = key.full;
    if (level > 0 && static_cast<size_t>(level) < levelSizes.size()) {
        // The level's position of the same place: the level's own extent decides, so a
        // level of odd size still maps the last full-resolution index inside it.
        key.level = level;
        const ImageReader::Vector& full = levelSizes[0];
        const ImageReader::Vector& coarse = levelSizes[static_cast<size_t>(level)];
        for (int i = 0; i < static_cast<int>(key.pinned.size()) && i < static_cast<int>(full.size()); ++i) {
            if (key.pinned[i] < 0 || i == key.cd || full[i] <= 0)
                continue;
            const std::int64_t at = static_cast<std::int64_t>(key.pinned[i]) * coarse[i] / full[i];
            key.pinned[i] = static_cast<int>(std::clamp<std::int64_t>(at, 0, std::max(0, coarse[i] - 1)));
        }
    }
    return key;
}

} // namespace ImageViewer
