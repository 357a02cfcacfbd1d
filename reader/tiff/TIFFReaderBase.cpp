#include "TIFFReaderBase.h"

#include <tiffio.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "TiffDescription.h"

namespace ImageReader {

void PixelSizesOf(const TiffLayout& layout, double nm[3])
{
    nm[0] = nm[1] = nm[2] = 0.0;
    ImageJDescription ij;
    OmeDescription ome;
    std::string error;
    if (ParseImageJDescription(layout.description, ij)) {
        const double unit = UnitInNm(ij.unit);
        if (unit > 0 && layout.xPerUnit > 0 && layout.yPerUnit > 0) {
            nm[0] = unit / layout.xPerUnit;
            nm[1] = unit / layout.yPerUnit;
        }
        nm[2] = unit * ij.spacing;
    } else if (layout.description.find("<OME") != std::string::npos &&
               ParseOmeDescription(layout.description, ome, error)) {
        for (int i = 0; i < 3; ++i)
            nm[i] = ome.physicalNm[i];
    }
    if (nm[0] == 0.0 && layout.xPerCm > 0 && layout.yPerCm > 0) {
        nm[0] = 1e7 / layout.xPerCm;
        nm[1] = 1e7 / layout.yPerCm;
    }
}

template <class T>
void TIFFReaderBase<T>::Reset()
{
    m_dims.clear();
    m_layout = TiffLayout();
    m_map = ValueMap();
    m_size = Vector();
    m_error.clear();
    m_hints.clear();
    m_hintDim = -1;
    m_raw.reset();
    m_rawKey = -1;
    m_reported = std::make_shared<std::set<std::string>>();
}

template <class T>
void TIFFReaderBase<T>::Fail(const std::string& error)
{
    Reset();
    m_error = error;
}

template <class T>
void TIFFReaderBase<T>::SetPlaneDims(const TiffLayout& layout, double xNm, double yNm)
{
    m_layout = layout;
    m_dims.push_back({"x", static_cast<int>(layout.width), xNm, 0, {}});
    m_dims.push_back({"y", static_cast<int>(layout.height), yNm, 0, {}});
    if (layout.samples > 1) {
        Dim c{"c", layout.samples, 0.0, 0, {}};
        if (layout.photometric == PHOTOMETRIC_RGB)
            c.indexNames = {"red", "green", "blue"};
        m_dims.push_back(std::move(c));
    }
}

template <class T>
void TIFFReaderBase<T>::Finish(long long pages)
{
    m_size = Vector();
    for (const Dim& d : m_dims)
        m_size.push_back(d.size);
    const size_t samples = m_layout.samples;
    const size_t planeBytes = m_layout.PlaneBytes();
    m_map = EstimateValueMap(m_layout.type, static_cast<size_t>(pages) * samples, m_layout.PlaneSamples(),
                             [&](size_t plane, void* buffer) {
                                 const unsigned char* raw = RawPage(static_cast<long long>(plane / samples));
                                 if (raw)
                                     std::memcpy(buffer, raw + (plane % samples) * planeBytes, planeBytes);
                                 return raw != nullptr;
                             });
}

template <class T>
const unsigned char* TIFFReaderBase<T>::RawPage(long long key)
{
    if (key == m_rawKey && m_raw)
        return m_raw.get();
    const size_t bytes = m_layout.PlaneBytes() * m_layout.samples;
    if (!m_raw)
        m_raw.reset(new (std::nothrow) unsigned char[bytes]);
    m_rawKey = -1;
    if (!m_raw || !ReadRawPage(key, m_raw.get()))
        return nullptr;
    m_rawKey = key;
    return m_raw.get();
}

template <class T>
ImageSlice<T> TIFFReaderBase<T>::GetSlice(const Vector& position)
{
    static_assert(std::is_same_v<T, std::uint16_t>, "the TIFF readers deliver 16-bit display values");
    const int n = static_cast<int>(m_size.size());
    if (n < 2 || static_cast<int>(position.size()) != n - 2)
        return ImageSlice<T>();
    for (int i = 2; i < n; ++i)
        if (position[i - 2] < 0 || position[i - 2] >= m_size[i])
            return ImageSlice<T>();
    long long key = 0;
    unsigned sample = 0;
    if (!Locate(position, key, sample))
        return ImageSlice<T>();

    const std::lock_guard<std::mutex> lock(m_readMutex);
    // Single-sample 16-bit pages are their own display values.
    if (m_layout.type == SampleType::UInt16 && m_layout.samples == 1 && m_map == ValueMap())
        return ReadPlane16(key);
    const size_t count = m_layout.PlaneSamples();
    T* out = static_cast<T*>(std::malloc(count * sizeof(T)));
    if (!out)
        return ImageSlice<T>();
    const unsigned char* raw = RawPage(key);
    if (!raw) {
        std::free(out);
        return ImageSlice<T>();
    }
    ConvertToDisplay(raw + sample * m_layout.PlaneBytes(), m_layout.type, m_map, out, count);
    return ImageSlice<T>(Vector(m_size[0], m_size[1]), out);
}

template <class T>
std::optional<double> TIFFReaderBase<T>::GetValue(const Vector& position)
{
    if (m_map.IsExact())
        return ImageReaderBase<T>::GetValue(position);
    const int n = static_cast<int>(m_size.size());
    if (n < 2 || static_cast<int>(position.size()) != n)
        return std::nullopt;
    for (int i = 0; i < n; ++i)
        if (position[i] < 0 || position[i] >= m_size[i])
            return std::nullopt;
    long long key = 0;
    unsigned sample = 0;
    if (!Locate(position(2, Vector::end), key, sample))
        return std::nullopt;
    const std::lock_guard<std::mutex> lock(m_readMutex);
    const unsigned char* raw = RawPage(key);
    if (!raw)
        return std::nullopt;
    const size_t at = sample * m_layout.PlaneSamples() + static_cast<size_t>(position[1]) * m_layout.width +
                      static_cast<size_t>(position[0]);
    return SampleValue(raw, m_layout.type, at);
}

template <class T>
std::string TIFFReaderBase<T>::GetIndexName(unsigned int dim, int index)
{
    if (dim >= m_dims.size() || index < 0 || static_cast<size_t>(index) >= m_dims[dim].indexNames.size())
        return std::string();
    return m_dims[dim].indexNames[static_cast<size_t>(index)];
}

template <class T>
std::vector<double> TIFFReaderBase<T>::GetIndexWavelengths(unsigned int dim)
{
    std::vector<double> nm;
    if (m_hintDim < 0 || dim != static_cast<unsigned>(m_hintDim) || dim >= m_dims.size() ||
        m_hints.size() != static_cast<size_t>(m_dims[dim].size))
        return nm;
    for (const ChannelHint& hint : m_hints) {
        if (!(hint.wavelength > 0))
            return {};
        nm.push_back(hint.wavelength);
    }
    return nm;
}

template <class T>
std::string TIFFReaderBase<T>::GetFormatName()
{
    if (m_size.size() == 0)
        return std::string();
    return FormatKind() + ", " + SampleTypeName(m_layout.type);
}

template class TIFFReaderBase<unsigned short>;

} // namespace ImageReader
