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
#include "MemoryBudget.h"
#include "ReaderOptions.h"

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

// A header without a byte order line means the writer's own order, which libics takes to be
// the reading machine's: the entries it leaves at 0 become the native order.
void fillMissingByteOrder(int* order, size_t bytes)
{
    for (size_t i = 0; i < bytes; ++i)
        if (order[i] != 0)
            return;
    for (size_t i = 0; i < bytes; ++i) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        order[i] = static_cast<int>(bytes - i);
#else
        order[i] = static_cast<int>(i + 1);
#endif
    }
}

// True when `data` is the header itself or lies in the header's folder or below it, after
// symbolic links and "..": a header must not draw arbitrary files of the machine.
bool insideFolderOf(const std::filesystem::path& header, const std::filesystem::path& data)
{
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::weakly_canonical(std::filesystem::absolute(header, ec).parent_path(), ec);
    if (ec)
        return false;
    const std::filesystem::path target = std::filesystem::weakly_canonical(std::filesystem::absolute(data, ec), ec);
    if (ec)
        return false;
    auto f = folder.begin(), t = target.begin();
    for (; f != folder.end(); ++f, ++t)
        if (t == target.end() || *f != *t)
            return false;
    return true;
}

// Raw samples are converted to display values through a buffer of this size at most.
constexpr size_t kConvertPiece = size_t(4) << 20;

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
    m_next = 0;
    m_end = UINT64_MAX;

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
    fillMissingByteOrder(m_ics->byteOrder, imelsize);
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
    if (!AllowOutsideData() && !insideFolderOf(path, dataPath)) {
        Fail("the header names a data file outside its own folder (" + dataPath.string() +
             "); such files are read only when allowed (--allow-outside-data or LUMORA_ALLOW_OUTSIDE_DATA=1)");
        return;
    }

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
    std::string why;
    if (!MayAllocate(m_planeSamples * sizeof(T), "a plane of this image", &why)) {
        Fail(why);
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
    constexpr std::uint64_t kStreamSample = std::uint64_t(64) << 20;
    size_t sampled = m_planes;
    if (!m_data)
        sampled = std::min(m_planes, std::max<size_t>(1, kStreamSample / m_planeBytes));
    const size_t bytes = imelsize;
    m_map = EstimateValueMap(m_type, sampled, m_planeSamples, [this, bytes](size_t k, size_t first, size_t n, void* buffer) {
        const std::uint64_t end = static_cast<std::uint64_t>(k) * m_planeBytes + (first + n) * bytes;
        return (m_data || end <= kStreamSample) && ReadRaw(k, first * bytes, n * bytes, buffer);
    });
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
bool ICSImageReader<T>::ReadRaw(size_t plane, size_t offset, size_t bytes, void* dest)
{
    if (plane >= m_planes || offset > m_planeBytes || bytes > m_planeBytes - offset)
        return false;
    if (!m_data)
        return ReadStream(static_cast<std::uint64_t>(plane) * m_planeBytes + offset, bytes, dest);
    const size_t at = m_offset + plane * m_planeBytes + offset;
    const auto gone = [this] {
        WarnOnce(m_dataName + " has become shorter than its header says; planes it no longer holds are shown black.");
        return false;
    };
    if (!m_data->StillHolds(at, bytes))
        return gone();
    const unsigned char* src = m_data->Data() + at;
    if (m_native) {
        std::memcpy(dest, src, bytes);
    } else {
        const size_t sample = SampleBytes(m_type);
        unsigned char* out = static_cast<unsigned char*>(dest);
        for (size_t s = 0; s < bytes; s += sample)
            for (size_t i = 0; i < sample; ++i)
                out[s + m_order[i]] = src[s + i];
    }
    // Cut while it was copied: the copy holds zeros where the data went.
    return m_data->StillHolds(at, bytes) || gone();
}

// gzip data starts at the nearest access point. Other compressed data can only be read in
// sequence: forward requests skip ahead, a request behind the stream position reopens the
// stream (the slice cache makes those rare).
template <class T>
bool ICSImageReader<T>::ReadStream(std::uint64_t at, size_t bytes, void* dest)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (at + bytes > m_end)
        return false;
    if (m_gzip) {
        if (m_gzip->Read(at, dest, bytes))
            return true;
        // Planes wholly before the place the stream failed stay readable.
        m_end = std::min<std::uint64_t>(at, m_gzip->ReadableEnd() / m_planeBytes * m_planeBytes);
        const std::uint64_t from = m_end / m_planeBytes;
        lock.unlock();
        WarnOnce(m_dataName + ": the compressed data ends early or is damaged; planes from " + std::to_string(from) +
                 " on are missing and shown black.");
        return false;
    }
    if (!m_ics)
        return false;
    const IcsLocaleScope cLocale;
    if (at < m_next) {
        IcsClose(m_ics);
        m_ics = nullptr;
        bool ok = IcsOpen(&m_ics, m_path.c_str(), "r") == IcsErr_Ok;
        if (ok)
            fillMissingByteOrder(m_ics->byteOrder, SampleBytes(m_type));
        if (!ok || !byteOrderValid(m_ics->byteOrder, SampleBytes(m_type))) {
            if (m_ics)
                IcsClose(m_ics);
            m_ics = nullptr;
            return false;
        }
        m_next = 0;
    }
    bool ok = at == m_next || IcsSkipDataBlock(m_ics, static_cast<size_t>(at - m_next)) == IcsErr_Ok;
    ok = ok && IcsGetDataBlock(m_ics, dest, bytes) == IcsErr_Ok;
    if (!ok) {
        // The stream ended early (or is damaged) before this plane: it and all after it are
        // missing; the planes before it stay readable.
        const std::uint64_t plane = at / m_planeBytes;
        m_end = plane * m_planeBytes;
        m_next = UINT64_MAX;
        lock.unlock();
        WarnOnce(m_dataName + ": the compressed data ends early; planes from " + std::to_string(plane) +
                 " on are missing and shown black.");
        return false;
    }
    m_next = at + bytes;
    return true;
}

template <class T>
bool ICSImageReader<T>::PlaneIndex(const Vector& p, size_t& plane) const
{
    const int n = static_cast<int>(m_dims.size());
    if (n < 2 || static_cast<int>(p.size()) != n - 2)
        return false;
    // Planes of dimensions 0 and 1 are contiguous in the data, numbered with dimension 2
    // fastest.
    plane = 0;
    size_t stride = 1;
    for (int i = 2; i < n; ++i) {
        if (p[i - 2] < 0 || p[i - 2] >= m_dims[i])
            return false;
        plane += static_cast<size_t>(p[i - 2]) * stride;
        stride *= static_cast<size_t>(m_dims[i]);
    }
    return true;
}

template <class T>
bool ICSImageReader<T>::Lends(size_t plane) const
{
    // Native 16-bit unsigned samples are the display values themselves. Samples that a
    // header's length leaves at an odd offset are copied instead of read in place.
    return m_data && m_native && m_type == SampleType::UInt16 && m_map.IsExact() && m_map.offset == 0.0 &&
           Aligned(plane);
}

template <class T>
ImageSlice<T> ICSImageReader<T>::GetBandSource(const Vector& p, bool rows, int a0, int a1)
{
    size_t plane = 0;
    if (!m_data || !PlaneIndex(p, plane))
        return GetSlice(p);
    if (Lends(plane)) {
        // A column touches every page of the plane: they are mapped in one go.
        if (!rows)
            m_data->Populate(m_offset + plane * m_planeBytes, m_planeBytes);
        return GetSlice(p);
    }
    return rows ? ReadBand(plane, 0, m_dims[0], a0, a1) : ReadBand(plane, a0, a1, 0, m_dims[1]);
}

template <class T>
ImageSlice<T> ICSImageReader<T>::GetRows(const Vector& p, int y0, int y1)
{
    size_t plane = 0;
    if (!m_data || !PlaneIndex(p, plane) || Lends(plane))
        return ImageReaderBase<T>::GetRows(p, y0, y1);
    return ReadBand(plane, 0, m_dims[0], y0, y1);
}

template <class T>
ImageSlice<T> ICSImageReader<T>::GetColumns(const Vector& p, int x0, int x1)
{
    size_t plane = 0;
    if (!m_data || !PlaneIndex(p, plane) || Lends(plane))
        return ImageReaderBase<T>::GetColumns(p, x0, x1);
    return ReadBand(plane, x0, x1, 0, m_dims[1]);
}

template <class T>
ImageSlice<T> ICSImageReader<T>::ReadBand(size_t plane, int x0, int x1, int y0, int y1)
{
    if (x0 < 0 || x1 <= x0 || x1 > m_dims[0] || y0 < 0 || y1 <= y0 || y1 > m_dims[1])
        return ImageSlice<T>();
    const size_t W = static_cast<size_t>(m_dims[0]), w = static_cast<size_t>(x1 - x0);
    const size_t sample = SampleBytes(m_type);
    const size_t at = m_offset + plane * m_planeBytes;
    const auto gone = [this] {
        WarnOnce(m_dataName + " has become shorter than its header says; planes it no longer holds are shown black.");
        return ImageSlice<T>();
    };
    if (!m_data->StillHolds(at, m_planeBytes))
        return gone();
    T* out = static_cast<T*>(std::malloc(w * static_cast<size_t>(y1 - y0) * sizeof(T)));
    if (!out)
        return ImageSlice<T>();
    // Samples in place where their bytes are in native order and aligned; otherwise each
    // row's bytes are put in order first.
    const bool inPlace = (m_native || sample == 1) && Aligned(plane);
    std::vector<unsigned char> ordered(inPlace ? 0 : w * sample);
    for (int y = y0; y < y1; ++y) {
        const unsigned char* src = m_data->Data() + at + (static_cast<size_t>(y) * W + static_cast<size_t>(x0)) * sample;
        T* row = out + static_cast<size_t>(y - y0) * w;
        if (!inPlace) {
            for (size_t s = 0; s < w * sample; s += sample)
                for (size_t i = 0; i < sample; ++i)
                    ordered[s + m_order[i]] = src[s + i];
            src = ordered.data();
        }
        ConvertToDisplay(src, m_type, m_map, row, w);
    }
    // Cut while it was read: the zeros read in place of the data are not the band.
    if (!m_data->StillHolds(at, m_planeBytes)) {
        std::free(out);
        return gone();
    }
    return ImageSlice<T>(Vector(x1 - x0, y1 - y0), out);
}

template <class T>
ImageSlice<T> ICSImageReader<T>::GetSlice(const Vector& p)
{
    size_t plane = 0;
    if (!PlaneIndex(p, plane))
        return ImageSlice<T>();
    const Vector size(m_dims[0], m_dims[1]);

    // Lent planes: the slice borrows them from the mapping, and only the pages a view
    // touches are read.
    if (Lends(plane)) {
        const size_t at = m_offset + plane * m_planeBytes;
        if (!m_data->StillHolds(at, m_planeBytes)) {
            WarnOnce(m_dataName + " has become shorter than its header says; planes it no longer holds are shown black.");
            return ImageSlice<T>();
        }
        return ImageSlice<T>::Borrow(size, reinterpret_cast<const T*>(m_data->Data() + at), m_data);
    }

    std::string why;
    if (!MayAllocate(m_planeSamples * sizeof(T), "a plane", &why)) {
        WarnOnce(m_dataName + ": " + why + "; it is shown black.");
        return ImageSlice<T>();
    }
    T* result = static_cast<T*>(std::malloc(m_planeSamples * sizeof(T)));
    if (!result)
        return ImageSlice<T>();
    bool ok = true;
    if (m_type == SampleType::UInt16) {
        ok = ReadRaw(plane, 0, m_planeBytes, result);
        if (ok)
            ConvertToDisplay(result, m_type, m_map, result, m_planeSamples);
    } else if (m_data && (m_native || SampleBytes(m_type) == 1) && Aligned(plane)) {
        const size_t at = m_offset + plane * m_planeBytes;
        ok = m_data->StillHolds(at, m_planeBytes);
        if (ok)
            ConvertToDisplay(m_data->Data() + at, m_type, m_map, result, m_planeSamples);
        // Cut while it was read: the zeros read in place of the data are not the plane.
        ok = ok && m_data->StillHolds(at, m_planeBytes);
    } else {
        // Through a bounded buffer: a plane of wide samples never needs a second full copy.
        const size_t sample = SampleBytes(m_type);
        const size_t piece = std::min(m_planeSamples, kConvertPiece / sample);
        std::unique_ptr<unsigned char, decltype(&std::free)> raw(static_cast<unsigned char*>(std::malloc(piece * sample)), &std::free);
        ok = raw != nullptr;
        for (size_t first = 0; ok && first < m_planeSamples; first += piece) {
            const size_t n = std::min(piece, m_planeSamples - first);
            ok = ReadRaw(plane, first * sample, n * sample, raw.get());
            if (ok)
                ConvertToDisplay(raw.get(), m_type, m_map, result + first, n);
        }
    }
    if (!ok) {
        std::free(result);
        WarnOnce(m_dataName + ": a plane could not be read; it is shown black.");
        return ImageSlice<T>();
    }
    return ImageSlice<T>(size, result);
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
    if (!ReadRaw(plane, index * bytes, bytes, sample))
        return std::nullopt;
    return SampleValue(sample, m_type, 0);
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
