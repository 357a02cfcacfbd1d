// The line profile measured by a Ctrl-drag, the cursor profile along the profile dimension
// and the image properties dialog.
#include <QComboBox>
#include <QPainter>
#include <QTimer>
#include <algorithm>

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
    if (!BlockAtHand(start, end))
        return;
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
    const int pd = comboDimP->currentIndex() - 1;
    const Vector size = image ? image->GetSize() : Vector();
    const int n = static_cast<int>(size.size());
    if (!image || pd < 0 || pd >= n || curslice.size() != size.size()) {
        cursorprofile.reset();
        cursorProfileData = CursorProfileData();
        pictureProfile->update();
        return;
    }
    const ChannelChoice choice(*this);
    CursorProfileData wanted;
    wanted.pd = pd;
    wanted.c = choice.IsListMode() ? ChannelDimension() : -1;
    wanted.pos = curslice;
    wanted.pos[pd] = -1;
    if (wanted.c >= 0)
        wanted.pos[wanted.c] = -1;
    wanted.image = imageSerial;
    const auto draw = [this] {
        cursorprofile = std::make_unique<FlatProfileRenderer>(ChannelChoice(*this).ForMeasurement(), pictureProfile->height());
        cursorprofile->Calculate(cursorProfileData.slice, curslice[cursorProfileData.pd]);
        pictureProfile->update();
    };
    // The same line through the data: only the colours or the marked position changed.
    if (cursorProfileData.Same(wanted) && cursorProfileData.have) {
        draw();
        return;
    }

    // Every plane along the profile's dimension (and the channels) is read.
    double planes = 1;
    for (const int d : {pd, wanted.c})
        if (d >= 2)
            planes *= size[d];
    const double bytes = planes * static_cast<double>(image->PlaneBytes());
    if (!ReadsMayWait() && bytes <= inlineLimitBytes) {
        wanted.slice = image->GetMaximumProjection(pd, wanted.c, wanted.pos);
        wanted.have = true;
        cursorProfileData = std::move(wanted);
        draw();
        return;
    }
    // Long reads go to the worker; the old profile stays only while it is of the same line.
    if (!cursorProfileData.Same(wanted))
        cursorprofile.reset();
    if (cursorProfileData.Same(wanted) && !cursorProfileData.have)
        return; // already asked for
    cursorProfileData = wanted;
    ImageReader::SliceCache<unsigned short>* const source = image.get();
    work->Submit(kProfileSlot, [this, source, wanted, draw](ImageReader::ProjectionControl& control, std::uint64_t ticket) {
        ImageReader::ImageSlice<unsigned short> slice = source->GetMaximumProjection(wanted.pd, wanted.c, wanted.pos, &control);
        if (control.cancel)
            return;
        QMetaObject::invokeMethod(
            this,
            [this, wanted, draw, ticket, slice = std::move(slice)] {
                if (!work->IsCurrent(kProfileSlot, ticket) || !cursorProfileData.Same(wanted))
                    return;
                cursorProfileData.slice = slice;
                cursorProfileData.have = true;
                draw();
            },
            Qt::QueuedConnection);
    });
    if (!progressTimer->isActive())
        progressTimer->start();
    pictureProfile->update();
}

bool formImageViewer::BlockAtHand(const Vector& start, const Vector& end)
{
    if (!ReadsMayWait() || !image)
        return true;
    const Vector size = image->GetSize();
    const int n = static_cast<int>(size.size());
    if (start.size() != size.size() || end.size() != size.size())
        return true;
    // Every plane position (dimensions 2 and up) the block touches.
    std::vector<Vector> planes;
    Vector p = n > 2 ? start(2, Vector::end) : Vector();
    bool empty = false;
    for (int d = 2; d < n; ++d)
        empty = empty || start[d] >= end[d];
    while (!empty) {
        planes.push_back(p);
        int d = 0;
        for (; d < n - 2; ++d) {
            if (++p[d] < end[d + 2])
                break;
            p[d] = start[d + 2];
        }
        if (d == n - 2)
            break;
    }
    if (std::all_of(planes.begin(), planes.end(), [&](const Vector& q) { return !image->Peek(q).IsEmpty(); }))
        return true;
    const std::pair<Vector, Vector> block(start, end);
    // Asked for already, or read and still not all there (planes that cannot be read): the
    // measurement waits for a different block rather than asking again and again.
    if (block == blockRequested)
        return false;
    blockRequested = block;
    ImageReader::SliceCache<unsigned short>* const source = image.get();
    const std::uint64_t serial = imageSerial;
    work->Submit(kBlockSlot, [this, source, planes, serial](ImageReader::ProjectionControl& control, std::uint64_t) {
        control.total = planes.size();
        for (size_t k = 0; k < planes.size() && !control.cancel; ++k) {
            source->GetSlice(planes[k]);
            control.done = k + 1;
        }
        if (control.cancel)
            return;
        QMetaObject::invokeMethod(
            this,
            [this, serial] {
                if (serial != imageSerial)
                    return;
                UpdateMeasurement();
                pictureXY->update();
            },
            Qt::QueuedConnection);
    }, true);
    if (!progressTimer->isActive())
        progressTimer->start();
    return false;
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

void formImageViewer::UpdateMeasurement()
{
    if (meastype == 1)
        UpdateHistogram();
    else if (meastype == 2)
        UpdateProfile();
}

} // namespace ImageViewer
