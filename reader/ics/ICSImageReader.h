#pragma once

#include <libics.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "GzipIndex.h"
#include "ImageReaderBase.h"
#include "MappedFile.h"

namespace ImageReader {

// Image source for ICS images. libics parses the header (after the fields it would trust
// blindly are checked); uncompressed data is served from a memory mapping of the data file,
// gzip data through an index of access points into the stream (GzipIndex), other
// compressed data from libics's sequential stream. Planes of dimensions 0 and 1 are
// delivered as 16-bit display values through the image's value map.
//
// GetSlice, GetValue and the name and size queries may run on any thread: the mapped path
// shares nothing mutable, and the compressed streams are behind a mutex.
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
    // Mapped data that is not lent as it is (other sample types, byte orders, value maps)
    // gives side views their row or column alone, converted from the mapping: no plane is
    // converted whole for one line of it.
    bool ReadsBands() const override { return m_data != nullptr; }
    ImageSlice<T> GetRows(const Vector& position, int y0, int y1) override;
    ImageSlice<T> GetColumns(const Vector& position, int x0, int x1) override;
    ImageSlice<T> GetBandSource(const Vector& position, bool rows, int a0, int a1) override;
    void ReleaseMappedPages() override
    {
        if (m_data)
            m_data->ReleasePages();
    }
    Vector GetSize() override { return m_dims; }
    void Open(const std::filesystem::path& path) override;
    void Close() override;
    std::string GetDimName(unsigned int dim) override;
    double GetDimPixelSize(unsigned int dim) override;
    // The axis's scale when its unit is one of time.
    double GetDimInterval(unsigned int dim) override;
    SampleType GetSampleType() override { return m_type; }
    ValueMap GetValueMap() override { return m_map; }
    std::optional<double> GetValue(const Vector& position) override;
    std::string GetFormatName() override;
    std::string GetError() override { return m_error; }
    // A channel or spectral dimension's wavelengths: from its position parameters when their
    // unit is a length, else the sensor's emission wavelengths, one per channel.
    std::vector<double> GetIndexWavelengths(unsigned int dim) override;
    int GetChannelHintDim() override;
    std::vector<ChannelHint> GetChannelHints() override;

private:
    bool Fail(std::string reason);
    // Bytes [offset, offset + bytes) of the plane's raw samples (whole samples), in native
    // byte order; false when they cannot be read.
    bool ReadRaw(size_t plane, size_t offset, size_t bytes, void* dest);
    // Bytes [at, at + bytes) of the compressed stream's samples.
    bool ReadStream(std::uint64_t at, size_t bytes, void* dest);
    void WarnOnce(const std::string& text);
    // Plane `plane` of the mapping starts on a sample boundary, so it can be read in place.
    bool Aligned(size_t plane) const;
    // The plane's index in the data, or false when `p` is outside the image.
    bool PlaneIndex(const Vector& p, size_t& plane) const;
    // Plane `plane` is served straight from the mapping (see GetSlice).
    bool Lends(size_t plane) const;
    // Columns [x0, x1) of rows [y0, y1) of a mapped plane, converted to display values.
    ImageSlice<T> ReadBand(size_t plane, int x0, int x1, int y0, int y1);

    ICS* m_ics = nullptr;
    std::mutex m_mutex; // libics's stream and the warning flag
    SampleType m_type = SampleType::UInt16;
    ValueMap m_map;
    Vector m_dims;
    std::vector<std::string> m_names;
    std::string m_error;
    std::string m_path;      // narrow header path, for reopening the stream
    std::string m_dataName;  // the data file's name, for messages
    size_t m_planeSamples = 0;
    size_t m_planeBytes = 0;
    size_t m_planes = 0;

    // Uncompressed data: the mapping, where the samples start and how each sample's bytes
    // are ordered in the file (file byte i is native byte m_order[i]).
    std::shared_ptr<const MappedFile> m_data;
    size_t m_offset = 0;
    bool m_native = true;
    unsigned char m_order[8] = {};

    // gzip data: the stream with its access points.
    std::unique_ptr<GzipIndex> m_gzip;

    // Compressed data: the stream position, and where the stream was found to end or break.
    std::uint64_t m_next = 0;
    std::uint64_t m_end = UINT64_MAX;
    bool m_warned = false;
};

} // namespace ImageReader
