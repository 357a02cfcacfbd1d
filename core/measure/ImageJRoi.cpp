#include "ImageJRoi.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <set>

#include <zip.h>

namespace Measure {

namespace {

// The selection record: a 64-byte big-endian header, coordinates, then a second 64-byte
// header with the hyperstack position and the name (UTF-16BE) after it.
enum Offset {
    Version = 4, Type = 6, Top = 8, Left = 10, Bottom = 12, Right = 14, NCoordinates = 16,
    X1 = 18, Y1 = 22, X2 = 26, Y2 = 30, Size = 18, ShapeRoiSize = 36, StrokeColor = 40, Subtype = 48,
    Options = 50, Position = 56, Header2Offset = 60, Coordinates = 64,
};
enum Header2 { CPosition = 4, ZPosition = 8, TPosition = 12, NameOffset = 16, NameLength = 20, Header2Size = 64 };
enum RoiType { Polygon = 0, Rect = 1, Oval = 2, Line = 3, FreeLine = 4, PolyLine = 5, NoRoi = 6, Freehand = 7,
               Traced = 8, Angle = 9, PointType = 10 };
constexpr int subPixelResolution = 128;
constexpr int version = 228;
// The entries of a ROI set are small; a larger one is a damaged or hostile archive.
constexpr zip_uint64_t maxEntryBytes = 64u << 20;
constexpr zip_int64_t maxEntries = 100000;

// ImageJ puts integer line and point coordinates on pixel centres.
constexpr double centreShift = 0.5;

bool Fail(std::string* error, const std::string& why)
{
    if (error)
        *error = why;
    return false;
}

class Reader
{
public:
    Reader(const std::uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Has(size_t at, size_t n) const { return at <= m_size && n <= m_size - at; }
    int U8(size_t at) const { return Has(at, 1) ? m_data[at] : 0; }
    int U16(size_t at) const { return Has(at, 2) ? m_data[at] << 8 | m_data[at + 1] : 0; }
    int S16(size_t at) const { return static_cast<std::int16_t>(static_cast<std::uint16_t>(U16(at))); }
    std::uint32_t U32(size_t at) const
    {
        return Has(at, 4) ? std::uint32_t(m_data[at]) << 24 | std::uint32_t(m_data[at + 1]) << 16 |
                                std::uint32_t(m_data[at + 2]) << 8 | m_data[at + 3]
                          : 0;
    }
    int S32(size_t at) const { return static_cast<std::int32_t>(U32(at)); }
    float F32(size_t at) const
    {
        const std::uint32_t bits = U32(at);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }

private:
    const std::uint8_t* m_data;
    size_t m_size;
};

class Writer
{
public:
    explicit Writer(size_t size) : bytes(size, 0) {}
    void U8(size_t at, int v) { bytes[at] = static_cast<std::uint8_t>(v); }
    void U16(size_t at, int v)
    {
        bytes[at] = static_cast<std::uint8_t>(v >> 8);
        bytes[at + 1] = static_cast<std::uint8_t>(v);
    }
    void U32(size_t at, std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes[at + static_cast<size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    }
    void F32(size_t at, double v)
    {
        const float f = static_cast<float>(v);
        std::uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        U32(at, bits);
    }
    std::vector<std::uint8_t> bytes;
};

int ClampShort(double v)
{
    return static_cast<int>(std::clamp(std::floor(v), -32768.0, 32767.0));
}

// UTF-8 to UTF-16 code units and back; malformed bytes become U+FFFD.
std::vector<std::uint16_t> ToUtf16(const std::string& s)
{
    std::vector<std::uint16_t> out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = 0xfffd;
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) {
            ++i;
            out.push_back(0xfffd);
            continue;
        }
        cp = n == 1 ? c : c & (0x7f >> n);
        bool ok = true;
        for (size_t k = 1; k < n; ++k) {
            const unsigned char d = static_cast<unsigned char>(s[i + k]);
            ok = ok && (d >> 6) == 2;
            cp = cp << 6 | (d & 0x3f);
        }
        i += ok ? n : 1;
        if (!ok || cp > 0x10ffff || (cp >= 0xd800 && cp < 0xe000))
            cp = 0xfffd;
        if (cp >= 0x10000) {
            out.push_back(static_cast<std::uint16_t>(0xd800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<std::uint16_t>(0xdc00 + ((cp - 0x10000) & 0x3ff)));
        } else {
            out.push_back(static_cast<std::uint16_t>(cp));
        }
    }
    return out;
}

std::string FromUtf16(const std::vector<std::uint16_t>& units)
{
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        std::uint32_t cp = units[i];
        if (cp >= 0xd800 && cp < 0xdc00 && i + 1 < units.size() && units[i + 1] >= 0xdc00 && units[i + 1] < 0xe000)
            cp = 0x10000 + ((cp - 0xd800) << 10) + (units[++i] - 0xdc00);
        else if (cp >= 0xd800 && cp < 0xe000)
            cp = 0xfffd;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xc0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3f));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xe0 | cp >> 12);
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (cp & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | cp >> 18);
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (cp & 0x3f));
        }
    }
    return out;
}

int RoiType(RegionKind kind)
{
    switch (kind) {
    case RegionKind::Point: return PointType;
    case RegionKind::Line: return Line;
    case RegionKind::Polyline: return PolyLine;
    case RegionKind::Rectangle: return Rect;
    case RegionKind::Ellipse: return Oval;
    case RegionKind::Polygon: return Polygon;
    case RegionKind::Freehand: return Freehand;
    }
    return Polygon;
}

bool IsWhole(double v)
{
    return v == std::floor(v) && v >= -32768 && v <= 32767;
}

} // namespace

ImageJAxes ImageJAxes::FromNames(const std::vector<std::string>& dimNames)
{
    ImageJAxes axes;
    for (size_t d = 2; d < dimNames.size(); ++d) {
        std::string n = dimNames[d];
        for (char& c : n)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        int* slot = n == "c" || n == "ch" || n == "channel" ? &axes.c
                    : n == "z"                              ? &axes.z
                    : n == "t" || n == "time"               ? &axes.t
                                                            : nullptr;
        if (slot && *slot < 0)
            *slot = static_cast<int>(d);
    }
    return axes;
}

std::vector<std::uint8_t> EncodeImageJRoi(const Region& region, const ImageJAxes& axes)
{
    Region shifted = region;
    if (region.kind == RegionKind::Line || region.kind == RegionKind::Polyline || region.kind == RegionKind::Point)
        for (PointF& p : shifted.points) {
            p.x -= centreShift;
            p.y -= centreShift;
        }
    const std::vector<PointF>& pts = shifted.points;
    double x0, y0, x1, y1;
    shifted.Bounds(x0, y0, x1, y1);
    const int type = RoiType(region.kind);
    const bool polygonal = type != Rect && type != Oval && type != Line;
    const int left = ClampShort(x0), top = ClampShort(y0);
    // Whole coordinates whose offsets from the corner fit the record's shorts go as shorts
    // alone; anything else also as floats.
    bool whole = true;
    for (const PointF& p : pts)
        whole = whole && IsWhole(p.x) && IsWhole(p.y) && p.x - left <= 32767 && p.y - top <= 32767;
    const size_t n = polygonal ? pts.size() : 0;
    const bool subPixel = !whole;
    const size_t coordinateBytes = n * 4 + (polygonal && subPixel ? n * 8 : 0);
    const std::vector<std::uint16_t> name = ToUtf16(region.name);
    const size_t header2 = Coordinates + coordinateBytes;
    Writer w(header2 + Header2Size + name.size() * 2);

    std::memcpy(w.bytes.data(), "Iout", 4);
    w.U16(Version, version);
    w.U8(Type, type);
    w.U16(Top, top);
    w.U16(Left, left);
    w.U16(Bottom, ClampShort(std::ceil(y1)));
    w.U16(Right, ClampShort(std::ceil(x1)));
    if (polygonal) {
        if (n <= 65535) {
            w.U16(NCoordinates, static_cast<int>(n));
        } else {
            w.U32(Size, static_cast<std::uint32_t>(n));
        }
        for (size_t i = 0; i < n; ++i) {
            w.U16(Coordinates + 2 * i, ClampShort(pts[i].x) - left);
            w.U16(Coordinates + 2 * n + 2 * i, ClampShort(pts[i].y) - top);
            if (subPixel) {
                w.F32(Coordinates + 4 * n + 4 * i, pts[i].x);
                w.F32(Coordinates + 8 * n + 4 * i, pts[i].y);
            }
        }
    } else if (type == Line) {
        w.F32(X1, pts[0].x);
        w.F32(Y1, pts[0].y);
        w.F32(X2, pts[1].x);
        w.F32(Y2, pts[1].y);
    } else if (subPixel) {
        w.F32(X1, x0);
        w.F32(Y1, y0);
        w.F32(X2, x1 - x0);
        w.F32(Y2, y1 - y0);
    }
    w.U16(Options, subPixel && type != Line ? subPixelResolution : 0);
    w.U32(StrokeColor, region.color);
    w.U32(Header2Offset, static_cast<std::uint32_t>(header2));
    const auto pin = [&](int dim) { return dim >= 2 && region.PositionOf(dim) != Region::All ? region.PositionOf(dim) + 1 : 0; };
    const int c = pin(axes.c), z = pin(axes.z), t = pin(axes.t);
    w.U32(header2 + CPosition, static_cast<std::uint32_t>(c));
    w.U32(header2 + ZPosition, static_cast<std::uint32_t>(z));
    w.U32(header2 + TPosition, static_cast<std::uint32_t>(t));
    // A plain stack (one dimension besides x and y) reads the single position field.
    if ((c > 0) + (z > 0) + (t > 0) == 1)
        w.U32(Position, static_cast<std::uint32_t>(c + z + t));
    if (!name.empty()) {
        w.U32(header2 + NameOffset, static_cast<std::uint32_t>(header2 + Header2Size));
        w.U32(header2 + NameLength, static_cast<std::uint32_t>(name.size()));
        for (size_t i = 0; i < name.size(); ++i)
            w.U16(header2 + Header2Size + 2 * i, name[i]);
    }
    return w.bytes;
}

std::optional<Region> DecodeImageJRoi(const std::uint8_t* data, size_t size, const ImageJAxes& axes, std::string* error)
{
    const Reader r(data, size);
    if (!data || size < Coordinates || std::memcmp(data, "Iout", 4) != 0) {
        Fail(error, "not an ImageJ selection");
        return std::nullopt;
    }
    const int ver = r.U16(Version), type = r.U8(Type), options = r.U16(Options);
    const int top = r.S16(Top), left = r.S16(Left), bottom = r.S16(Bottom), right = r.S16(Right);
    const bool subPixel = ver >= 222 && (options & subPixelResolution);
    Region region;
    if (r.S32(ShapeRoiSize) > 0) {
        Fail(error, "composite selections are not supported");
        return std::nullopt;
    }
    switch (type) {
    case Rect:
    case Oval: {
        region.kind = type == Rect ? RegionKind::Rectangle : RegionKind::Ellipse;
        if (subPixel && ver >= 223) {
            const double x = r.F32(X1), y = r.F32(Y1), w = r.F32(X2), h = r.F32(Y2);
            region.points = {{x, y}, {x + w, y + h}};
        } else {
            region.points = {{double(left), double(top)}, {double(right), double(bottom)}};
        }
        break;
    }
    case Line:
        region.kind = RegionKind::Line;
        region.points = {{r.F32(X1) + centreShift, r.F32(Y1) + centreShift},
                         {r.F32(X2) + centreShift, r.F32(Y2) + centreShift}};
        break;
    case Polygon:
    case FreeLine:
    case PolyLine:
    case Freehand:
    case Traced:
    case Angle:
    case PointType: {
        size_t n = static_cast<size_t>(r.U16(NCoordinates));
        if (n == 0 && ver >= 227)
            n = r.U32(Size);
        const size_t need = n * (subPixel ? 12 : 4);
        if (n == 0 || n > size || !r.Has(Coordinates, need)) {
            Fail(error, "the selection's coordinates are cut off");
            return std::nullopt;
        }
        region.points.resize(n);
        for (size_t i = 0; i < n; ++i) {
            if (subPixel)
                region.points[i] = {r.F32(Coordinates + 4 * n + 4 * i), r.F32(Coordinates + 8 * n + 4 * i)};
            else
                region.points[i] = {double(left + r.S16(Coordinates + 2 * i)),
                                    double(top + r.S16(Coordinates + 2 * n + 2 * i))};
        }
        const bool line = type == FreeLine || type == PolyLine || type == Angle;
        region.kind = type == Polygon ? RegionKind::Polygon
                      : line          ? RegionKind::Polyline
                      : type == PointType ? RegionKind::Point
                                          : RegionKind::Freehand;
        if (line || type == PointType)
            for (PointF& p : region.points) {
                p.x += centreShift;
                p.y += centreShift;
            }
        break;
    }
    default:
        Fail(error, "unknown selection type " + std::to_string(type));
        return std::nullopt;
    }
    if (const std::uint32_t color = r.U32(StrokeColor); color != 0)
        region.color = color;

    const size_t h2 = r.U32(Header2Offset);
    int c = 0, z = 0, t = 0;
    if (ver >= 218 && h2 >= Coordinates && r.Has(h2, Header2Size)) {
        c = r.S32(h2 + CPosition);
        z = r.S32(h2 + ZPosition);
        t = r.S32(h2 + TPosition);
        const size_t nameAt = r.U32(h2 + NameOffset), nameLength = r.U32(h2 + NameLength);
        if (nameAt > 0 && nameLength > 0 && nameLength <= size && r.Has(nameAt, nameLength * 2)) {
            std::vector<std::uint16_t> units(nameLength);
            for (size_t i = 0; i < nameLength; ++i)
                units[i] = static_cast<std::uint16_t>(r.U16(nameAt + 2 * i));
            region.name = FromUtf16(units);
        }
    }
    // A plain stack's selections carry one position: its slice.
    if (c <= 0 && z <= 0 && t <= 0)
        (axes.z >= 0 ? z : axes.t >= 0 ? t : c) = r.S32(Position);
    const auto pin = [&](int dim, int index) {
        if (dim >= 2 && index > 0)
            region.SetPosition(dim, index - 1);
    };
    pin(axes.c, c);
    pin(axes.z, z);
    pin(axes.t, t);
    if (!region.IsValid()) {
        Fail(error, "the selection's coordinates are not usable");
        return std::nullopt;
    }
    return region;
}

bool WriteRoiSet(const std::filesystem::path& path, const std::vector<Region>& regions, const ImageJAxes& axes,
                 std::string* error)
{
    int code = 0;
    zip_t* archive = zip_open(path.string().c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!archive)
        return Fail(error, "cannot write " + path.string());
    // libzip reads the buffers when the archive closes.
    std::vector<std::vector<std::uint8_t>> buffers;
    buffers.reserve(regions.size());
    std::set<std::string> used;
    for (size_t i = 0; i < regions.size(); ++i) {
        char number[32];
        std::snprintf(number, sizeof number, "%04zu", i + 1);
        std::string base = regions[i].name.empty() ? number : regions[i].name;
        for (char& ch : base)
            if (ch == '/' || ch == '\\')
                ch = '_';
        std::string entry = base + ".roi";
        for (int k = 2; used.count(entry); ++k)
            entry = base + "-" + std::to_string(k) + ".roi";
        used.insert(entry);
        buffers.push_back(EncodeImageJRoi(regions[i], axes));
        zip_source_t* source = zip_source_buffer(archive, buffers.back().data(), buffers.back().size(), 0);
        if (!source || zip_file_add(archive, entry.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
            if (source)
                zip_source_free(source);
            zip_discard(archive);
            return Fail(error, "cannot add " + entry + " to " + path.string());
        }
    }
    if (zip_close(archive) < 0) {
        const std::string why = zip_strerror(archive);
        zip_discard(archive);
        return Fail(error, "cannot write " + path.string() + ": " + why);
    }
    return true;
}

namespace {

std::optional<std::vector<Region>> ReadArchive(zip_t* archive, const ImageJAxes& axes, std::string* error)
{
    std::vector<Region> regions;
    const zip_int64_t entries = zip_get_num_entries(archive, 0);
    if (entries < 0 || entries > maxEntries) {
        Fail(error, "too many entries in the ROI set");
        return std::nullopt;
    }
    for (zip_int64_t i = 0; i < entries; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &st) < 0 || !(st.valid & ZIP_STAT_NAME))
            continue;
        const std::string entry = st.name;
        if (entry.size() < 4 || entry.compare(entry.size() - 4, 4, ".roi") != 0)
            continue;
        if (!(st.valid & ZIP_STAT_SIZE) || st.size > maxEntryBytes) {
            Fail(error, entry + " is too large for a selection");
            return std::nullopt;
        }
        std::vector<std::uint8_t> bytes(static_cast<size_t>(st.size));
        zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
        const zip_int64_t got = file ? zip_fread(file, bytes.data(), bytes.size()) : -1;
        if (file)
            zip_fclose(file);
        if (got != static_cast<zip_int64_t>(bytes.size())) {
            Fail(error, "cannot read " + entry);
            return std::nullopt;
        }
        std::string why;
        std::optional<Region> region = DecodeImageJRoi(bytes.data(), bytes.size(), axes, &why);
        if (!region) {
            Fail(error, entry + ": " + why);
            return std::nullopt;
        }
        if (region->name.empty()) {
            const size_t slash = entry.find_last_of('/');
            region->name = entry.substr(slash == std::string::npos ? 0 : slash + 1);
            region->name.resize(region->name.size() - 4);
        }
        regions.push_back(std::move(*region));
    }
    return regions;
}

} // namespace

std::optional<std::vector<Region>> ReadRoiSet(const std::uint8_t* data, size_t size, const ImageJAxes& axes,
                                              std::string* error)
{
    zip_error_t ze;
    zip_error_init(&ze);
    zip_source_t* source = zip_source_buffer_create(data, size, 0, &ze);
    zip_t* archive = source ? zip_open_from_source(source, ZIP_RDONLY, &ze) : nullptr;
    zip_error_fini(&ze);
    if (!archive) {
        if (source)
            zip_source_free(source);
        Fail(error, "not a zip archive");
        return std::nullopt;
    }
    std::optional<std::vector<Region>> regions = ReadArchive(archive, axes, error);
    zip_discard(archive); // also frees the source
    return regions;
}

std::optional<std::vector<Region>> ReadRoiSet(const std::filesystem::path& path, const ImageJAxes& axes,
                                              std::string* error)
{
    int code = 0;
    zip_t* archive = zip_open(path.string().c_str(), ZIP_RDONLY, &code);
    if (!archive) {
        Fail(error, "cannot open " + path.string() + " as a zip archive");
        return std::nullopt;
    }
    std::optional<std::vector<Region>> regions = ReadArchive(archive, axes, error);
    zip_discard(archive);
    return regions;
}

} // namespace Measure
