#pragma once

#include <filesystem>
#include <string>

#include "ImageBase.h"

namespace ImageReader {

// An image source read from a file, which also knows the names and pixel sizes of its
// dimensions.
template <class T>
class ImageReaderBase : public ImageBase<T>
{
public:
    // On failure the reader stays without dimensions (empty size).
    virtual void Open(const std::filesystem::path& path) = 0;
    virtual void Close() = 0;
    virtual std::string GetDimName(unsigned int dim) = 0;
    // Pixel spacing in nanometres; 0 when not given.
    virtual double GetDimPixelSize(unsigned int dim) = 0;
};

} // namespace ImageReader
