#include "ICSImageReader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <limits>

#include "Diagnostics.h"
#include "IcsLocale.h"
#include "TimeUnit.h"

#include <libics_sensor.h>

namespace ImageReader {

namespace {

constexpr int kMaxDims = ICS_MAXDIM;
// Planes beyond this many samples are refused: the views, histograms and colour pictures
// each hold a copy of a plane, and 2^28 samples (a 16384 x 16384 plane) already needs
// about 2.5 GB for them together.
constexpr size_t kMaxPlaneSamples = size_t(1) << 28;
// Access points into gzip data: one per 4 MiB of samples, or per plane when planes are
// larger, and at most 512 of them (16 MiB of saved windows) however large the image. A read
// backwards inflates on average half a span it does not need.
constexpr size_t kAccessSpan = size_t(4) << 20;
constexpr size_t kMaxAccessPoints = 512;

bool sampleType(Ics_DataType type, SampleType& out)
{
    switch (type) {
    case Ics_uint8: out = SampleType::UInt8; return true;
    case Ics_sint8: out = SampleType::Int8; return true;
    case Ics_uint16: out = SampleType::UInt16; return true;
    case Ics_sint16: out = SampleType::Int16; return true;
    case Ics_uint32: out = SampleType::UInt32; return true;
    case Ics_sint32: out = SampleType::Int32; return true;
    case Ics_uint64: out = SampleType::UInt64; return true;
    case Ics_sint64: out = SampleType::Int64; return true;
    case Ics_real32: out = SampleType::Float32; return true;
    case Ics_real64: out = SampleType::Float64; return true;
    default: return false;
    }
}

// "9800000000" -> "9 800 000 000": byte counts a user can read at a glance.
std::string groupDigits(unsigned long long v)
{
    std::string digits = std::to_string(v);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<size_t>(i), " ");
    return digits;
}

// Nanometres per unit; 0 for a unit we do not know. Case does not matter, and the micro sign
// may come as UTF-8 (U+00B5 or Greek mu U+03BC) or as the Latin-1 byte.
double nanometresPer(const char* units)
{
    std::string u;
    for (const char* c = units; *c; ++c)
        if (!std::isspace(static_cast<unsigned char>(*c)))
            u += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    for (const char* micro : {"\xc2\xb5", "\xce\xbc", "\xb5"})
        if (u.rfind(micro, 0) == 0) {
            u.replace(0, std::strlen(micro), "u");
            break;
        }
    static const struct { const char* unit; double factor; } table[] = {
        {"m", 1e9},        {"meter", 1e9},       {"meters", 1e9},      {"metre", 1e9},        {"metres", 1e9},
        {"mm", 1e6},       {"millimeter", 1e6},  {"millimeters", 1e6}, {"millimetre", 1e6},   {"millimetres", 1e6},
        {"um", 1e3},       {"micron", 1e3},      {"microns", 1e3},     {"micrometer", 1e3},   {"micrometers", 1e3},
        {"micrometre", 1e3}, {"micrometres", 1e3}, {"nm", 1.0},        {"nanometer", 1.0},    {"nanometers", 1.0},
        {"nanometre", 1.0}, {"nanometres", 1.0},
    };
    for (const auto& entry : table)
        if (u == entry.unit)
            return entry.factor;
    return 0.0;
}

// The file's byte order must name every byte of a sample exactly once; libics would take
// each entry as a byte index.
bool byteOrderValid(const int* order, size_t bytes)
{
    bool seen[ICS_MAX_IMEL_SIZE] = {};
    for (size_t i = 0; i < bytes; ++i) {
        const int k = order[i];
        if (k < 1 || static_cast<size_t>(k) > bytes || seen[k - 1])
            return false;
        seen[k - 1] = true;
    }
    return true;
}

} // namespace

template <class T>
bool ICSImageReader<T>::Fail(std::string reason)
{
    Close();
    m_dims = Vector();
    m_error = std::move(reason);
    return false;
}

template <class T>
void ICSImageReader<T>::Open(const std::filesystem::path& path)
{
    Close();
    m_dims = Vector();
    m_error.clear();
    m_names.clear();
    m_data.reset();
    m_map = ValueMap();
    m_type = SampleType::UInt16;
    m_warned = false;
    m_nextplane = 0;
    m_endplane = SIZE_MAX;

    const std::string narrow = path.string();
    const std::string shortName = path.filename().string();
    {
        const IcsLocaleScope cLocale;
        if (IcsOpen(&m_ics, narrow.c_str(), "r") != IcsErr_Ok) {
            m_ics = nullptr;
            Fail(shortName + " is not a readable ICS header");
            return;
        }
    }

    Ics_DataType datatype = Ics_unknown;
    int ndims = 0;
    size_t dims[kMaxDims] = {};
    IcsGetLayout(m_ics, &datatype, &ndims, dims);
    const size_t imelsize = IcsGetImelSize(m_ics);

    if (!sampleType(datatype, m_type) || SampleBytes(m_type) != imelsize) {
        Fail(datatype == Ics_complex32 || datatype == Ics_complex64 ? "complex samples cannot be shown"
                                                                    : "the header's sample type is not supported");
        return;
    }
    if (ndims < 2 || ndims > kMaxDims) {
        Fail("the image has " + std::to_string(ndims) + " dimension(s); at least 2 are needed");
        return;
    }
    if (!byteOrderValid(m_ics->byteOrder, imelsize)) {
        Fail("the header's byte order is not a valid order of the sample's " + std::to_string(imelsize) + " bytes");
        return;
    }

    // Extents: each must fit the viewer's integer sizes, and their product must not overflow.
    size_t total = imelsize;
    for (int i = 0; i < ndims; ++i) {
        if (dims[i] == 0 || dims[i] > static_cast<size_t>(std::numeric_limits<int>::max())) {
            Fail("dimension " + std::to_string(i) + " has an unusable extent (" + std::to_string(dims[i]) + ")");
            return;
        }
        if (total > std::numeric_limits<size_t>::max() / dims[i]) {
            Fail("the header's extents multiply beyond any file size");
            return;
        }
        total *= dims[i];
    }
    m_planeSamples = dims[0] * dims[1];
    m_planeBytes = m_planeSamples * imelsize;
    m_planes = total / m_planeBytes;

    // Where the samples are: a version 1 header has them in the .ids file beside it; a version
    // 2 header names its source file, relative to the header's folder, and an offset.
    std::filesystem::path dataPath;
    std::error_code sameFile;
    if (m_ics->version >= 2 && m_ics->srcFile[0] && std::filesystem::equivalent(m_ics->srcFile, path, sameFile)) {
        // Header and data in one file: libics names the file as it was given to it.
        dataPath = path;
        m_offset = m_ics->srcOffset;
    } else if (m_ics->version >= 2 && m_ics->srcFile[0]) {
        dataPath = m_ics->srcFile;
        if (dataPath.is_relative()) {
            dataPath = path.parent_path() / dataPath;
            // libics opens the name as given, from the working folder; point it at the real file.
            const std::string resolved = dataPath.string();
            if (resolved.size() < sizeof m_ics->srcFile)
                std::memcpy(m_ics->srcFile, resolved.c_str(), resolved.size() + 1);
        }
        m_offset = m_ics->srcOffset;
    } else {
        dataPath = path;
        dataPath.replace_extension(path.extension() == ".ICS" ? ".IDS" : ".ids");
        m_offset = 0;
    }
    m_dataName = dataPath.filename().string();

    if (m_ics->compression == IcsCompr_uncompressed) {
        std::string why;
        m_data = MappedFile::Open(dataPath, why);
        if (!m_data) {
            Fail("the data file " + m_dataName + " cannot be read (" + why + ")");
            return;
        }
        const size_t have = m_data->Size() > m_offset ? m_data->Size() - m_offset : 0;
        if (have < total || total > std::numeric_limits<size_t>::max() - m_offset) {
            Fail(m_dataName + " holds " + groupDigits(have) + " bytes; the header needs " + groupDigits(total));
            return;
        }
    }
    if (m_ics->compression == IcsCompr_gzip) {
        // A file that cannot be opened here is left to libics, which says why it cannot either.
        std::string why;
        const size_t span = std::max({kAccessSpan, m_planeBytes, total / kMaxAccessPoints});
        m_gzip = GzipIndex::Open(dataPath, m_offset, span, why);
    }
    if (m_planeSamples > kMaxPlaneSamples) {
        Fail("a plane of " + std::to_string(dims[0]) + " x " + std::to_string(dims[1]) +
             " samples is larger than this viewer can show (at most " + groupDigits(kMaxPlaneSamples) + " samples)");
        return;
    }

    // File byte i has significance m_ics->byteOrder[i] (1 = least significant).
    m_native = true;
    for (size_t i = 0; i < imelsize; ++i) {
        const int significance = m_ics->byteOrder[i] - 1;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        m_order[i] = static_cast<unsigned char>(imelsize - 1 - significance);
#else
        m_order[i] = static_cast<unsigned char>(significance);
#endif
        m_native = m_native && m_order[i] == i;
    }

    m_path = narrow;
    for (int i = 0; i < ndims; ++i) {
        m_dims.push_back(static_cast<int>(dims[i]));
        char order[ICS_LINE_LENGTH] = {};
        char label[ICS_LINE_LENGTH] = {};
        IcsGetOrder(m_ics, i, order, label);
        m_names.emplace_back(order);
    }

    // Wider and float types: their value range, from a bounded sample of planes. A compressed
    // stream is sampled from its start only, so that opening never decompresses the file.
    size_t sampled = m_planes;
    if (!m_data)
        sampled = std::min(m_planes, std::max<size_t>(1, (size_t(64) << 20) / m_planeBytes));
    m_map = EstimateValueMap(m_type, sampled, m_planeSamples, [this](size_t k, void* buffer) { return ReadRaw(k, buffer); });
}

template <class T>
void ICSImageReader<T>::Close()
{
    if (m_ics) {
        const IcsLocaleScope cLocale;
        IcsClose(m_ics);
        m_ics = nullptr;
    }
    m_data.reset();
    m_gzip.reset();
}

template <class T>
void ICSImageReader<T>::WarnOnce(const std::string& text)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_warned)
            return;
        m_warned = true;
    }
    ReportDiagnostic(text);
}

template <class T>
bool ICSImageReader<T>::ReadRaw(size_t plane, void* dest)
{
    if (plane >= m_planes)
        return false;
    if (!m_data)
        return ReadStream(plane, dest);
    const size_t at = m_offset + plane * m_planeBytes;
    if (!m_data->StillHolds(at, m_planeBytes)) {
        WarnOnce(m_dataName + " has become shorter than its header says; planes it no longer holds are shown black.");
        return false;
    }
    const unsigned char* src = m_data->Data() + at;
    if (m_native) {
        std::memcpy(dest, src, m_planeBytes);
        return true;
    }
    const size_t bytes = SampleBytes(m_type);
    unsigned char* out = static_cast<unsigned char*>(dest);
    for (size_t s = 0; s < m_planeBytes; s += bytes)
        for (size_t i = 0; i < bytes; ++i)
            out[s + m_order[i]] = src[s + i];
    return true;
}

// gzip data starts at the nearest access point. Other compressed data can only be read in
// sequence: forward requests skip ahead, a request behind the stream position reopens the
// stream (the slice cache makes those rare).
template <class T>
bool ICSImageReader<T>::ReadStream(size_t plane, void* dest)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (plane >= m_endplane)
        return false;
    if (m_gzip) {
        if (m_gzip->Read(static_cast<std::uint64_t>(plane) * m_planeBytes, dest, m_planeBytes))
            return true;
        // Planes wholly before the place the stream failed stay readable.
        m_endplane = std::min<std::uint64_t>(plane, m_gzip->ReadableEnd() / m_planeBytes);
        const size_t from = m_endplane;
        lock.unlock();
        WarnOnce(m_dataName + ": the compressed data ends early or is damaged; planes from " + std::to_string(from) +
                 " on are missing and shown black.");
        return false;
    }
    if (!m_ics)
        return false;
    const IcsLocaleScope cLocale;
    if (plane < m_nextplane) {
        IcsClose(m_ics);
        m_ics = nullptr;
        if (IcsOpen(&m_ics, m_path.c_str(), "r") != IcsErr_Ok || !byteOrderValid(m_ics->byteOrder, SampleBytes(m_type))) {
            if (m_ics)
                IcsClose(m_ics);
            m_ics = nullptr;
            return false;
        }
        m_nextplane = 0;
    }
    bool ok = plane == m_nextplane || IcsSkipDataBlock(m_ics, (plane - m_nextplane) * m_planeBytes) == IcsErr_Ok;
    ok = ok && IcsGetDataBlock(m_ics, dest, m_planeBytes) == IcsErr_Ok;
    if (!ok) {
        // The stream ended early (or is damaged) before this plane: it and all after it are
        // missing; the planes before it stay readable.
        m_endplane = plane;
        m_nextplane = SIZE_MAX;
        lock.unlock();
        WarnOnce(m_dataName + ": the compressed data ends early; planes from " + std::to_string(plane) +
                 " on are missing and shown black.");
        return false;
    }
    m_nextplane = plane + 1;
    return true;
}

template <class T>
ImageSlice<T> ICSImageReader<T>::GetSlice(const Vector& p)
{
    const int n = static_cast<int>(m_dims.size());
    if (n < 2 || static_cast<int>(p.size()) != n - 2)
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
    const Vector size(m_dims[0], m_dims[1]);

    // Native 16-bit unsigned samples are the display values themselves: the slice borrows
    // them from the mapping, and only the pages a view touches are read. Samples that a
    // header's length leaves at an odd offset are copied instead of read in place.
    if (m_data && m_native && m_type == SampleType::UInt16 && m_map.IsExact() && m_map.offset == 0.0 &&
        Aligned(plane)) {
        const size_t at = m_offset + plane * m_planeBytes;
        if (!m_data->StillHolds(at, m_planeBytes)) {
            WarnOnce(m_dataName + " has become shorter than its header says; planes it no longer holds are shown black.");
            return ImageSlice<T>();
        }
        return ImageSlice<T>::Borrow(size, reinterpret_cast<const T*>(m_data->Data() + at), m_data);
    }

    T* result = static_cast<T*>(std::malloc(m_planeSamples * sizeof(T)));
    if (!result)
        return ImageSlice<T>();
    if (m_type == SampleType::UInt16) {
        if (!ReadRaw(plane, result)) {
            std::free(result);
            return ImageSlice<T>();
        }
        ConvertToDisplay(result, m_type, m_map, result, m_planeSamples);
        return ImageSlice<T>(size, result);
    }
    void* raw = nullptr;
    if (m_data && (m_native || SampleBytes(m_type) == 1) && Aligned(plane)) {
        const size_t at = m_offset + plane * m_planeBytes;
        if (m_data->StillHolds(at, m_planeBytes))
            ConvertToDisplay(m_data->Data() + at, m_type, m_map, result, m_planeSamples);
        else
            std::free(std::exchange(result, nullptr));
    } else if ((raw = std::malloc(m_planeBytes)) != nullptr && ReadRaw(plane, raw)) {
        ConvertToDisplay(raw, m_type, m_map, result, m_planeSamples);
    } else {
        std::free(std::exchange(result, nullptr));
    }
    std::free(raw);
    if (!result)
        WarnOnce(m_dataName + ": a plane could not be read; it is shown black.");
    return result ? ImageSlice<T>(size, result) : ImageSlice<T>();
}

template <class T>
bool ICSImageReader<T>::Aligned(size_t plane) const
{
    const auto address = reinterpret_cast<std::uintptr_t>(m_data->Data() + m_offset + plane * m_planeBytes);
    return address % SampleBytes(m_type) == 0;
}

template <class T>
std::optional<double> ICSImageReader<T>::GetValue(const Vector& position)
{
    if (m_map.IsExact() && !IsFloat(m_type))
        return ImageReaderBase<T>::GetValue(position);
    const int n = static_cast<int>(m_dims.size());
    if (n < 2 || static_cast<int>(position.size()) != n)
        return std::nullopt;
    size_t plane = 0, stride = 1;
    for (int i = 0; i < n; ++i)
        if (position[i] < 0 || position[i] >= m_dims[i])
            return std::nullopt;
    for (int i = 2; i < n; ++i) {
        plane += static_cast<size_t>(position[i]) * stride;
        stride *= static_cast<size_t>(m_dims[i]);
    }
    const size_t index = static_cast<size_t>(position[1]) * static_cast<size_t>(m_dims[0]) + static_cast<size_t>(position[0]);
    const size_t bytes = SampleBytes(m_type);
    alignas(8) unsigned char sample[8] = {};
    if (m_data) {
        const size_t at = m_offset + plane * m_planeBytes + index * bytes;
        if (!m_data->StillHolds(at, bytes))
            return std::nullopt;
        for (size_t i = 0; i < bytes; ++i)
            sample[m_order[i]] = m_data->Data()[at + i];
        return SampleValue(sample, m_type, 0);
    }
    std::unique_ptr<unsigned char, decltype(&std::free)> raw(static_cast<unsigned char*>(std::malloc(m_planeBytes)), &std::free);
    if (!raw || !ReadRaw(plane, raw.get()))
        return std::nullopt;
    return SampleValue(raw.get(), m_type, index);
}

template <class T>
std::string ICSImageReader<T>::GetDimName(unsigned int dim)
{
    return dim < m_names.size() ? m_names[dim] : std::string();
}

template <class T>
double ICSImageReader<T>::GetDimPixelSize(unsigned int dim)
{
    double origin = 0.0;
    double scale = 0.0;
    char units[ICS_LINE_LENGTH] = {};
    Ics_Error error = IcsErr_NotValidAction;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_ics)
            error = IcsGetPosition(m_ics, static_cast<int>(dim), &origin, &scale, units);
    }
    if (error != IcsErr_Ok) {
        ReportDiagnostic(std::to_string(dim) + " " + std::to_string(static_cast<int>(error)));
        return 1.0;
    }
    return scale * nanometresPer(units);
}

namespace {

// Names a channel or spectral dimension goes by in ICS headers.
bool isSpectralName(std::string name)
{
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const char* n : {"c", "ch", "channel", "channels", "l", "w", "wl", "s", "spectral", "spectrum"})
        if (name == n)
            return true;
    return name.rfind("lambda", 0) == 0 || name.rfind("wavelength", 0) == 0 || name.rfind("\xce\xbb", 0) == 0;
}

} // namespace

template <class T>
std::vector<double> ICSImageReader<T>::GetIndexWavelengths(unsigned int dim)
{
    std::vector<double> nm;
    if (dim < 2 || dim >= m_names.size() || !isSpectralName(m_names[dim]))
        return nm;
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_ics)
        return nm;
    double origin = 0.0, scale = 0.0;
    char units[ICS_LINE_LENGTH] = {};
    const int count = m_dims[static_cast<int>(dim)];
    const double factor = IcsGetPosition(m_ics, static_cast<int>(dim), &origin, &scale, units) == IcsErr_Ok
                              ? nanometresPer(units) : 0.0;
    if (factor > 0 && scale != 0) {
        for (int i = 0; i < count; ++i)
            nm.push_back((origin + i * scale) * factor);
    } else if (IcsGetSensorChannels(m_ics) == count) {
        for (int i = 0; i < count; ++i)
            nm.push_back(IcsGetSensorEmissionWavelength(m_ics, i));
    }
    const bool usable = std::all_of(nm.begin(), nm.end(), [](double w) { return std::isfinite(w) && w > 0; });
    return usable ? nm : std::vector<double>();
}

// ICS has no channel colours; the wavelengths it gives colour the channels instead, for a
// few channels (a spectrum is shown in true colour, not channel by channel).
template <class T>
int ICSImageReader<T>::GetChannelHintDim()
{
    for (unsigned d = 2; d < m_names.size(); ++d)
        if (isSpectralName(m_names[d]) && m_dims[static_cast<int>(d)] <= 16 && !GetIndexWavelengths(d).empty())
            return static_cast<int>(d);
    return -1;
}

template <class T>
std::vector<ChannelHint> ICSImageReader<T>::GetChannelHints()
{
    const int dim = GetChannelHintDim();
    std::vector<ChannelHint> hints;
    if (dim < 0)
        return hints;
    for (double w : GetIndexWavelengths(static_cast<unsigned>(dim))) {
        hints.emplace_back();
        hints.back().wavelength = w;
    }
    return hints;
}

template <class T>
double ICSImageReader<T>::GetDimInterval(unsigned int dim)
{
    double origin = 0.0;
    double scale = 0.0;
    char units[ICS_LINE_LENGTH] = {};
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_ics || dim >= m_dims.size() || IcsGetPosition(m_ics, static_cast<int>(dim), &origin, &scale, units) != IcsErr_Ok)
        return 0.0;
    const double seconds = scale * SecondsPerUnit(units);
    return seconds > 0 && std::isfinite(seconds) ? seconds : 0.0;
}

template <class T>
std::string ICSImageReader<T>::GetFormatName()
{
    std::string name = "ICS, " + SampleTypeName(m_type);
    if (!m_data)
        name += ", compressed";
    return name;
}

template class ICSImageReader<unsigned short>;

} // namespace ImageReader
