#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "ImageReaderBase.h"

namespace ImageReader {

// The one way to open a path: recognises the format (by content first, then by extension, in
// any case), builds and configures the reader and returns it, or a reason a user can read.
struct OpenedImage
{
    std::unique_ptr<ImageReaderBase<unsigned short>> reader; // null on failure
    std::string error;                                       // set on failure
};

OpenedImage OpenImage(const std::filesystem::path& path);
// Also takes http:// and https:// URLs (Zarr images on a web server).
OpenedImage OpenImage(const std::string& pathOrUrl);
inline OpenedImage OpenImage(const char* pathOrUrl) { return OpenImage(std::string(pathOrUrl)); }

// True for a folder OpenImage opens as one image (a Zarr array or group): named .zarr, or
// holding a group's or array's metadata. An open dialog takes such a folder as its choice.
bool IsImageFolder(const std::filesystem::path& path);

// The file formats OpenImage recognises from the first bytes of a file.
enum class FileKind { Unknown, TIFF, ICS };
FileKind SniffFile(const std::filesystem::path& path);

} // namespace ImageReader
