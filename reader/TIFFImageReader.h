#pragma once

#include <string>
#include <vector>

#include "ImageReaderBase.h"

namespace ImageReader {

// An n-dimensional image made of a folder of numbered 2-D TIFF planes. The chosen file's
// name is a template: each run of decimal digits is one dimension from 2 up, and the
// folder scan finds how far each number goes. Planes are read through Korvel when asked
// for; no file stays open.
template <class T>
class TIFFImageReader : public ImageReaderBase<T>
{
public:
    TIFFImageReader() = default;
    explicit TIFFImageReader(const std::filesystem::path& path) { Open(path); }

    ImageSlice<T> GetSlice(const Vector& position) override;
    Vector GetSize() override;
    void Open(const std::filesystem::path& path) override;
    void Close() override {}
    std::string GetDimName(unsigned int dim) override;
    double GetDimPixelSize(unsigned int) override { return 0.0; }

private:
    std::string FileName(const Vector& position) const;

    // Literal pieces of the template: the folder with the text before the first digit
    // run, then the text between runs, then the text after the last run.
    std::vector<std::string> m_patterns;
    Vector m_digits;   // width of each digit run
    Vector m_maxindex; // width, height, then the largest number found per digit run
    int m_bits = 0;    // sample size of the chosen file; planes must match it
};

} // namespace ImageReader
