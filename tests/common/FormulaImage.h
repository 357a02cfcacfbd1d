#pragma once

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "ImageReaderBase.h"

// An in-memory image whose pixel values come from a formula of the coordinates, so tests can
// compute expected values independently of the code under test. It reports names and pixel
// sizes (nm) as a file reader would, counts plane reads and can fail chosen planes.
class FormulaImage : public ImageReader::ImageReaderBase<unsigned short>
{
public:
    using Formula = std::function<unsigned short(const std::vector<int>& coords)>;

    FormulaImage(std::vector<int> size, Formula f, std::vector<std::string> names = {},
                 std::vector<double> pixelsize = {})
        : m_size(std::move(size)), m_f(std::move(f)), m_names(std::move(names)), m_pixelsize(std::move(pixelsize))
    {
        m_pixelsize.resize(m_size.size(), 0.0);
    }

    ImageReader::Vector GetSize() override
    {
        ImageReader::Vector v;
        for (int s : m_size)
            v.push_back(s);
        return v;
    }

    ImageReader::ImageSlice<unsigned short> GetSlice(const ImageReader::Vector& pos) override
    {
        ++reads;
        std::vector<int> c(std::max<size_t>(m_size.size(), 2), 0);
        for (size_t k = 2; k < m_size.size(); ++k)
            c[k] = k - 2 < pos.size() ? pos[static_cast<int>(k - 2)] : 0;
        if (failing.count(std::vector<int>(c.begin() + 2, c.end())))
            return {};
        const int w = m_size.size() > 0 ? m_size[0] : 1;
        const int h = m_size.size() > 1 ? m_size[1] : 1;
        auto* buf = static_cast<unsigned short*>(std::malloc(sizeof(unsigned short) * static_cast<size_t>(w) * h));
        for (c[1] = 0; c[1] < h; ++c[1])
            for (c[0] = 0; c[0] < w; ++c[0])
                buf[c[0] + c[1] * w] = m_f(c);
        return ImageReader::ImageSlice<unsigned short>(ImageReader::Vector(w, h), buf);
    }

    void Open(const std::filesystem::path&) override {}
    void Close() override {}
    std::string GetDimName(unsigned int dim) override { return dim < m_names.size() ? m_names[dim] : std::string(); }
    double GetDimPixelSize(unsigned int dim) override { return dim < m_pixelsize.size() ? m_pixelsize[dim] : 0.0; }

    unsigned short at(const std::vector<int>& c) const { return m_f(c); }

    // Planes are read on the views' worker and the window's thread at once.
    std::atomic<int> reads{0};
    std::set<std::vector<int>> failing; // slice positions (dimensions 2 and up) that fail

private:
    std::vector<int> m_size;
    Formula m_f;
    std::vector<std::string> m_names;
    std::vector<double> m_pixelsize;
};

inline ImageReader::Vector V(std::initializer_list<int> xs)
{
    ImageReader::Vector v;
    for (int x : xs)
        v.push_back(x);
    return v;
}
