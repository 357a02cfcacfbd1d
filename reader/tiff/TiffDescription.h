#pragma once

#include <string>
#include <vector>

namespace ImageReader {

// Nanometres per unit for a length unit as microscopy files write it ("micron", "um", "µm",
// "nm", "mm", "cm", "m", "Å", ...); 0 for anything else (pixel, inch, empty).
double UnitInNm(const std::string& unit);

// What ImageJ writes into the image description of the files it saves.
struct ImageJDescription
{
    int images = 1;
    int channels = 1;
    int slices = 1;
    int frames = 1;
    double spacing = 0.0; // z step, in `unit`
    std::string unit;
    double frameIntervalS = 0.0; // finterval, in seconds (tunit applied); 0 when not given
};

// False when `text` is not an ImageJ description (it starts with "ImageJ=").
bool ParseImageJDescription(const std::string& text, ImageJDescription& out);

// The part of an OME-XML document that says how the planes of the first image are laid out.
struct OmeDescription
{
    std::string dimensionOrder = "XYZCT";
    long long sizeX = 0, sizeY = 0, sizeZ = 1, sizeC = 1, sizeT = 1;
    double physicalNm[3] = {0.0, 0.0, 0.0}; // x, y, z; 0 when not given or in an unknown unit
    std::vector<std::string> channelNames;
    int samplesPerPixel = 1; // of the first channel
    // Seconds between time points: TimeIncrement, else the planes' DeltaT; 0 when not given.
    double timeIncrementS = 0.0;
    // Which page holds which planes; empty when the file does not say (page k holds plane k).
    struct TiffData
    {
        long long ifd = 0;
        long long firstZ = 0, firstC = 0, firstT = 0;
        long long planeCount = -1; // -1: not given
        bool hasIfd = false;
        std::string file; // the file named by its UUID element; empty for this file
    };
    std::vector<TiffData> tiffData;
};

// Parses the OME-XML; false with a reason when it is not well-formed OME or has no image.
bool ParseOmeDescription(const std::string& xml, OmeDescription& out, std::string& error);

} // namespace ImageReader
