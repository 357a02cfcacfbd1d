#include "ChannelRenderer.h"

#include <algorithm>
#include <cstring>

namespace ImageViewer {

using ImageReader::ImageSlice;
using ImageReader::Vector;

ChannelRenderer::ChannelRenderer(int dim, ChannelListPtr channels) : m_channels(std::move(channels)), m_dim(dim)
{
    if (!m_channels)
        m_channels = std::make_shared<ChannelList>();
}

ChannelRenderer::ChannelRenderer(int dim) : m_channels(std::make_shared<ChannelList>()), m_dim(dim) {}

void ChannelRenderer::AddChannel(ChannelPtr channel)
{
    m_channels->push_back(std::move(channel));
}

RGBABuffer ChannelRenderer::Composite(const std::vector<Layer>& layers, int w, int h)
{
    if (w < 0 || h < 0)
        return nullptr;
    const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
    RGBABuffer out = AllocateRGBA(n);
    if (!out)
        return nullptr;
    bool written = false;
    // Tables are 256 KiB each; a bounded group of them is live at a time.
    constexpr size_t group = 8;
    constexpr size_t chunk = 4096;
    for (size_t g0 = 0; g0 < layers.size(); g0 += group) {
        std::vector<std::pair<const unsigned short*, std::vector<std::uint32_t>>> active;
        for (size_t k = g0; k < std::min(layers.size(), g0 + group); ++k) {
            ImageChannel* channel = layers[k].first;
            const ImageSlice<unsigned short>& slice = layers[k].second;
            if (!channel || slice.IsEmpty())
                continue;
            std::vector<std::uint32_t> table = channel->PrepareRender(slice);
            const Vector size = slice.GetSize();
            const int sh = size.size() > 1 ? size[1] : 1;
            if (!table.empty() && size[0] == w && sh == h)
                active.emplace_back(slice.GetData(), std::move(table));
        }
        if (active.empty())
            continue;
        // Chunk by chunk so that the output is read and written once for all the group's channels.
        for (size_t i = 0; i < n; i += chunk) {
            const size_t m = std::min(chunk, n - i);
            for (size_t k = 0; k < active.size(); ++k)
                MapPixels(active[k].first + i, m, active[k].second.data(), out.get() + 4 * i, written || k > 0);
        }
        written = true;
    }
    if (!written)
        std::memset(out.get(), 0, n ? 4 * n : 1);
    return out;
}

RGBABuffer ChannelRenderer::RenderToRGBA(ImageReader::ImageBase<unsigned short>& image)
{
    const Vector size = image.GetSize();
    if (size.size() < 2)
        return nullptr;
    const ChannelList& channels = *m_channels;
    Vector pos;
    for (unsigned i = 0; i < size.size(); ++i)
        pos.push_back(0);
    if (m_dim < 0) {
        if (channels.empty() || !channels[0])
            return nullptr;
        return channels[0]->RenderToRGBA(image.GetSlice(pos(2, Vector::end)));
    }
    if (static_cast<unsigned>(m_dim) >= size.size())
        return nullptr;
    // A list shorter than the dimension is a caller error; only listed channels are visited.
    const size_t count = std::min(static_cast<size_t>(std::max(size[m_dim], 0)), channels.size());
    std::vector<Layer> layers;
    for (size_t c = 0; c < count; ++c) {
        if (!channels[c] || !channels[c]->m_enabled)
            continue;
        pos[m_dim] = static_cast<int>(c);
        layers.emplace_back(channels[c].get(), image.GetSlice(pos(2, Vector::end)));
    }
    return Composite(layers, size[0], size[1]);
}

void WavelengthToRGB(double wl, double& r, double& g, double& b)
{
    if (wl >= 380 && wl <= 440) {
        r = (440 - wl) / 60;
        g = 0;
        b = 1;
    } else if (wl >= 440 && wl <= 490) {
        r = 0;
        g = (wl - 440) / 50;
        b = 1;
    } else if (wl >= 490 && wl <= 510) {
        r = 0;
        g = 1;
        b = (510 - wl) / 20;
    } else if (wl >= 510 && wl <= 580) {
        r = (wl - 510) / 70;
        g = 1;
        b = 0;
    } else if (wl >= 580 && wl <= 645) {
        r = 1;
        g = (645 - wl) / 65;
        b = 0;
    } else if (wl >= 645 && wl <= 780) {
        r = 1;
        g = 0;
        b = 0;
    } else {
        r = g = b = 0;
    }
    double f = 1.0;
    if (wl > 700)
        f = (780 - wl) * 0.7 / 80 + 0.3;
    else if (wl < 420)
        f = (wl - 380) * 0.7 / 40 + 0.3;
    r *= f;
    g *= f;
    b *= f;
    g /= 0.6515;
    b /= 0.4688;
}

} // namespace ImageViewer
