#pragma once

#include <vector>

#include "Vector.h"

namespace ImageViewer {

// The region histogram's bitmap size on screen.
struct BitmapSize
{
    int width = 0;
    int height = 0;
};

// What the XY view's measurements take from the image: the block a region histogram or a
// line profile reads, the dimension order that puts the view's plane first, and the
// physical length of a line. It knows the image size, the view axes dx and dy and the
// channel dimension; the widget handlers only build renderers from its answers.
class Measurement
{
public:
    // Sides of the region histogram's bitmap are capped so that a drag at high zoom
    // cannot ask for gigabytes.
    static constexpr int MaxBitmapSide = 4096;

    // cd: the channel dimension as chosen (negative for none); listMode: whether the
    // channel list applies (cd has fewer than 10 entries).
    Measurement(const ImageReader::Vector& size, int dx, int dy, int cd, bool listMode);

    // Both view axes are real and distinct dimensions of the image.
    bool HasAxes() const;

    // Block [start, end) of the rectangle from measstart to measend (both corners
    // included), clamped to the image, through the cursor elsewhere and over all channels
    // in list mode. False, leaving start and end alone, for a rectangle that does not run
    // right and down from its start.
    bool RegionBlock(const ImageReader::Vector& measstart, const ImageReader::Vector& measend,
                     const ImageReader::Vector& curslice, ImageReader::Vector& start, ImageReader::Vector& end) const;

    // A line is measured only with both ends inside the image and apart.
    bool LineAccepted(const ImageReader::Vector& measstart, const ImageReader::Vector& measend) const;

    // Block [start, end) of the whole view plane through the cursor (all channels in list
    // mode): what a line profile samples.
    void PlaneBlock(const ImageReader::Vector& curslice, ImageReader::Vector& start, ImageReader::Vector& end) const;

    // (dx, dy, the other dimensions ascending).
    ImageReader::Vector Order() const;
    // Position of the channel dimension in Order(), -1 without one.
    int ChannelDim() const;

    // The bitmap of a w x h block drawn at zooms zx and zy; non-finite or non-positive
    // products give 0.
    static BitmapSize RegionBitmapSize(int w, int h, double zx, double zy);

    // Length in nm of the line from measstart to measend; a dimension without a pixel size
    // contributes nothing.
    int LineLength(const ImageReader::Vector& measstart, const ImageReader::Vector& measend,
                   const std::vector<double>& pixelsize) const;

private:
    bool inside(const ImageReader::Vector& p) const;
    ImageReader::Vector orderAndChannel(int& chdim) const;

    ImageReader::Vector m_size;
    int m_dx;
    int m_dy;
    int m_cd;
    bool m_listMode;
};

} // namespace ImageViewer
