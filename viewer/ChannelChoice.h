#pragma once

#include "ImageChannel.h"

namespace ImageViewer {

class formImageViewer;

// Which display channels the panels of a window work with: the channel list while the
// channel dimension has fewer than 10 entries, the global channel otherwise.
class ChannelChoice
{
public:
    explicit ChannelChoice(const formImageViewer& window) : m_window(window) {}

    // An image is loaded and its channel dimension has fewer than 10 entries.
    bool IsListMode() const;
    // The selected list entry's channel, the global channel outside list mode, or null
    // (no image, or nothing selected in the list).
    ChannelPtr Current() const;
    // What a region histogram or line profile draws: the list, or just the global channel.
    ChannelListPtr ForMeasurement() const;

private:
    const formImageViewer& m_window;
};

} // namespace ImageViewer
