#pragma once

#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <vector>

#include "ImageBase.h"

inline ImageReader::Vector V(std::initializer_list<int> xs)
{
    ImageReader::Vector v;
    for (int x : xs)
        v.push_back(x);
    return v;
}

// An n-dimensional image held in memory, one value per voxel, element 0 fastest. Counts
// slice reads and can fail chosen planes (by plane index, dimensions 2 and up flattened).
class MemoryImage : public ImageReader::ImageBase<unsigned short>
{
public:
    explicit MemoryImage(std::vector<int> size, std::vector<unsigned short> values = {})
        : extent(std::move(size)), voxels(std::move(values))
    {
        size_t n = 1;
        for (int e : extent)
            n *= static_cast<size_t>(e);
        voxels.resize(n);
    }

    // Calls f(coordinates, voxel, plane index) for every voxel.
    void Each(const std::function<void(const std::vector<int>&, unsigned short&, size_t)>& f)
    {
        std::vector<int> c(extent.size());
        for (size_t i = 0; i < voxels.size(); ++i) {
            for (size_t k = 0, r = i; k < extent.size(); r /= static_cast<size_t>(extent[k]), ++k)
                c[k] = static_cast<int>(r % static_cast<size_t>(extent[k]));
            f(c, voxels[i], i / static_cast<size_t>(extent[0] * extent[1]));
        }
    }

    void Fill(const std::function<int(const std::vector<int>&)>& f)
    {
        Each([&](const std::vector<int>& c, unsigned short& v, size_t) { v = static_cast<unsigned short>(f(c)); });
    }

    ImageReader::Vector GetSize() override
    {
        ImageReader::Vector v;
        for (int e : extent)
            v.push_back(e);
        return v;
    }

    ImageReader::ImageSlice<unsigned short> GetSlice(const ImageReader::Vector& position) override
    {
        ++reads;
        size_t plane = 0, stride = 1;
        for (size_t k = 2; k < extent.size(); stride *= static_cast<size_t>(extent[k]), ++k)
            plane += static_cast<size_t>(position[static_cast<int>(k) - 2]) * stride;
        if (failing.count(plane))
            return {};
        const size_t n = static_cast<size_t>(extent[0] * extent[1]);
        auto* buf = static_cast<unsigned short*>(std::malloc(n * sizeof(unsigned short)));
        std::memcpy(buf, voxels.data() + plane * n, n * sizeof(unsigned short));
        return ImageReader::ImageSlice<unsigned short>(ImageReader::Vector(extent[0], extent[1]), buf);
    }

    std::vector<int> extent;
    std::vector<unsigned short> voxels;
    std::set<size_t> failing;
    int reads = 0;
};

inline ImageReader::ImageSlice<unsigned short> MakeSlice(int w, int h, const std::vector<unsigned short>& values)
{
    auto* buf = static_cast<unsigned short*>(std::malloc(values.size() * sizeof(unsigned short) + 1));
    std::memcpy(buf, values.data(), values.size() * sizeof(unsigned short));
    return ImageReader::ImageSlice<unsigned short>(ImageReader::Vector(w, h), buf);
}
