#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ChannelHint.h"
#include "ImageBase.h"
#include "SampleType.h"

namespace ImageReader {

// An image source read from a file, which also knows the names and pixel sizes of its
// dimensions, the type of its samples and how its delivered 16-bit values stand for them.
template <class T>
class ImageReaderBase : public ImageBase<T>
{
public:
    // On failure the reader stays without dimensions (empty size) and GetError says why.
    virtual void Open(const std::filesystem::path& path) = 0;
    virtual void Close() = 0;
    virtual std::string GetDimName(unsigned int dim) = 0;
    // Pixel spacing in nanometres; 0 when not given.
    virtual double GetDimPixelSize(unsigned int dim) = 0;
    // Seconds from one index of a time dimension to the next where the file says (ImageJ
    // finterval, OME TimeIncrement or DeltaT, a time unit on an ICS or OME-Zarr axis); 0 for
    // other dimensions and when not given. Kept apart from the pixel size, which is a length.
    virtual double GetDimInterval(unsigned int) { return 0.0; }
    // The number the file itself gives index 0 of a dimension (a series numbered from 1
    // starts at 1), so that a position can be shown as the user's own file numbers.
    virtual int GetDimOrigin(unsigned int) { return 0; }
    // The name of one index of a dimension where the file names it (channel names, "red"
    // for the first sample of an RGB file); empty otherwise.
    virtual std::string GetIndexName(unsigned int, int) { return std::string(); }

    // The sample type the file holds, and the map from delivered values to real ones.
    virtual SampleType GetSampleType() { return SampleType::UInt16; }
    virtual ValueMap GetValueMap() { return ValueMap(); }
    // The real value at a full position (x, y, then the plane's coordinates); nothing when the
    // position is outside the image or its plane cannot be read. Readers whose map is not
    // exact override this to read the file's own value.
    virtual std::optional<double> GetValue(const Vector& position);
    // What was opened, for titles and the properties dialog ("ICS", "TIFF series", ...).
    virtual std::string GetFormatName() { return std::string(); }
    // Why the last Open failed, in words a user understands; empty after a successful Open.
    virtual std::string GetError() { return std::string(); }

    // Reads may wait on a network: the window then never reads on its own thread.
    virtual bool IsRemote() { return false; }
    // Why the image's server is taken as failing (its requests are slowed), for the window to
    // say once; "" while it is not. ForgetFailures asks again at once for what failed (reload).
    virtual std::string GetTrouble() const { return std::string(); }
    virtual void ForgetFailures() {}

    // Display hints for the entries of one dimension, and which dimension that is (-1: none).
    virtual int GetChannelHintDim() { return -1; }
    virtual std::vector<ChannelHint> GetChannelHints() { return {}; }

    // Wavelengths in nm of the indices of a channel or spectral dimension, where the file
    // gives them (emission wavelengths, a calibrated wavelength axis); empty otherwise.
    virtual std::vector<double> GetIndexWavelengths(unsigned int) { return {}; }

    // Where the cursor starts: one index per dimension (x and y included), -1 for a
    // dimension left at its usual place (the middle); empty: every dimension as usual. A
    // series opened at one of its files starts on that file's plane.
    virtual Vector GetInitialPosition() { return Vector(); }

    // Coarser copies of the image stored beside it (a resolution pyramid), finest first;
    // level 0 is this reader. OpenLevel gives an independent reader of a coarser level that
    // shares this one's data and connections (null for level 0 or one that does not exist).
    // Levels have the same dimensions, names and value map; only extents and pixel sizes differ.
    virtual int GetLevelCount() const { return 1; }
    virtual std::unique_ptr<ImageReaderBase<T>> OpenLevel(int) { return nullptr; }

    // The memory the caller allows for this image (the plane cache it puts over the reader).
    // A reader that keeps data of its own, such as downloaded chunks, takes a share of it and
    // returns that share, for the caller to leave out of its own cache. 0: keeps nothing.
    // Called after Open; may be called again, also while reads run on other threads.
    virtual size_t SetMemoryBudget(size_t) { return 0; }
};

template <class T>
std::optional<double> ImageReaderBase<T>::GetValue(const Vector& position)
{
    const Vector size = this->GetSize();
    if (size.size() < 2 || position.size() != size.size())
        return std::nullopt;
    for (int i = 0; i < static_cast<int>(size.size()); ++i)
        if (position[i] < 0 || position[i] >= size[i])
            return std::nullopt;
    const ImageSlice<T> slice = this->GetSlice(position(2, Vector::end));
    const Vector ss = slice.GetSize();
    if (slice.IsEmpty() || ss.size() < 2 || ss[0] != size[0] || ss[1] != size[1])
        return std::nullopt;
    const size_t at = static_cast<size_t>(position[1]) * static_cast<size_t>(size[0]) + static_cast<size_t>(position[0]);
    const double value = slice.GetData()[at];
    if (!slice.IsIntact())
        return std::nullopt; // the file was cut: a zero, not its value
    return GetValueMap().ToReal(value);
}

} // namespace ImageReader
