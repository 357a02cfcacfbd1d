#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Synthetic microscopy data for demonstrations, tests and benchmarks.
namespace DemoData {

// A dense image, dimension 0 fastest; one name, pixel size and unit per dimension
// (an empty unit means "not calibrated").
struct Volume
{
    std::vector<int> dims;
    std::vector<std::string> names;
    std::vector<double> pixelsize;
    std::vector<std::string> units;
    std::vector<uint16_t> data;

    size_t index(int x, int y, int z, int c) const
    {
        return ((static_cast<size_t>(c) * dims[2] + z) * dims[1] + y) * dims[0] + x;
    }
};

// A field of cells (x, y, z, ch) with 3 channels: nuclei, membranes with a dim cytoplasm,
// and small vesicles, on a camera-like background with shot noise. x and y are sampled at
// 100 nm, z at 300 nm. The same seed always gives the same image.
Volume MakeCells(int width, int height, int depth, uint32_t seed = 1);

// A spectral image (x, y, wl: the wavelength) of `samples` spectral samples: regions whose emission
// peaks lie at different wavelengths under the viewer's default calibration.
Volume MakeSpectral(int width, int height, int samples, uint32_t seed = 2);

// Writes a single-file ICS (version 2) image. Returns false on failure.
bool WriteICS(const Volume& volume, const std::filesystem::path& file);

// Writes a 4-D volume (x, y, z, c) as one 16-bit TIFF per plane named
// <prefix>_z<zzz>_c<c>.tif in `folder`. Returns false on failure.
bool WriteTIFFSeries(const Volume& volume, const std::filesystem::path& folder, const std::string& prefix);

} // namespace DemoData
