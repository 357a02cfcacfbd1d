#pragma once

#include <libics.h>

#include <string>

#include "ImageReaderBase.h"

namespace ImageReader {

// Image source for ICS images (read through libics). Every plane of dimensions 0 and 1 is
// delivered as 16-bit samples; other sample types are converted on reading.
template <class T>
class ICSImageReader : public ImageReaderBase<T>
{
public:
    ICSImageReader() = default;
    explicit ICSImageReader(const std::filesystem::path& path) { Open(path); }
    ~ICSImageReader() override { Close(); }
    ICSImageReader(const ICSImageReader&) = delete;
    ICSImageReader& operator=(const ICSImageReader&) = delete;

    ImageSlice<T> GetSlice(const Vector& position) override;
    Vector GetSize() override { return m_dims; }
    void Open(const std::filesystem::path& path) override;
    void Close() override;
    std::string GetDimName(unsigned int dim) override;
    double GetDimPixelSize(unsigned int dim) override;
    std::string GetFormatName() override { return "ICS"; }

private:
    bool ReadPlane(size_t plane, void* dest, size_t bytes);

    ICS* m_ics = nullptr;
    Ics_DataType m_datatype = Ics_unknown;
    int m_imelsize = 0;
    Vector m_dims;
    std::string m_path;       // narrow path, for reopening
    size_t m_nextplane = 0;   // plane at the data stream's read position

};

} // namespace ImageReader
