#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ImageReaderBase.h"
#include "TiffFile.h"

namespace ImageReader {

// What the TIFF readers share: dimensions with names, pixel sizes, origins and index names;
// the layout every page must have; the map to display values; and the turning of a page
// into the plane of one of its samples. A reader says where a position's plane lives (a
// page key and a sample) and how to read a page; pages are read whole (all samples), and
// the last page read is kept while its samples are still being asked for.
template <class T>
class TIFFReaderBase : public ImageReaderBase<T>
{
public:
    ImageSlice<T> GetSlice(const Vector& position) override;
    Vector GetSize() override { return m_size; }
    std::string GetDimName(unsigned int dim) override { return dim < m_dims.size() ? m_dims[dim].name : std::string(); }
    double GetDimPixelSize(unsigned int dim) override { return dim < m_dims.size() ? m_dims[dim].pixelNm : 0.0; }
    double GetDimInterval(unsigned int dim) override { return dim < m_dims.size() ? m_dims[dim].intervalS : 0.0; }
    int GetDimOrigin(unsigned int dim) override { return dim < m_dims.size() ? m_dims[dim].origin : 0; }
    std::string GetIndexName(unsigned int dim, int index) override;
    SampleType GetSampleType() override { return m_layout.type; }
    ValueMap GetValueMap() override { return m_map; }
    std::optional<double> GetValue(const Vector& position) override;
    std::string GetFormatName() override;
    std::string GetError() override { return m_error; }
    int GetChannelHintDim() override { return m_hints.empty() ? -1 : m_hintDim; }
    std::vector<ChannelHint> GetChannelHints() override { return m_hints; }
    std::vector<double> GetIndexWavelengths(unsigned int dim) override;

protected:
    struct Dim
    {
        std::string name;
        int size = 1;
        double pixelNm = 0.0;
        int origin = 0;
        std::vector<std::string> indexNames;
        double intervalS = 0.0; // seconds per index of a time dimension
    };

    // The page key and sample of a plane position (already checked to be inside the image);
    // false when the plane is missing.
    virtual bool Locate(const Vector& position, long long& key, unsigned& sample) = 0;
    // Reads all samples of a page (TiffFile::ReadPage's arrangement).
    virtual bool ReadRawPage(long long key, unsigned char* out) = 0;
    // A page of one 16-bit unsigned sample as its plane (TiffFile::ReadPlane16).
    virtual ImageSlice<T> ReadPlane16(long long key) = 0;
    virtual std::string FormatKind() = 0;
    // Gives back the pages of a mapping the reader keeps open; called under the read lock,
    // since the mapping is made at the first plane that can borrow.
    virtual void ReleaseFileMapping() {}

public:
    void ReleaseMappedPages() override
    {
        const std::lock_guard<std::mutex> lock(m_readMutex);
        ReleaseFileMapping();
    }

protected:
    // Clears everything before an Open.
    void Reset();
    // Dimensions x and y plus, for pages of several samples, a channel dimension (named
    // red, green, blue for RGB); later dimensions are appended by the reader.
    void SetPlaneDims(const TiffLayout& layout, double xNm, double yNm);
    void AddDim(Dim dim) { m_dims.push_back(std::move(dim)); }
    // Fixes the size and estimates the value map over `pages` page keys 0..pages-1 (only for
    // types whose map needs the data).
    void Finish(long long pages);
    void Fail(const std::string& error);
    // The page's samples through the kept copy; null when the page cannot be read.
    const unsigned char* RawPage(long long key);

    std::vector<Dim> m_dims;
    TiffLayout m_layout;
    ValueMap m_map;
    Vector m_size;
    std::string m_error;
    // What the file says about showing its channels, and their dimension (-1: the image
    // is one channel).
    std::vector<ChannelHint> m_hints;
    int m_hintDim = -1;
    std::shared_ptr<std::set<std::string>> m_reported = std::make_shared<std::set<std::string>>();

private:
    // Reads may come from several threads: the TIFF handle's directory and the kept page
    // are one reader's state.
    std::mutex m_readMutex;
    std::unique_ptr<unsigned char[]> m_raw;
    long long m_rawKey = -1;
};

// Pixel sizes (nm) that a page's own tags and description give for x, y and z (0 where
// nothing is given): an ImageJ description's unit with the resolution tags and its spacing,
// OME's physical sizes, or a resolution in pixels per centimetre. Resolution in inches is a
// print or screen setting and gives nothing.
void PixelSizesOf(const TiffLayout& layout, double nm[3]);

} // namespace ImageReader
