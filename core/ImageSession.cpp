#include "ImageSession.h"

#include <algorithm>

#include "ViewMath.h"

namespace ImageViewer {

bool ImageSession::Open(std::unique_ptr<Reader> newReader, size_t budgetBytes)
{
    if (!newReader || newReader->GetSize().size() == 0)
        return false;
    Close();
    reader = std::move(newReader);
    image = std::make_unique<Cache>(reader.get(), budgetBytes);
    levelSizes = {image->GetSize()};
    ++serial;
    openLevels();
    ApplyBudget(budgetBytes ? budgetBytes : Cache::DefaultBudget());
    return true;
}

void ImageSession::Close()
{
    levelImages.clear();
    levelReaders.clear();
    levelSizes.clear();
    if (image)
        image->Clear();
    image.reset();
    reader.reset();
}

void ImageSession::openLevels()
{
    const int count = reader->GetLevelCount();
    levelImages.emplace_back();
    levelReaders.emplace_back();
    // A level is used only when it has the image's dimensions and is no larger than the one
    // before it; the first that is not ends the pyramid.
    for (int level = 1; level < count; ++level) {
        std::unique_ptr<Reader> r = reader->OpenLevel(level);
        const ImageReader::Vector size = r ? r->GetSize() : ImageReader::Vector();
        const ImageReader::Vector& finer = levelSizes.back();
        bool fits = size.size() == finer.size();
        for (int d = 0; fits && d < static_cast<int>(size.size()); ++d)
            fits = size[d] >= 1 && size[d] <= finer[d];
        if (!fits)
            break;
        levelImages.push_back(std::make_unique<Cache>(r.get(), 0));
        levelReaders.push_back(std::move(r));
        levelSizes.push_back(size);
    }
    if (levelSizes.size() < 2) {
        levelImages.clear();
        levelReaders.clear();
    }
}

ImageReader::ImageBase<unsigned short>& ImageSession::Level(int level)
{
    if (level > 0 && static_cast<size_t>(level) < levelImages.size() && levelImages[static_cast<size_t>(level)])
        return *levelImages[static_cast<size_t>(level)];
    return *image;
}

bool ImageSession::ReadsMayWait() const
{
    return LevelCount() > 1 || (reader && reader->IsRemote());
}

int ImageSession::MatchingLevel(int xdim, int ydim, double zoomX, double zoomY) const
{
    if (LevelCount() < 2)
        return 0;
    const ImageReader::Vector& full = levelSizes[0];
    const int n = static_cast<int>(full.size());
    if (xdim < 0 || ydim < 0 || xdim >= n || ydim >= n)
        return 0;
    std::vector<std::pair<double, double>> factors;
    for (const ImageReader::Vector& s : levelSizes)
        factors.emplace_back(static_cast<double>(full[xdim]) / std::max(1, s[xdim]),
                             static_cast<double>(full[ydim]) / std::max(1, s[ydim]));
    return ImageViewer::MatchingLevel(factors, zoomX, zoomY);
}

void ImageSession::ApplyBudget(size_t total)
{
    if (!image)
        return;
    // A remote reader keeps downloaded chunks: their share comes out of the budget first.
    const size_t budget = total - std::min(total, reader->SetMemoryBudget(total));
    // The coarser levels share half of the rest: together they are at most a third of the
    // full-resolution data of a 2x pyramid, and the views mostly read one level at a time.
    if (levelImages.size() < 2) {
        image->SetBudget(budget);
        return;
    }
    image->SetBudget(budget / 2);
    const size_t share = budget / 2 / (levelImages.size() - 1);
    for (const auto& level : levelImages)
        if (level)
            level->SetBudget(share);
}

std::vector<std::string> ImageSession::DimensionNames() const
{
    std::vector<std::string> names;
    if (!reader)
        return names;
    for (unsigned d = 0; d < reader->GetSize().size(); ++d)
        names.push_back(reader->GetDimName(d));
    return names;
}

} // namespace ImageViewer
