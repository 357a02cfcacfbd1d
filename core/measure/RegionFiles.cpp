#include "RegionFiles.h"

#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "GeoJson.h"

namespace Measure {

namespace {

// Region files are small; anything larger is not one.
constexpr std::uintmax_t maxFileBytes = 256u << 20;

std::string Extension(const std::filesystem::path& path)
{
    std::string e = path.extension().string();
    for (char& c : e)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return e;
}

bool Fail(std::string* error, const std::string& why)
{
    if (error)
        *error = why;
    return false;
}

std::optional<std::string> ReadText(const std::filesystem::path& path, std::string* error)
{
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > maxFileBytes) {
        Fail(error, ec ? "cannot read " + path.string() : path.string() + " is too large for a region file");
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        Fail(error, "cannot read " + path.string());
        return std::nullopt;
    }
    return text;
}

bool WriteText(const std::filesystem::path& path, const std::string& text, std::string* error)
{
    // Written beside the target and renamed over it, so a failed write leaves the old file.
    std::filesystem::path temporary = path;
    temporary += ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            std::error_code ec;
            std::filesystem::remove(temporary, ec);
            return Fail(error, "cannot write " + path.string());
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::filesystem::remove(temporary, ec);
        return Fail(error, "cannot write " + path.string());
    }
    return true;
}

} // namespace

std::optional<std::vector<Region>> ReadRegions(const std::filesystem::path& path, const ImageJAxes& axes,
                                               std::string* error)
{
    const std::string e = Extension(path);
    if (e == ".zip")
        return ReadRoiSet(path, axes, error);
    if (e != ".roi" && e != ".geojson" && e != ".json") {
        Fail(error, "unknown region file type: " + path.string());
        return std::nullopt;
    }
    const std::optional<std::string> text = ReadText(path, error);
    if (!text)
        return std::nullopt;
    if (e == ".roi") {
        std::optional<Region> r = DecodeImageJRoi(reinterpret_cast<const std::uint8_t*>(text->data()), text->size(),
                                                  axes, error);
        if (!r)
            return std::nullopt;
        if (r->name.empty())
            r->name = path.stem().string();
        return std::vector<Region>{std::move(*r)};
    }
    if (e == ".json") {
        const nlohmann::json doc = nlohmann::json::parse(*text, nullptr, false);
        if (doc.is_array())
            return RegionsFromJson(doc, error);
    }
    return RegionsFromGeoJson(*text, error);
}

bool WriteRegions(const std::filesystem::path& path, const std::vector<Region>& regions, const ImageJAxes& axes,
                  std::string* error)
{
    const std::string e = Extension(path);
    if (e == ".zip")
        return WriteRoiSet(path, regions, axes, error);
    if (e == ".roi") {
        if (regions.size() != 1)
            return Fail(error, "a .roi file holds exactly one region");
        const std::vector<std::uint8_t> bytes = EncodeImageJRoi(regions[0], axes);
        return WriteText(path, std::string(bytes.begin(), bytes.end()), error);
    }
    if (e == ".geojson" || e == ".json")
        return WriteText(path, RegionsToGeoJson(regions), error);
    return Fail(error, "unknown region file type: " + path.string());
}

} // namespace Measure
