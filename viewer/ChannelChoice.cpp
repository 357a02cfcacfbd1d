#include "ChannelChoice.h"

#include <QListWidget>

#include "formImageViewer.h"

namespace ImageViewer {

bool ChannelChoice::IsListMode() const
{
    const int cd = m_window.ChannelDimension();
    if (!m_window.image || cd < 0)
        return false;
    const ImageReader::Vector size = m_window.image->GetSize();
    return cd < static_cast<int>(size.size()) && size[cd] < 10;
}

ChannelPtr ChannelChoice::Current() const
{
    if (!m_window.image)
        return nullptr;
    if (!IsListMode())
        return m_window.globalchannel;
    const int row = m_window.listChannels->currentRow();
    const ChannelListPtr& channels = m_window.channels;
    if (row < 0 || !channels || row >= static_cast<int>(channels->size()))
        return nullptr;
    return (*channels)[static_cast<size_t>(row)];
}

ChannelListPtr ChannelChoice::ForMeasurement() const
{
    if (IsListMode())
        return m_window.channels;
    return std::make_shared<ChannelList>(1, m_window.globalchannel);
}

} // namespace ImageViewer
