#include "TiffDescription.h"

#include "TimeUnit.h"

#include <expat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <sstream>

namespace ImageReader {

namespace {

// A whole-text decimal number; false for text that is not one (or not finite).
bool toDouble(const std::string& text, double& value)
{
    if (text.empty())
        return false;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || errno == ERANGE || !(v == v))
        return false;
    value = v;
    return true;
}

bool toInteger(const std::string& text, long long& value)
{
    if (text.empty())
        return false;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(begin, &end, 10);
    if (end == begin || *end != '\0' || errno == ERANGE)
        return false;
    value = v;
    return true;
}

// The element or attribute name without its namespace (the parser joins them with '|').
const char* localName(const char* name)
{
    const char* bar = std::strrchr(name, '|');
    return bar ? bar + 1 : name;
}

struct OmeParser
{
    OmeDescription* out;
    int imageDepth = 0; // depth inside the first Image element; 0 outside
    int depth = 0;
    bool seenImage = false;
    bool inPixels = false;
    bool seenPixels = false;
    OmeDescription::TiffData* tiffData = nullptr;
    int tiffDataDepth = 0;
    std::string unitX = "µm", unitY = "µm", unitZ = "µm";
    double sizeX = 0, sizeY = 0, sizeZ = 0;
    bool firstChannel = true;
    double timeIncrement = 0.0;
    std::string timeIncrementUnit = "s";
    // DeltaT (seconds) of the planes at z 0, channel 0, by time point.
    std::map<long long, double> deltaT{};

    static std::string attribute(const char** attrs, const char* name, bool& found)
    {
        found = false;
        for (int i = 0; attrs[i]; i += 2)
            if (std::strcmp(localName(attrs[i]), name) == 0) {
                found = true;
                return attrs[i + 1];
            }
        return std::string();
    }
    static std::string attribute(const char** attrs, const char* name)
    {
        bool found;
        return attribute(attrs, name, found);
    }
    static void integer(const char** attrs, const char* name, long long& value)
    {
        long long v;
        if (toInteger(attribute(attrs, name), v))
            value = v;
    }

    void start(const char* qname, const char** attrs)
    {
        ++depth;
        const char* name = localName(qname);
        if (!seenImage && std::strcmp(name, "Image") == 0) {
            seenImage = true;
            imageDepth = depth;
            return;
        }
        if (imageDepth == 0)
            return;
        if (!seenPixels && std::strcmp(name, "Pixels") == 0) {
            seenPixels = inPixels = true;
            bool found = false;
            const std::string order = attribute(attrs, "DimensionOrder", found);
            if (found)
                out->dimensionOrder = order;
            integer(attrs, "SizeX", out->sizeX);
            integer(attrs, "SizeY", out->sizeY);
            integer(attrs, "SizeZ", out->sizeZ);
            integer(attrs, "SizeC", out->sizeC);
            integer(attrs, "SizeT", out->sizeT);
            toDouble(attribute(attrs, "PhysicalSizeX"), sizeX);
            toDouble(attribute(attrs, "PhysicalSizeY"), sizeY);
            toDouble(attribute(attrs, "PhysicalSizeZ"), sizeZ);
            std::string unit = attribute(attrs, "PhysicalSizeXUnit", found);
            if (found)
                unitX = unit;
            unit = attribute(attrs, "PhysicalSizeYUnit", found);
            if (found)
                unitY = unit;
            unit = attribute(attrs, "PhysicalSizeZUnit", found);
            if (found)
                unitZ = unit;
            toDouble(attribute(attrs, "TimeIncrement"), timeIncrement);
            unit = attribute(attrs, "TimeIncrementUnit", found);
            if (found)
                timeIncrementUnit = unit;
            return;
        }
        if (!inPixels)
            return;
        if (std::strcmp(name, "Channel") == 0) {
            out->channelNames.push_back(attribute(attrs, "Name"));
            out->channelHints.push_back(channelHint(attrs));
            long long spp = 1;
            integer(attrs, "SamplesPerPixel", spp);
            if (firstChannel && spp >= 1 && spp <= 64)
                out->samplesPerPixel = static_cast<int>(spp);
            firstChannel = false;
        } else if (std::strcmp(name, "TiffData") == 0) {
            out->tiffData.emplace_back();
            tiffData = &out->tiffData.back();
            tiffDataDepth = depth;
            bool found = false;
            const std::string ifd = attribute(attrs, "IFD", found);
            tiffData->hasIfd = found && toInteger(ifd, tiffData->ifd);
            integer(attrs, "FirstZ", tiffData->firstZ);
            integer(attrs, "FirstC", tiffData->firstC);
            integer(attrs, "FirstT", tiffData->firstT);
            integer(attrs, "PlaneCount", tiffData->planeCount);
        } else if (tiffData && std::strcmp(name, "UUID") == 0) {
            tiffData->file = attribute(attrs, "FileName");
        } else if (std::strcmp(name, "Plane") == 0) {
            long long z = 0, c = 0, t = 0;
            integer(attrs, "TheZ", z);
            integer(attrs, "TheC", c);
            integer(attrs, "TheT", t);
            double dt = 0.0;
            bool found = false;
            const std::string unit = attribute(attrs, "DeltaTUnit", found);
            if (z == 0 && c == 0 && toDouble(attribute(attrs, "DeltaT"), dt))
                deltaT[t] = dt * SecondsPerUnit(found ? unit : "s");
        }
    }

    // OME's Color is a signed 32-bit RGBA integer; some writers give the same bits unsigned.
    static ChannelHint channelHint(const char** attrs)
    {
        ChannelHint hint;
        hint.name = attribute(attrs, "Name");
        long long rgba = 0;
        // -1 is also the schema's default, which writers put on every channel: no choice.
        if (toInteger(attribute(attrs, "Color"), rgba) && rgba >= -2147483648ll && rgba <= 4294967295ll &&
            rgba != -1 && rgba != 4294967295ll) {
            const auto bits = static_cast<std::uint32_t>(rgba);
            hint.hasColor = true;
            hint.red = static_cast<std::uint8_t>(bits >> 24);
            hint.green = static_cast<std::uint8_t>(bits >> 16);
            hint.blue = static_cast<std::uint8_t>(bits >> 8);
        }
        double wavelength = 0.0;
        bool found = false;
        const std::string unit = attribute(attrs, "EmissionWavelengthUnit", found);
        const double nm = found ? UnitInNm(unit) : 1.0;
        if (toDouble(attribute(attrs, "EmissionWavelength"), wavelength) && wavelength > 0 && nm > 0)
            hint.wavelength = wavelength * nm;
        return hint;
    }

    void end(const char* qname)
    {
        const char* name = localName(qname);
        if (tiffData && depth == tiffDataDepth)
            tiffData = nullptr;
        if (inPixels && std::strcmp(name, "Pixels") == 0)
            inPixels = false;
        if (depth == imageDepth)
            imageDepth = 0;
        --depth;
    }
};

} // namespace

double UnitInNm(const std::string& unit)
{
    static const struct { const char* name; double nm; } units[] = {
        {"nm", 1.0}, {"nanometer", 1.0}, {"nanometre", 1.0}, {"nanometers", 1.0},
        {"micron", 1e3}, {"microns", 1e3}, {"um", 1e3}, {"\xC2\xB5m", 1e3}, {"\xCE\xBCm", 1e3},
        {"\\u00B5m", 1e3}, {"micrometer", 1e3}, {"micrometre", 1e3}, {"micrometers", 1e3},
        {"mm", 1e6}, {"millimeter", 1e6}, {"cm", 1e7}, {"centimeter", 1e7}, {"m", 1e9}, {"meter", 1e9},
        {"\xC3\x85", 0.1}, {"\xE2\x84\xAB", 0.1}, {"angstrom", 0.1}, {"pm", 1e-3},
    };
    for (const auto& u : units)
        if (unit == u.name)
            return u.nm;
    return 0.0;
}

bool ParseImageJDescription(const std::string& text, ImageJDescription& out)
{
    if (text.compare(0, 7, "ImageJ=") != 0)
        return false;
    out = ImageJDescription();
    double interval = 0.0;
    std::string timeUnit;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        std::string value = line.substr(eq + 1);
        if (!value.empty() && value.back() == '\r')
            value.pop_back();
        long long n = 0;
        int* count = key == "images" ? &out.images : key == "channels" ? &out.channels
                   : key == "slices" ? &out.slices : key == "frames" ? &out.frames : nullptr;
        if (count) {
            if (toInteger(value, n) && n >= 1 && n <= 1 << 30)
                *count = static_cast<int>(n);
        } else if (key == "spacing") {
            double v = 0.0;
            if (toDouble(value, v) && v > 0.0)
                out.spacing = v;
        } else if (key == "unit") {
            out.unit = value;
        } else if (key == "finterval") {
            double v = 0.0;
            if (toDouble(value, v) && v > 0.0)
                interval = v;
        } else if (key == "tunit") {
            timeUnit = value;
        } else if (key == "min" || key == "max") {
            double v = 0.0;
            if (toDouble(value, v))
                (key == "min" ? out.min : out.max) = v;
        }
    }
    out.hasRange = out.min < out.max;
    // ImageJ writes tunit only when it is not seconds.
    const double perUnit = timeUnit.empty() ? 1.0 : SecondsPerUnit(timeUnit);
    out.frameIntervalS = interval * perUnit;
    return true;
}

bool ParseImageJMetadata(const unsigned char* data, size_t size, const std::uint32_t* counts, size_t countCount,
                         ImageJMetadata& out)
{
    out = ImageJMetadata();
    if (!data || !counts || countCount == 0 || size < 4)
        return false;
    bool big;
    if (std::memcmp(data, "IJIJ", 4) == 0)
        big = true;
    else if (std::memcmp(data, "JIJI", 4) == 0)
        big = false;
    else
        return false;
    const auto word = [&](size_t at) {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<std::uint32_t>(data[at + static_cast<size_t>(i)]) << (big ? 8 * (3 - i) : 8 * i);
        return v;
    };
    const size_t header = counts[0];
    if (header < 4 || header > size || (header - 4) % 8 != 0)
        return false;
    size_t at = header; // where the next part starts
    size_t part = 1;    // its entry in counts
    for (size_t h = 4; h + 8 <= header; h += 8) {
        const std::uint32_t type = word(h), n = word(h + 4);
        for (std::uint32_t k = 0; k < n; ++k, ++part) {
            if (part >= countCount || counts[part] > size - at)
                return true; // a truncated block keeps what came before
            const unsigned char* p = data + at;
            const size_t bytes = counts[part];
            at += bytes;
            if (type == 0x72616e67 && bytes % 8 == 0) { // "rang": doubles, min and max per channel
                for (size_t i = 0; i < bytes; i += 8) {
                    std::uint64_t bits = 0;
                    for (int j = 0; j < 8; ++j)
                        bits |= static_cast<std::uint64_t>(p[i + static_cast<size_t>(j)]) << (big ? 8 * (7 - j) : 8 * j);
                    double v;
                    std::memcpy(&v, &bits, sizeof v);
                    out.ranges.push_back(v);
                }
            } else if (type == 0x6c757473 && bytes == 768) { // "luts": one per channel
                out.luts.emplace_back(p, p + 768);
            }
        }
    }
    return true;
}

namespace {

// True when a planar 768-byte table is the ramp from black to its last entry, as ImageJ
// builds it for a colour (each entry within one step of i * last / 255).
bool isRamp(const std::vector<std::uint8_t>& lut)
{
    for (int c = 0; c < 3; ++c) {
        const int last = lut[static_cast<size_t>(c * 256 + 255)];
        for (int i = 0; i < 256; ++i) {
            const int want = (i * last + 127) / 255;
            if (std::abs(lut[static_cast<size_t>(c * 256 + i)] - want) > 1)
                return false;
        }
    }
    return true;
}

} // namespace

std::vector<ChannelHint> ImageJChannelHints(const ImageJDescription& description, const ImageJMetadata& metadata,
                                            int channels)
{
    std::vector<ChannelHint> hints;
    if (channels < 1 || (metadata.luts.empty() && metadata.ranges.empty() && !description.hasRange))
        return hints;
    hints.resize(static_cast<size_t>(channels));
    for (size_t c = 0; c < hints.size(); ++c) {
        ChannelHint& hint = hints[c];
        if (c < metadata.luts.size()) {
            const std::vector<std::uint8_t>& lut = metadata.luts[c];
            hint.hasColor = true;
            hint.red = lut[255];
            hint.green = lut[511];
            hint.blue = lut[767];
            if (!isRamp(lut)) {
                hint.lut.resize(768);
                for (size_t i = 0; i < 256; ++i)
                    for (size_t k = 0; k < 3; ++k)
                        hint.lut[3 * i + k] = lut[k * 256 + i];
            }
        }
        double lo = description.min, hi = description.max;
        if (2 * c + 1 < metadata.ranges.size()) {
            lo = metadata.ranges[2 * c];
            hi = metadata.ranges[2 * c + 1];
        }
        if (std::isfinite(lo) && std::isfinite(hi) && lo < hi) {
            hint.hasWindow = true;
            hint.windowStart = lo;
            hint.windowEnd = hi;
        }
    }
    return hints;
}

bool ParseOmeDescription(const std::string& xml, OmeDescription& out, std::string& error)
{
    out = OmeDescription();
    if (xml.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
        error = "the OME-XML description is too long";
        return false;
    }
    std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreateNS(nullptr, '|'), XML_ParserFree);
    if (!parser) {
        error = "out of memory";
        return false;
    }
    OmeParser state{&out};
    XML_SetUserData(parser.get(), &state);
    XML_SetElementHandler(
        parser.get(),
        [](void* user, const XML_Char* name, const XML_Char** attrs) { static_cast<OmeParser*>(user)->start(name, attrs); },
        [](void* user, const XML_Char* name) { static_cast<OmeParser*>(user)->end(name); });
    if (XML_Parse(parser.get(), xml.data(), static_cast<int>(xml.size()), 1) != XML_STATUS_OK) {
        error = std::string("the OME-XML description is not well-formed (") +
                XML_ErrorString(XML_GetErrorCode(parser.get())) + ", line " +
                std::to_string(XML_GetCurrentLineNumber(parser.get())) + ")";
        return false;
    }
    if (!state.seenPixels) {
        error = "the OME-XML description has no image";
        return false;
    }
    const double x = UnitInNm(state.unitX), y = UnitInNm(state.unitY), z = UnitInNm(state.unitZ);
    out.physicalNm[0] = state.sizeX > 0 ? state.sizeX * x : 0.0;
    out.physicalNm[1] = state.sizeY > 0 ? state.sizeY * y : 0.0;
    out.physicalNm[2] = state.sizeZ > 0 ? state.sizeZ * z : 0.0;
    if (state.timeIncrement > 0)
        out.timeIncrementS = state.timeIncrement * SecondsPerUnit(state.timeIncrementUnit);
    else if (state.deltaT.size() >= 2) {
        // The mean step from the first time point's plane to the last one's.
        const auto& first = *state.deltaT.begin();
        const auto& last = *state.deltaT.rbegin();
        const double step = (last.second - first.second) / static_cast<double>(last.first - first.first);
        out.timeIncrementS = step > 0 && std::isfinite(step) ? step : 0.0;
    }
    return true;
}

} // namespace ImageReader
