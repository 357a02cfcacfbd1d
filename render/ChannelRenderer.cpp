#include "ChannelRenderer.h"

#include "Parallel.h"

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

RGBABuffer ChannelRenderer::Composite(const std::vector<Layer>& layers, int w, int h, RGBABuffer reuse, unsigned threads)
{
    if (w < 0 || h < 0)
        return nullptr;
    const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
    RGBABuffer out = reuse ? std::move(reuse) : AllocateRGBA(n);
    if (!out)
        return nullptr;
    // Tables are 256 KiB each; a bounded group of them is live at a time.
    constexpr size_t group = 8;
    constexpr size_t chunk = 4096;
    if (threads == 0)
        threads = CoreCount();
    // A thread costs tens of microseconds to start: small pictures stay on the caller's, and
    // no part is smaller than half the threshold.
    const size_t parts = n < ParallelPixels ? 1 : std::min<size_t>(threads, n / (ParallelPixels / 2));
    bool written = false;
    for (size_t g0 = 0; g0 < layers.size(); g0 += group) {
        std::vector<std::pair<const unsigned short*, std::vector<std::uint32_t>>> active;
        for (size_t k = g0; k < std::min(layers.size(), g0 + group); ++k) {
            ImageChannel* channel = layers[k].channel;
            const ImageSlice<unsigned short>& slice = layers[k].slice;
            if (!channel || slice.IsEmpty())
                continue;
            std::vector<std::uint32_t> table = channel->PrepareRender(slice, layers[k].span ? &*layers[k].span : nullptr);
            const Vector size = slice.GetSize();
            const int sh = size.size() > 1 ? size[1] : 1;
            if (!table.empty() && size[0] == w && sh == h)
                active.emplace_back(slice.GetData(), std::move(table));
        }
        if (active.empty())
            continue;
        // Chunk by chunk so that the output is read and written once for all the group's
        // channels. Every pixel depends on its own inputs only, so parts need no ordering.
        const auto colour = [&, add = written](size_t begin, size_t end) {
            for (size_t i = begin; i < end; i += chunk) {
                const size_t m = std::min(chunk, end - i);
                for (size_t k = 0; k < active.size(); ++k)
                    MapPixels(active[k].first + i, m, active[k].second.data(), out.get() + 4 * i, add || k > 0);
            }
        };
        // Blocks of one chunk, so the split does not change the chunking.
        ParallelFor(n, chunk, parts, colour);
        written = true;
    }
    if (!written)
        std::memset(out.get(), 0, n ? 4 * n : 1);
    return out;
}

std::vector<ImageSlice<unsigned short>> ReadChannelPlanes(ImageReader::ImageBase<unsigned short>& image,
                                                          const Vector& size, int dim, const ChannelList& channels)
{
    const size_t n = dim < 0 ? 1 : std::min(channels.size(), static_cast<size_t>(std::max(size[dim], 0)));
    std::vector<ImageSlice<unsigned short>> planes(n);
    Vector pos;
    for (unsigned i = 0; i < size.size(); ++i)
        pos.push_back(0);
    for (size_t c = 0; c < n; ++c) {
        if (!channels[c] || !channels[c]->m_enabled)
            continue;
        if (dim >= 0)
            pos[dim] = static_cast<int>(c);
        planes[c] = image.GetSlice(pos(2, Vector::end));
    }
    return planes;
}

RGBABuffer ChannelRenderer::RenderToRGBA(ImageReader::ImageBase<unsigned short>& image)
{
    const Vector size = image.GetSize();
    if (size.size() < 2 || (m_dim >= 0 && static_cast<unsigned>(m_dim) >= size.size()))
        return nullptr;
    const ChannelList& channels = *m_channels;
    if (m_dim < 0) {
        // Without a channel dimension channel 0 renders the first plane, enabled or not.
        if (channels.empty() || !channels[0])
            return nullptr;
        Vector first;
        for (unsigned i = 2; i < size.size(); ++i)
            first.push_back(0);
        return channels[0]->RenderToRGBA(image.GetSlice(first));
    }
    std::vector<ImageSlice<unsigned short>> planes = ReadChannelPlanes(image, size, m_dim, channels);
    std::vector<Layer> layers;
    for (size_t c = 0; c < planes.size(); ++c)
        if (channels[c] && channels[c]->m_enabled)
            layers.emplace_back(channels[c].get(), std::move(planes[c]));
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
