#include "SliceCache.h"

namespace ImageReader {

template <class T>
ImageSlice<T> SliceCache<T>::GetSlice(const Vector& position)
{
    auto it = m_cache.find(position);
    if (it != m_cache.end())
        return it->second;
    // Failed reads are cached too, so a missing plane is asked for only once.
    return m_cache.emplace(position, m_image->GetSlice(position)).first->second;
}

template class SliceCache<unsigned short>;

} // namespace ImageReader
