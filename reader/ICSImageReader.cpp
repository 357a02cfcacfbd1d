#include "ICSImageReader.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "Diagnostics.h"
#include "IcsLocale.h"

namespace ImageReader {

namespace {

constexpr int kMaxDims = ICS_MAXDIM;


// Float samples: truncated toward zero to an unsigned 32-bit integer, low 16 bits kept.
// Negative, non-finite and out-of-range values (undefined for that truncation) become 0.
inline uint16_t floatTo16(double v)
{
    if (!(v >= 0.0) || !(v < 4294967296.0))
        return 0;
    return static_cast<uint16_t>(static_cast<uint32_t>(v) & 0xFFFFu);
}

template <class S>
void convertLow16(const void* src, uint16_t* dst, size_t n)
{
    const S* s = static_cast<const S*>(src);
    for (size_t i = 0; i < n; ++i)
        dst[i] = static_cast<uint16_t>(static_cast<uint64_t>(s[i]) & 0xFFFFu);
}

template <class S>
void convertFloat(const void* src, uint16_t* dst, size_t n)
{
    const S* s = static_cast<const S*>(src);
    for (size_t i = 0; i < n; ++i)
        dst[i] = floatTo16(static_cast<double>(s[i]));
}

// Sample types this reader can turn into 16-bit values, with their size in bytes.
bool supportedType(Ics_DataType type, size_t& bytes)
{
    switch (type) {
    case Ics_uint8: case Ics_sint8: bytes = 1; return true;
    case Ics_uint16: case Ics_sint16: bytes = 2; return true;
    case Ics_uint32: case Ics_sint32: case Ics_real32: bytes = 4; return true;
    case Ics_uint64: case Ics_sint64: case Ics_real64: bytes = 8; return true;
    default: return false;
    }
}

} // namespace

template <class T>
void ICSImageReader<T>::Open(const std::filesystem::path& path)
{
    Close();
    m_dims = Vector();
    const IcsLocaleScope cLocale;
    const std::string narrow = path.string();
    ICS* ics = nullptr;
    if (IcsOpen(&ics, narrow.c_str(), "r") != IcsErr_Ok)
        return;

    Ics_DataType datatype = Ics_unknown;
    int ndims = 0;
    size_t dims[kMaxDims] = {};
    IcsGetLayout(ics, &datatype, &ndims, dims);
    const size_t imelsize = IcsGetImelSize(ics);

    // Refused: complex data, types without a defined conversion, fewer than two dimensions,
    // and extents that do not fit the viewer's 32-bit sizes.
    size_t expected = 0;
    bool ok = supportedType(datatype, expected) && expected == imelsize && ndims >= 2 && ndims <= kMaxDims;
    for (int i = 0; ok && i < ndims; ++i)
        ok = dims[i] > 0 && dims[i] <= static_cast<size_t>(std::numeric_limits<int>::max());
    if (ok)
        ok = dims[0] * dims[1] <= std::numeric_limits<size_t>::max() / imelsize / 4;
    if (!ok) {
        IcsClose(ics);
        return;
    }

    m_ics = ics;
    m_path = narrow;
    m_nextplane = 0;
    m_datatype = datatype;
    m_imelsize = static_cast<int>(imelsize);
    for (int i = 0; i < ndims; ++i)
        m_dims.push_back(static_cast<int>(dims[i]));
}

template <class T>
void ICSImageReader<T>::Close()
{
    if (m_ics) {
        const IcsLocaleScope cLocale;
        IcsClose(m_ics);
        m_ics = nullptr;
    }
}

template <class T>
ImageSlice<T> ICSImageReader<T>::GetSlice(const Vector& p)
{
    const int n = static_cast<int>(m_dims.size());
    if (!m_ics || n < 2 || static_cast<int>(p.size()) != n - 2)
        return ImageSlice<T>();

    // Planes of dimensions 0 and 1 are contiguous in the data, numbered with dimension 2
    // fastest.
    size_t plane = 0;
    size_t stride = 1;
    for (int i = 2; i < n; ++i) {
        if (p[i - 2] < 0 || p[i - 2] >= m_dims[i])
            return ImageSlice<T>();
        plane += static_cast<size_t>(p[i - 2]) * stride;
        stride *= static_cast<size_t>(m_dims[i]);
    }

    const size_t count = static_cast<size_t>(m_dims[0]) * static_cast<size_t>(m_dims[1]);
    const size_t bytes = count * static_cast<size_t>(m_imelsize);
    void* read = std::malloc(bytes);
    if (!read)
        return ImageSlice<T>();
    if (!ReadPlane(plane, read, bytes)) {
        std::free(read);
        return ImageSlice<T>();
    }

    // 16-bit data is read straight into the buffer the slice keeps.
    if (m_imelsize == 2)
        return ImageSlice<T>(Vector(m_dims[0], m_dims[1]), static_cast<T*>(read));

    T* result = static_cast<T*>(std::malloc(count * sizeof(T)));
    if (!result) {
        std::free(read);
        return ImageSlice<T>();
    }
    switch (m_datatype) {
    case Ics_uint8: case Ics_sint8: convertLow16<uint8_t>(read, result, count); break;
    case Ics_uint32: case Ics_sint32: convertLow16<uint32_t>(read, result, count); break;
    case Ics_uint64: case Ics_sint64: convertLow16<uint64_t>(read, result, count); break;
    case Ics_real32: convertFloat<float>(read, result, count); break;
    case Ics_real64: convertFloat<double>(read, result, count); break;
    default: std::memset(result, 0, count * sizeof(T)); break;
    }
    std::free(read);
    return ImageSlice<T>(Vector(m_dims[0], m_dims[1]), result);
}

// libics's region reader reopens the data file and reads it line by line on every call,
// about 15 times slower than reading a plane in one piece. So planes are read from libics's
// sequential data stream instead: forward requests skip ahead, and a request behind the
// stream position reopens the image (the slice cache makes those rare).
template <class T>
bool ICSImageReader<T>::ReadPlane(size_t plane, void* dest, size_t bytes)
{
    if (plane < m_nextplane) {
        const IcsLocaleScope cLocale;
        IcsClose(m_ics);
        m_ics = nullptr;
        if (IcsOpen(&m_ics, m_path.c_str(), "r") != IcsErr_Ok) {
            m_ics = nullptr; // every later request gives an empty slice
            return false;
        }
        m_nextplane = 0;
    }
    if (plane > m_nextplane && IcsSkipDataBlock(m_ics, (plane - m_nextplane) * bytes) != IcsErr_Ok) {
        m_nextplane = SIZE_MAX; // position unknown: reopen next time
        return false;
    }
    if (IcsGetDataBlock(m_ics, dest, bytes) != IcsErr_Ok) {
        m_nextplane = SIZE_MAX;
        return false;
    }
    m_nextplane = plane + 1;
    return true;
}

template <class T>
std::string ICSImageReader<T>::GetDimName(unsigned int dim)
{
    char order[ICS_LINE_LENGTH] = {};
    char label[ICS_LINE_LENGTH] = {};
    if (!m_ics || dim >= m_dims.size())
        return std::string();
    IcsGetOrder(m_ics, static_cast<int>(dim), order, label);
    return std::string(order);
}

template <class T>
double ICSImageReader<T>::GetDimPixelSize(unsigned int dim)
{
    double origin = 0.0;
    double scale = 0.0;
    char units[ICS_LINE_LENGTH] = {};
    const Ics_Error error = m_ics ? IcsGetPosition(m_ics, static_cast<int>(dim), &origin, &scale, units)
                                  : IcsErr_NotValidAction;
    if (error != IcsErr_Ok) {
        ReportDiagnostic(std::to_string(dim) + " " + std::to_string(static_cast<int>(error)));
        return 1.0;
    }
    static const struct { const char* unit; double factor; } table[] = {
        {"m", 1e9}, {"meters", 1e9}, {"mm", 1e6}, {"millimeters", 1e6},
        {"um", 1e3}, {"micrometers", 1e3}, {"nm", 1.0}, {"nanometers", 1.0},
    };
    for (const auto& entry : table)
        if (std::strcmp(units, entry.unit) == 0)
            return scale * entry.factor;
    return 0.0;
}

template class ICSImageReader<unsigned short>;

} // namespace ImageReader
