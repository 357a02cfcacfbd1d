#pragma once

// Helpers of the headless viewer tests: reading a picture's pixels, the views a change
// recomputes, and an in-memory image that carries what a file reader reports besides its
// samples (channel hints, a start position, wavelengths).

#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "FormulaImage.h"
#include "Viewer.h"

namespace ViewerTestKit {

using namespace ImageViewer;

// Red, green and blue of a picture's pixel (pictures are stored blue, green, red, 0).
inline std::array<int, 3> Rgb(const ViewPicture& p, int x, int y)
{
    const unsigned char* px = p.pixels.get() + 4 * (static_cast<size_t>(y) * static_cast<size_t>(p.width) + static_cast<size_t>(x));
    return {px[2], px[1], px[0]};
}

inline bool SameBytes(const ViewPicture& a, const ViewPicture& b)
{
    if (a.IsNull() || b.IsNull())
        return a.IsNull() == b.IsNull();
    return a.width == b.width && a.height == b.height &&
           std::memcmp(a.pixels.get(), b.pixels.get(), 4 * static_cast<size_t>(a.width) * static_cast<size_t>(a.height)) == 0;
}

// A copy of `p` that outlives the viewer's next picture.
inline ViewPicture Copy(const ViewPicture& p)
{
    ViewPicture c;
    c.width = p.width;
    c.height = p.height;
    if (p.IsNull())
        return c;
    const size_t bytes = 4 * static_cast<size_t>(p.width) * static_cast<size_t>(p.height);
    c.pixels.reset(static_cast<unsigned char*>(std::malloc(bytes)));
    std::memcpy(c.pixels.get(), p.pixels.get(), bytes);
    return c;
}

inline bool AnyLit(const ViewPicture& p)
{
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            if (Rgb(p, x, y) != std::array<int, 3>{0, 0, 0})
                return true;
    return false;
}

// Views (ViewBit mask) that `action` made pictures of, once the work it started is done.
inline int RecomputedBy(Viewer& v, const std::function<void()>& action)
{
    const std::array<int, 3> before = v.recomputeCount;
    action();
    v.Wait();
    int mask = 0;
    for (int i = 0; i < 3; ++i)
        if (v.recomputeCount[static_cast<size_t>(i)] != before[static_cast<size_t>(i)])
            mask |= 1 << i;
    return mask;
}

inline FormulaImage& Source(Viewer& v)
{
    return static_cast<FormulaImage&>(*v.Session().reader);
}

// A formula image that also reports a channel dimension with hints, a start position and
// one wavelength per index of a dimension, as file readers do.
class FileLikeImage : public FormulaImage
{
public:
    using FormulaImage::FormulaImage;
    int hintDim = -1;
    std::vector<ImageReader::ChannelHint> hints;
    ImageReader::Vector initial;
    int wavelengthDim = -1;
    std::vector<double> wavelengths;

    int GetChannelHintDim() override { return hintDim; }
    std::vector<ImageReader::ChannelHint> GetChannelHints() override { return hints; }
    ImageReader::Vector GetInitialPosition() override { return initial; }
    std::vector<double> GetIndexWavelengths(unsigned int dim) override
    {
        return static_cast<int>(dim) == wavelengthDim ? wavelengths : std::vector<double>();
    }
};

inline std::unique_ptr<FormulaImage> Image(std::vector<int> size, std::vector<std::string> names, FormulaImage::Formula f,
                                           std::vector<double> pixelsize = {})
{
    return std::make_unique<FormulaImage>(std::move(size), std::move(f), std::move(names), std::move(pixelsize));
}

} // namespace ViewerTestKit
