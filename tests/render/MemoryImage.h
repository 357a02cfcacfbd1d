#pragma once

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include <QGuiApplication>
#include <gtest/gtest.h>

#include "ImageBase.h"

// An n-dimensional image held in memory, one value per voxel, element 0 fastest. Counts
// slice reads and can fail chosen planes (by plane index, dimensions 2 and up flattened).
class MemoryImage : public ImageReader::ImageBase<unsigned short>
{
public:
    explicit MemoryImage(std::vector<int> size) : m_extent(std::move(size))
    {
        size_t n = 1;
        for (int e : m_extent)
            n *= static_cast<size_t>(e);
        voxels.assign(n, 0);
    }

    // Fills every voxel from its coordinates.
    void Fill(const std::function<unsigned short(const std::vector<int>&)>& f)
    {
        std::vector<int> c(m_extent.size(), 0);
        for (size_t i = 0; i < voxels.size(); ++i) {
            size_t r = i;
            for (size_t k = 0; k < m_extent.size(); ++k) {
                c[k] = static_cast<int>(r % static_cast<size_t>(m_extent[k]));
                r /= static_cast<size_t>(m_extent[k]);
            }
            voxels[i] = f(c);
        }
    }

    unsigned short& at(const std::vector<int>& c)
    {
        size_t i = 0, stride = 1;
        for (size_t k = 0; k < m_extent.size(); ++k) {
            i += static_cast<size_t>(c[k]) * stride;
            stride *= static_cast<size_t>(m_extent[k]);
        }
        return voxels[i];
    }

    ImageReader::Vector GetSize() override
    {
        ImageReader::Vector v;
        for (int e : m_extent)
            v.push_back(e);
        return v;
    }

    ImageReader::ImageSlice<unsigned short> GetSlice(const ImageReader::Vector& position) override
    {
        ++reads;
        size_t plane = 0, stride = 1;
        for (size_t k = 2; k < m_extent.size(); ++k) {
            plane += static_cast<size_t>(position[static_cast<int>(k) - 2]) * stride;
            stride *= static_cast<size_t>(m_extent[k]);
        }
        if (failing.count(plane))
            return {};
        const size_t n = static_cast<size_t>(m_extent[0]) * static_cast<size_t>(m_extent[1]);
        auto* buf = static_cast<unsigned short*>(std::malloc(n * sizeof(unsigned short)));
        std::memcpy(buf, voxels.data() + plane * n, n * sizeof(unsigned short));
        return ImageReader::ImageSlice<unsigned short>(ImageReader::Vector(m_extent[0], m_extent[1]), buf);
    }

    std::vector<unsigned short> voxels;
    std::set<size_t> failing;
    int reads = 0;

private:
    std::vector<int> m_extent;
};

inline ImageReader::Vector V(std::initializer_list<int> xs)
{
    ImageReader::Vector v;
    for (int x : xs)
        v.push_back(x);
    return v;
}

inline ImageReader::ImageSlice<unsigned short> MakeSlice(int w, int h, const std::vector<unsigned short>& values)
{
    auto* buf = static_cast<unsigned short*>(std::malloc(values.size() * sizeof(unsigned short) + 1));
    std::memcpy(buf, values.data(), values.size() * sizeof(unsigned short));
    return ImageReader::ImageSlice<unsigned short>(ImageReader::Vector(w, h), buf);
}

// Text drawing needs a QGuiApplication; the offscreen platform keeps the tests headless.
class QtEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "render_tests";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QGuiApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QGuiApplication> m_app;
};
