#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "TIFFReaderBase.h"

namespace ImageReader {

// How a file name is cut into text and numbers, and which other names of a folder belong
// to the same series. Every run of decimal digits in the chosen name (its extension aside)
// is a number; another name matches when its text is the same and each number is written
// the way the chosen one is: a zero-padded number (leading zero) by its width, or wider
// without leading zero once the numbers outgrow the padding; an unpadded one by value,
// whatever its width (or with the chosen one's width), and so is a padded one narrower
// than an unpadded chosen one (img_07 for img_105 of a %02d series). Extensions .tif and
// .tiff match in any case.
class SeriesTemplate
{
public:
    explicit SeriesTemplate(const std::string& fileName);

    size_t Runs() const { return m_widths.size(); }
    // The numbers of a matching name, or false.
    bool Match(const std::string& fileName, std::vector<long long>& numbers) const;
    // Letters just before run k ("z" of "cell_z012", "img" of "img_001"); empty when there
    // are none.
    std::string RunName(size_t k) const;

private:
    std::string m_extension;
    std::vector<std::string> m_text; // Runs() + 1 pieces around the runs
    std::vector<size_t> m_widths;
    std::vector<bool> m_padded;
};

// An n-dimensional image made of a folder of numbered 2-D TIFF files. The numbers of the
// chosen file's name that differ across the matching files are the dimensions (in name
// order); numbers that are the same in every file (a date, "exp2") are part of the name.
// Each dimension starts at the smallest number present; a missing file is an empty plane.
// Pages of several samples add a channel dimension first. No file stays open.
template <class T>
class TIFFImageReader : public TIFFReaderBase<T>
{
public:
    TIFFImageReader() = default;
    explicit TIFFImageReader(const std::filesystem::path& path) { Open(path); }

    void Open(const std::filesystem::path& path) override;
    void Close() override {}
    // Number of files the series found.
    size_t GetFileCount() const { return m_files.size(); }
    Vector GetInitialPosition() override { return m_initial; }
    void ForgetInitialPosition() { m_initial = Vector(); }

protected:
    bool Locate(const Vector& position, long long& key, unsigned& sample) override;
    bool ReadRawPage(long long key, unsigned char* out) override;
    ImageSlice<T> ReadPlane16(long long key) override;
    std::string FormatKind() override { return m_files.size() > 1 ? "TIFF series" : "TIFF"; }

private:
    // Opens file `key`, checked to have the layout of the file the series was opened with.
    bool OpenFile(long long key, TiffFile& file);

    std::vector<std::string> m_files;                 // full paths
    std::vector<std::pair<unsigned, long long>> m_strides; // dimension, stride of the file index
    std::unordered_map<long long, long long> m_fileAt; // flat position -> index in m_files
    Vector m_initial; // the opened file's position
};

} // namespace ImageReader
