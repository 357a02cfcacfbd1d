#pragma once

#include <QImage>
#include <QString>

#include "ImageBase.h"
#include "ImageChannel.h"
#include "SampleType.h"

class QPainter;

namespace ImageViewer {

// Intensity profile along a line of one plane, drawn standing on the line itself.
class ProfileRenderer
{
public:
    ProfileRenderer(int dim, ChannelListPtr channels, int height);
    ProfileRenderer(int dim, ChannelListPtr channels);
    explicit ProfileRenderer(int dim);

    void AddChannel(ChannelPtr channel);
    // start/end: elements 0 and 1 are the line's end points in plane pixels; dist in nm.
    void Calculate(ImageReader::ImageBase<unsigned short>& image, const ImageReader::Vector& start,
                   const ImageReader::Vector& end, int dist);
    void Render(QPainter& graphics, const ImageReader::Vector& start, const ImageReader::Vector& end,
                bool renderText);

    ChannelListPtr m_channels;
    int m_channeldim;
    QImage m_bitmap; // null: none
    int m_valmin = 0;
    int m_valmax = 0;
    int m_dist = 0;
    int m_height;
    // What the display values stand for: the labels show real values.
    ImageReader::ValueMap m_valuemap;
    ImageReader::SampleType m_sampletype = ImageReader::SampleType::UInt16;
};

// The physical length label: "850 nm", "12.3 µm", "2.5 mm", empty for 0 and >= 1 m.
QString FormatLength(int dist);

// Profile along one dimension from a block with one row per channel, with a marker.
class FlatProfileRenderer
{
public:
    FlatProfileRenderer(ChannelListPtr channels, int height);
    explicit FlatProfileRenderer(ChannelListPtr channels);

    void AddChannel(ChannelPtr channel);
    void Calculate(const ImageReader::ImageSlice<unsigned short>& slice, int pos);
    // Paints the bitmap stretched into the rectangle from start to end.
    void Render(QPainter& graphics, const ImageReader::Vector& start, const ImageReader::Vector& end);

    ChannelListPtr m_channels;
    QImage m_bitmap; // null: none
    int m_height;
};

} // namespace ImageViewer
