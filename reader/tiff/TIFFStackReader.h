#pragma once

#include <vector>

#include "TIFFReaderBase.h"

namespace ImageReader {

// One TIFF file read as an n-D image: a multi-page file's pages form dimension "z"; an
// ImageJ hyperstack's description gives "c", "z" and "t" in its order with pixel sizes; an
// OME-TIFF's XML gives its dimensions, channel names and physical sizes. Pages of several
// samples (RGB) add a channel dimension. One page is read per plane request, found through
// the page table the file was opened with.
template <class T>
class TIFFStackReader : public TIFFReaderBase<T>
{
public:
    enum class Kind { Single, MultiPage, ImageJ, OME };

    TIFFStackReader() = default;
    explicit TIFFStackReader(const std::filesystem::path& path) { Open(path); }

    void Open(const std::filesystem::path& path) override;
    void Close() override { m_file.Close(); }
    Kind GetKind() const { return m_kind; }

protected:
    bool Locate(const Vector& position, long long& key, unsigned& sample) override;
    bool ReadRawPage(long long key, unsigned char* out) override { return m_file.ReadPage(static_cast<size_t>(key), out); }
    ImageSlice<T> ReadPlane16(long long key) override { return m_file.ReadPlane16(static_cast<size_t>(key)); }
    std::string FormatKind() override;
    void ReleaseFileMapping() override { m_file.ReleaseMappedPages(); }

private:
    bool LayOutOme(const std::string& fileName, double zNm, std::string& error);
    void LayOutImageJ(const std::string& fileName, double zNm);

    TiffFile m_file;
    Kind m_kind = Kind::Single;
    // Dimensions that select a page, with their stride in the file's plane numbering.
    std::vector<std::pair<unsigned, long long>> m_pageDims;
    std::vector<long long> m_pageOf; // page of each plane number; empty when plane k is page k
};

} // namespace ImageReader
