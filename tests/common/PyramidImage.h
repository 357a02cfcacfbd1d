#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ChannelHint.h"
#include "ImageReaderBase.h"

// Holds back full-resolution reads off the owning thread until opened, so that a test can
// see what is shown before them. Reads on the owning thread pass and are counted.
struct ReadGate
{
    std::mutex lock;
    std::condition_variable changed;
    bool open = true;
    int waiting = 0; // reads held back right now
    std::thread::id owner = std::this_thread::get_id();
    std::atomic<int> ownerReads{0}; // full-resolution reads on the owning thread

    void Pass()
    {
        if (std::this_thread::get_id() == owner) {
            ++ownerReads;
            return;
        }
        std::unique_lock<std::mutex> hold(lock);
        ++waiting;
        changed.notify_all();
        // Bounded, so that a fault shows as a failed check rather than a hung test.
        changed.wait_for(hold, std::chrono::seconds(20), [this] { return open; });
        --waiting;
    }
    void Set(bool value)
    {
        {
            const std::lock_guard<std::mutex> hold(lock);
            open = value;
        }
        changed.notify_all();
    }
    // Until a read is held back; false after 20 s without one.
    bool WaitForHeldRead()
    {
        std::unique_lock<std::mutex> hold(lock);
        return changed.wait_for(hold, std::chrono::seconds(20), [this] { return waiting > 0; });
    }
};

// A pyramid of x, y, z (and optionally channels): level L halves x, y and z (rounding up)
// L times. Sample (x, y, z, c) of level L is 1000 * L + 100 * c + z, in the level's own
// coordinates, plus 50 in the right half, so a picture tells which level and plane it came
// from and where it was drawn. Pixel sizes 100 nm at full resolution.
class PyramidImage : public ImageReader::ImageReaderBase<unsigned short>
{
public:
    PyramidImage(std::vector<int> size, int levels, std::shared_ptr<ReadGate> gate = nullptr, int level = 0,
                 std::vector<ImageReader::ChannelHint> hints = {})
        : m_full(std::move(size)), m_levels(levels), m_level(level), m_gate(std::move(gate)), m_hints(std::move(hints))
    {
    }

    static int Extent(int full, int level) { return (full + (1 << level) - 1) >> level; }

    ImageReader::Vector GetSize() override
    {
        ImageReader::Vector v;
        for (size_t d = 0; d < m_full.size(); ++d)
            v.push_back(d < 3 ? Extent(m_full[d], m_level) : m_full[d]);
        return v;
    }
    ImageReader::ImageSlice<unsigned short> GetSlice(const ImageReader::Vector& pos) override
    {
        if (m_level == 0 && m_gate)
            m_gate->Pass();
        const ImageReader::Vector s = GetSize();
        const int z = pos.size() > 0 ? pos[0] : 0;
        const int c = pos.size() > 1 ? pos[1] : 0;
        const size_t n = static_cast<size_t>(s[0]) * static_cast<size_t>(s[1]);
        auto* buf = static_cast<unsigned short*>(std::malloc(n * sizeof(unsigned short)));
        const auto base = static_cast<unsigned short>(1000 * m_level + 100 * c + z);
        for (int y = 0; y < s[1]; ++y)
            for (int x = 0; x < s[0]; ++x)
                buf[static_cast<size_t>(y) * static_cast<size_t>(s[0]) + static_cast<size_t>(x)] =
                    static_cast<unsigned short>(base + (2 * x >= s[0] ? 50 : 0));
        return ImageReader::ImageSlice<unsigned short>(ImageReader::Vector(s[0], s[1]), buf);
    }
    void Open(const std::filesystem::path&) override {}
    void Close() override {}
    std::string GetDimName(unsigned int dim) override
    {
        static const char* names[] = {"x", "y", "z", "c"};
        return dim < 4 ? names[dim] : std::string();
    }
    double GetDimPixelSize(unsigned int dim) override { return dim < 3 ? 100.0 * (1 << m_level) : 0.0; }
    int GetLevelCount() const override { return m_levels; }
    std::unique_ptr<ImageReader::ImageReaderBase<unsigned short>> OpenLevel(int level) override
    {
        if (level <= 0 || level >= m_levels)
            return nullptr;
        return std::make_unique<PyramidImage>(m_full, m_levels, m_gate, level, m_hints);
    }
    int GetChannelHintDim() override { return m_hints.empty() ? -1 : 3; }
    std::vector<ImageReader::ChannelHint> GetChannelHints() override { return m_hints; }
    std::string GetIndexName(unsigned int dim, int index) override
    {
        return dim == 3 && index >= 0 && index < static_cast<int>(m_hints.size()) ? m_hints[static_cast<size_t>(index)].name
                                                                                   : std::string();
    }

private:
    std::vector<int> m_full;
    int m_levels;
    int m_level;
    std::shared_ptr<ReadGate> m_gate;
    std::vector<ImageReader::ChannelHint> m_hints;
};
