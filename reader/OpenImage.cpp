#include "OpenImage.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <system_error>
#include <vector>

#include "ICSImageReader.h"
#include "ZarrReader.h"
#ifdef LUMORA_HAVE_TIFF_READER
#include "TIFFImageReader.h"
#include "TIFFStackReader.h"
#endif

namespace ImageReader {

namespace {

std::string lowerExtension(const std::filesystem::path& path)
{
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

template <class R>
OpenedImage openWith(const std::filesystem::path& path, const std::string& fallback)
{
    OpenedImage result;
    auto reader = std::make_unique<R>(path);
    if (reader->GetSize().size() == 0) {
        result.error = reader->GetError().empty() ? fallback : reader->GetError();
        return result;
    }
    result.reader = std::move(reader);
    return result;
}

#ifdef LUMORA_HAVE_TIFF_READER
// A file of several pages, or one whose ImageJ or OME description makes it an image of its
// own, opens as a stack; a plain single-page file opens with the series its name belongs to
// (a series of one when no other file matches).
// `landOnFile` false: the series starts where any image starts, not on this file's plane.
OpenedImage openTiff(const std::filesystem::path& path, bool landOnFile = true)
{
    auto stack = std::make_unique<TIFFStackReader<unsigned short>>(path);
    if (stack->GetSize().size() == 0)
        return {nullptr, stack->GetError().empty() ? "not a readable TIFF file" : stack->GetError()};
    if (stack->GetKind() != TIFFStackReader<unsigned short>::Kind::Single)
        return {std::move(stack), std::string()};
    stack.reset();
    auto series = std::make_unique<TIFFImageReader<unsigned short>>(path);
    if (series->GetSize().size() == 0)
        return {nullptr, series->GetError().empty() ? "not a readable TIFF file" : series->GetError()};
    if (!landOnFile)
        series->ForgetInitialPosition();
    return {std::move(series), std::string()};
}

// A folder of TIFF files opens as the image its first file (in name order) belongs to.
OpenedImage openTiffFolder(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code kind;
        const std::string ext = lowerExtension(it->path());
        if ((ext == ".tif" || ext == ".tiff") && it->is_regular_file(kind))
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    if (files.empty())
        return {nullptr, "a folder, not an image file"};
    return openTiff(files.front(), false);
}
#endif

} // namespace

FileKind SniffFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    char head[16] = {};
    in.read(head, sizeof head);
    const std::streamsize got = in.gcount();
    if (got >= 4) {
        const unsigned char* b = reinterpret_cast<const unsigned char*>(head);
        // Classic TIFF (42) and BigTIFF (43), in either byte order.
        if ((b[0] == 'I' && b[1] == 'I' && (b[2] == 42 || b[2] == 43) && b[3] == 0) ||
            (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && (b[3] == 42 || b[3] == 43)))
            return FileKind::TIFF;
    }
    // An ICS header starts with its field and line separators, then "ics_version".
    if (got >= 13 && std::memcmp(head + 2, "ics_version", 11) == 0)
        return FileKind::ICS;
    return FileKind::Unknown;
}

bool IsImageFolder(const std::filesystem::path& path)
{
    std::error_code error;
    if (!std::filesystem::is_directory(path, error))
        return false;
    // Zarr images are folders: named .zarr, or holding a group's or array's metadata.
    return lowerExtension(path) == ".zarr" || std::filesystem::exists(path / ".zattrs", error) ||
           std::filesystem::exists(path / ".zarray", error) || std::filesystem::exists(path / ".zgroup", error);
}

OpenedImage OpenImage(const std::filesystem::path& path)
{
    std::error_code error;
    if (IsUrl(path.string()))
        return OpenImage(path.string());
    if (!std::filesystem::exists(path, error))
        return {nullptr, "file not found"};
    if (std::filesystem::is_directory(path, error)) {
        if (IsImageFolder(path))
            return openWith<ZarrReader<unsigned short>>(path.string(), "not a readable Zarr image");
#ifdef LUMORA_HAVE_TIFF_READER
        return openTiffFolder(path);
#else
        return {nullptr, "a folder, not an image file"};
#endif
    }
    // The metadata file of a Zarr folder, as a file dialog picks it, stands for its folder.
    const std::string name = path.filename().string();
    if (name == ".zattrs" || name == ".zarray" || name == ".zgroup")
        return openWith<ZarrReader<unsigned short>>(path.parent_path().string(), "not a readable Zarr image");

    FileKind kind = SniffFile(path);
    const std::string ext = lowerExtension(path);
    if (kind == FileKind::Unknown) {
        if (ext == ".tif" || ext == ".tiff")
            kind = FileKind::TIFF;
        else if (ext == ".ics" || ext == ".ids")
            kind = FileKind::ICS;
    }
    switch (kind) {
    case FileKind::TIFF:
#ifdef LUMORA_HAVE_TIFF_READER
        return openTiff(path);
#else
        return {nullptr, "TIFF files are not supported by this build"};
#endif
    case FileKind::ICS: {
        // A data file opens through its header, which has the same name.
        std::filesystem::path header = path;
        if (ext == ".ids")
            header.replace_extension(path.extension().string() == ".IDS" ? ".ICS" : ".ics");
        return openWith<ICSImageReader<unsigned short>>(header, "not a readable ICS image");
    }
    case FileKind::Unknown:
        break;
    }
    return {nullptr, "not a recognised image format (ICS or TIFF)"};
}

OpenedImage OpenImage(const std::string& pathOrUrl)
{
    if (IsUrl(pathOrUrl))
        return openWith<ZarrReader<unsigned short>>(pathOrUrl, "not a readable Zarr image");
    return OpenImage(std::filesystem::path(pathOrUrl));
}

} // namespace ImageReader
