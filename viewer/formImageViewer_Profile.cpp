// The line profile measured by a Ctrl-drag, the cursor profile along the profile dimension
// and the image properties dialog.
#include <QComboBox>
#include <QPainter>

#include "ChannelChoice.h"
#include "ImagePermutation.h"
#include "Measurement.h"
#include "PictureBox.h"
#include "TablePanel.h"
#include "formImageProperties.h"
#include "formImageViewer.h"

namespace ImageViewer {

using ImageReader::Vector;

Measurement formImageViewer::XYMeasurement() const
{
    return Measurement(image->GetSize(), comboDimX->currentIndex(), comboDimY->currentIndex(), ChannelDimension(),
                       ChannelChoice(*this).IsListMode());
}

void formImageViewer::UpdateProfile()
{
    if (!image)
        return;
    const Measurement m = XYMeasurement();
    if (!m.LineAccepted(measstart, measend) || curslice.size() != image->GetSize().size())
        return;

    Vector start, end;
    m.PlaneBlock(curslice, start, end);
    ImageReader::ImageVolume<unsigned short> block = image->GetVolume(start, end);
    ImageReader::ImagePermutation<unsigned short> plane(&block, m.Order());
    profile = std::make_unique<ProfileRenderer>(m.ChannelDim(), ChannelChoice(*this).ForMeasurement());
    profile->m_valuemap = reader->GetValueMap();
    profile->m_sampletype = reader->GetSampleType();
    const int dx = comboDimX->currentIndex();
    const int dy = comboDimY->currentIndex();
    const Vector p1(measstart[dx], measstart[dy]);
    const Vector p2(measend[dx], measend[dy]);
    profile->Calculate(plane, p1, p2, m.LineLength(measstart, measend, properties.m_pixelsize));
}

void formImageViewer::UpdateCursorProfile()
{
    cursorprofile.reset();
    const int pd = comboDimP->currentIndex() - 1;
    if (image && pd >= 0) {
        const Vector size = image->GetSize();
        const int n = static_cast<int>(size.size());
        const ChannelChoice choice(*this);
        const int c = choice.IsListMode() ? ChannelDimension() : -1;
        if (pd < n && curslice.size() == size.size()) {
            Vector pos = curslice;
            pos[pd] = -1;
            if (c >= 0)
                pos[c] = -1;
            const ImageReader::ImageSlice<unsigned short> slice = image->GetMaximumProjection(pd, c, pos);
            cursorprofile = std::make_unique<FlatProfileRenderer>(choice.ForMeasurement(), pictureProfile->height());
            cursorprofile->Calculate(slice, curslice[pd]);
        }
    }
    pictureProfile->update();
}

void formImageViewer::pictureProfile_Paint(QPainter& e)
{
    if (!image || !cursorprofile)
        return;
    cursorprofile->Render(e, Vector(0, 0), Vector(pictureProfile->width(), pictureProfile->height()));
}

void formImageViewer::propertiesToolStripMenuItem_Click()
{
    if (!image)
        return;
    formImageProperties dialog(properties, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    dialog.GetProperties(); // writes the sizes back into properties
    // New pixel sizes change the physical aspect: a fitted view fits it again.
    if (fitted)
        FitToWindow();
    UpdateLayout();
    layoutImage->update();
    for (PictureBox* view : {pictureProfile, pictureXZ, pictureYZ, pictureXY})
        view->update();
}

} // namespace ImageViewer
