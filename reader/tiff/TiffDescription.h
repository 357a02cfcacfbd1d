#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ChannelHint.h"

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
    // The display range ImageJ saved (of the image, or of the channel shown when saved).
    bool hasRange = false;
    double min = 0.0, max = 0.0;
};

// False when `text` is not an ImageJ description (it starts with "ImageJ=").
bool ParseImageJDescription(const std::string& text, ImageJDescription& out);

// What ImageJ keeps in its private tags (50838 holds the byte counts of the parts of 50839):
// per-channel display ranges and lookup tables.
struct ImageJMetadata
{
    std::vector<double> ranges;                 // min, max per channel
    std::vector<std::vector<std::uint8_t>> luts; // 768 bytes each: 256 reds, greens, blues
};

// Reads the parts of the metadata block it knows; false when `data` is not one (it starts
// with "IJIJ", or "JIJI" in a little-endian file). Counts beyond the block are not trusted.
bool ParseImageJMetadata(const unsigned char* data, size_t size, const std::uint32_t* counts, size_t countCount,
                         ImageJMetadata& out);

// Channel hints for an ImageJ image of `channels` channels: each LUT as the colour of its
// ramp (or as itself when it is no ramp from black) and the ranges, else the description's
// min and max for every channel. Empty when the file gives nothing.
std::vector<ChannelHint> ImageJChannelHints(const ImageJDescription& description, const ImageJMetadata& metadata,
                                            int channels);

// The part of an OME-XML document that says how the planes of the first image are laid out.
struct OmeDescription
{
    std::string dimensionOrder = "XYZCT";
    long long sizeX = 0, sizeY = 0, sizeZ = 1, sizeC = 1, sizeT = 1;
    double physicalNm[3] = {0.0, 0.0, 0.0}; // x, y, z; 0 when not given or in an unknown unit
    std::vector<std::string> channelNames;
    // Colour (from the signed RGBA integer Color) and EmissionWavelength of each channel,
    // one per channelNames entry.
    std::vector<ChannelHint> channelHints;
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
