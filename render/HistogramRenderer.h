#pragma once

#include <QImage>

#include "ImageBase.h"
#include "ImageChannel.h"
#include "SampleType.h"

class QPainter;

namespace ImageViewer {

// Per-channel histograms of one plane on a logarithmic count scale, drawn into a bitmap.
class HistogramRenderer
{
public:
    HistogramRenderer(int dim, ChannelListPtr channels);
    explicit HistogramRenderer(int dim);

    void AddChannel(ChannelPtr channel);
    // width = number of bins = bitmap width.
    void Calculate(ImageReader::ImageBase<unsigned short>& image, int width, int height);
    // Backdrop, grid, labels and the bitmap with its top-left corner at (left, top).
    void Render(QPainter& graphics, int left, int top);

    ChannelListPtr m_channels;
    int m_channeldim;
    QImage m_bitmap; // null: none
    int m_binmax = 0;
    int m_valmin = 0;
    int m_valmax = 0;
    // What the display values stand for: the labels show real values.
    ImageReader::ValueMap m_valuemap;
    ImageReader::SampleType m_sampletype = ImageReader::SampleType::UInt16;
};

} // namespace ImageViewer
