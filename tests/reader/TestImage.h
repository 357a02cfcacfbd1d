#pragma once

#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <vector>

#include "ImageBase.h"

// An in-memory image whose pixel values come from a formula, so expected values can be
// computed independently of the code under test. Counts reads and can fail chosen planes.
class TestImage : public ImageReader::ImageBase<unsigned short>
{
public:
    using Formula = std::function<unsigned short(const std::vector<int>& coords)>;

    TestImage(const ImageReader::Vector& size, Formula f) : m_size(size), m_f(std::move(f)) {}

    ImageReader::Vector GetSize() override { return m_size; }

    ImageReader::ImageSlice<unsigned short> GetSlice(const ImageReader::Vector& pos) override
    {
        ++reads;
        std::vector<int> key;
        for (unsigned i = 0; i < pos.size(); ++i)
            key.push_back(pos[static_cast<int>(i)]);
        if (failing.count(key))
            return {};
        const int w = m_size[0], h = m_size[1];
        auto* buf = static_cast<unsigned short*>(std::malloc(sizeof(unsigned short) * static_cast<size_t>(w) * h));
        std::vector<int> c(m_size.size());
        for (unsigned i = 2; i < m_size.size(); ++i)
            c[i] = i - 2 < pos.size() ? pos[static_cast<int>(i) - 2] : 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                c[0] = x;
                c[1] = y;
                buf[x + y * w] = m_f(c);
            }
        return ImageReader::ImageSlice<unsigned short>(ImageReader::Vector(w, h), buf);
    }

    unsigned short at(const std::vector<int>& c) const { return m_f(c); }

    int reads = 0;
    std::set<std::vector<int>> failing;

private:
    ImageReader::Vector m_size;
    Formula m_f;
};

inline ImageReader::Vector V(std::initializer_list<int> xs)
{
    ImageReader::Vector v;
    for (int x : xs)
        v.push_back(x);
    return v;
}
