#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ImageReaderBase.h"
#include "SliceCache.h"
#include "Vector.h"

namespace ImageViewer {

// An opened image with what reading it needs: the reader, its slice cache within the memory
// budget, and the coarser levels of a multiscale image with caches of their own.
//
// Members are declared so that caches go before the readers they read through.
struct ImageSession
{
    using Reader = ImageReader::ImageReaderBase<unsigned short>;
    using Cache = ImageReader::SliceCache<unsigned short>;

    ImageSession() = default;
    ~ImageSession() { Close(); }
    ImageSession(const ImageSession&) = delete;
    ImageSession& operator=(const ImageSession&) = delete;

    // Takes `newReader` as the image (closing the one before) with `budgetBytes` for its
    // planes (0: the default); false, changing nothing, for a reader without dimensions.
    bool Open(std::unique_ptr<Reader> newReader, size_t budgetBytes);
    void Close();
    bool IsOpen() const { return image != nullptr; }

    ImageReader::Vector Size() const { return levelSizes.empty() ? ImageReader::Vector() : levelSizes[0]; }
    int LevelCount() const { return std::max(1, static_cast<int>(levelSizes.size())); }
    // The cached source of `level` (level 0 or an unknown level: the full resolution).
    ImageReader::ImageBase<unsigned short>& Level(int level);
    // Reads may wait (a network, a pyramid's full level): the model's thread then only uses
    // what is at hand.
    bool ReadsMayWait() const;
    // The level view axes (xdim, ydim) show at `zoomX`, `zoomY` device pixels per full
    // resolution pixel: the finest whose pixels still cover a device pixel.
    int MatchingLevel(int xdim, int ydim, double zoomX, double zoomY) const;
    // Shares `totalBytes` out: the reader's chunk store first, then the full level, then the
    // coarser levels.
    void ApplyBudget(size_t totalBytes);
    // Names of the dimensions.
    std::vector<std::string> DimensionNames() const;

    std::unique_ptr<Reader> reader;
    std::unique_ptr<Cache> image;
    // Entry L is level L; entry 0 stays empty (level 0 is `reader` and `image`).
    std::vector<std::unique_ptr<Reader>> levelReaders;
    std::vector<std::unique_ptr<Cache>> levelImages;
    std::vector<ImageReader::Vector> levelSizes; // every level's size, level 0 included
    // Counts opens, so that data of an earlier image never matches a view key.
    std::uint64_t serial = 0;

private:
    void openLevels();
};

} // namespace ImageViewer
