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
        }
    }
    // ImageJ writes tunit only when it is not seconds.
    const double perUnit = timeUnit.empty() ? 1.0 : SecondsPerUnit(timeUnit);
    out.frameIntervalS = interval * perUnit;
    return true;
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
