// The status bar: cursor and mouse positions in pixels and physical units, and the value of
// every channel under the mouse.
#include <QLabel>
#include <QListWidget>
#include <QStatusBar>
#include <QTimer>
#include <cmath>
#include <optional>

#include "ChannelChoice.h"
#include "formImageViewer.h"

namespace ImageViewer {

using ImageReader::Vector;

namespace {

// "x 12 y 40 z 3 (1.2 µm, 4 µm, 900 nm)": physical units only for dimensions whose pixel
// size is known.
QString describePosition(formImageViewer& w, const Vector& p)
{
    QStringList pixels, physical;
    for (int i = 0; i < static_cast<int>(p.size()); ++i) {
        const auto k = static_cast<size_t>(i);
        const QString name = k < w.properties.m_dimname.size() ? QString::fromStdString(w.properties.m_dimname[k])
                                                               : QString::number(i);
        // A series numbered from 1 (or any other number) shows the file's own number.
        const int origin = w.model->Session().reader ? w.model->Session().reader->GetDimOrigin(static_cast<unsigned int>(i)) : 0;
        pixels << name + QLatin1Char(' ') + QString::number(p[i]) +
                      (origin != 0 ? QStringLiteral(" [#%1]").arg(static_cast<long long>(p[i]) + origin) : QString());
        const double size = k < w.properties.m_pixelsize.size() ? w.properties.m_pixelsize[k] : 0.0;
        if (size > 0 && std::isfinite(size))
            physical << QString::fromStdString(FormatLength(p[i] * size));
    }
    QString text = pixels.join(QLatin1Char(' '));
    if (!physical.isEmpty())
        text += QStringLiteral(" (") + physical.join(QStringLiteral(", ")) + QLatin1Char(')');
    return text;
}

} // namespace

std::optional<double> formImageViewer::RealValueAt(const Vector& p)
{
    valuePending = false;
    if (!reader || !image)
        return std::nullopt;
    const Vector size = image->GetSize();
    if (p.size() != size.size() || size.size() < 2)
        return std::nullopt;
    for (int i = 0; i < static_cast<int>(p.size()); ++i)
        if (p[i] < 0 || p[i] >= size[i])
            return std::nullopt;
    if (ReadsMayWait())
        return WaitedValueAt(p);
    const ImageReader::ValueMap map = reader->GetValueMap();
    // Other than for exact integer maps, the 16-bit plane only approximates the file's value.
    if (!map.IsExact() || ImageReader::IsFloat(reader->GetSampleType()))
        return reader->GetValue(p);
    // Planes the views showed are in the cache: no file access per mouse move.
    const ImageReader::ImageSlice<unsigned short> slice = image->GetSlice(p(2, Vector::end));
    const Vector ss = slice.GetSize();
    if (slice.IsEmpty() || ss.size() < 2 || p[0] >= ss[0] || p[1] >= ss[1])
        return std::nullopt;
    const size_t at = static_cast<size_t>(p[1]) * static_cast<size_t>(ss[0]) + static_cast<size_t>(p[0]);
    const double value = slice.GetData()[at];
    if (!slice.IsIntact())
        return std::nullopt; // lent from a file cut since: missing, not zero
    return map.ToReal(value);
}

std::optional<double> formImageViewer::WaitedValueAt(const Vector& p)
{
    // The file's own value at full resolution, never the display approximation of a
    // coarser plane: read on the worker, "..." meanwhile, then the value or "missing".
    const auto known = remoteValues.find(p);
    if (known != remoteValues.end())
        return known->second;
    valuePending = true;
    if (!remoteAsked.insert(p).second)
        return std::nullopt;
    // One job reads every position still asked for, so a newer request (which replaces the
    // slot's pending job) never drops an older one: every readout is answered. It is queued
    // after the views this event asks for: their (coarse) pictures come first.
    if (remoteValues.size() > 4096)
        remoteValues.clear();
    const std::uint64_t serial = imageSerial;
    QMetaObject::invokeMethod(this, [this, serial] {
        if (serial != imageSerial || remoteAsked.empty())
            return;
        const std::vector<Vector> positions(remoteAsked.begin(), remoteAsked.end());
        ImageReader::ImageReaderBase<unsigned short>* const source = reader.get();
        work->Submit(kValueSlot, [this, source, positions, serial](ImageReader::ProjectionControl& control, std::uint64_t) {
            std::vector<std::pair<Vector, std::optional<double>>> read;
            for (const Vector& at : positions) {
                if (control.cancel.load(std::memory_order_relaxed))
                    break;
                const std::optional<double> value = source->GetValue(at);
                // A read cut short by a stop says nothing about the value.
                if (control.cancel.load(std::memory_order_relaxed))
                    break;
                read.emplace_back(at, value);
            }
            QMetaObject::invokeMethod(
                this,
                [this, serial, positions, read = std::move(read)] {
                    if (serial != imageSerial)
                        return;
                    // Positions this job did not answer are asked again by the next readout.
                    for (const Vector& at : positions)
                        remoteAsked.erase(at);
                    for (const auto& [at, value] : read)
                        remoteValues[at] = value;
                    ShowCursorValue();
                    UpdateStatus();
                },
                Qt::QueuedConnection);
        }, true);
    }, Qt::QueuedConnection);
    return std::nullopt;
}

void formImageViewer::BuildStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    bar->setSizeGripEnabled(true);
    statusCursor = new QLabel(bar);
    statusCursor->setObjectName(QStringLiteral("statusCursor"));
    statusMouse = new QLabel(bar);
    statusMouse->setObjectName(QStringLiteral("statusMouse"));
    statusValues = new QLabel(bar);
    statusValues->setObjectName(QStringLiteral("statusValues"));
    bar->addWidget(statusCursor);
    bar->addWidget(statusMouse);
    bar->addWidget(statusValues, 1);
}

void formImageViewer::ClearReadouts()
{
    mousePosition = Vector();
    for (QLabel* label : {statusCursor, statusMouse, statusValues, lblPixelValue, lblMin, lblMax})
        label->clear();
    histogramAxis = PanelAxis();
}

void formImageViewer::SetMousePosition(const Vector& mouse, int dx, int dy)
{
    if (mouse == mousePosition && dx == mouseDims[0] && dy == mouseDims[1])
        return;
    mousePosition = mouse;
    mouseDims[0] = dx;
    mouseDims[1] = dy;
    UpdateStatus();
}

void formImageViewer::UpdateStatus()
{
    if (!image || curslice.size() != image->GetSize().size()) {
        statusCursor->clear();
        statusMouse->clear();
        statusValues->clear();
        return;
    }
    statusCursor->setText(QStringLiteral("Cursor: ") + describePosition(*this, curslice));
    const Vector size = image->GetSize();
    // The coordinates the mouse does not give follow the cursor.
    if (mousePosition.size() == size.size()) {
        Vector follow = curslice;
        for (const int d : mouseDims)
            if (d >= 0 && d < static_cast<int>(size.size()))
                follow[d] = mousePosition[d];
        mousePosition = follow;
    }
    bool inside = mousePosition.size() == size.size();
    for (int i = 0; inside && i < static_cast<int>(size.size()); ++i)
        inside = mousePosition[i] >= 0 && mousePosition[i] < size[i];
    if (!inside) {
        statusMouse->clear();
        statusValues->clear();
        return;
    }
    statusMouse->setText(QStringLiteral("Mouse: ") + describePosition(*this, mousePosition));

    const ImageReader::SampleType type = reader->GetSampleType();
    const auto format = [&](const std::optional<double>& v) {
        return v ? QString::fromStdString(ImageReader::FormatValue(*v, type))
                 : valuePending ? QStringLiteral("\u2026") : QStringLiteral("missing");
    };
    QStringList values;
    const int cd = ChannelDimension();
    if (ChannelChoice(*this).IsListMode()) {
        Vector p = mousePosition;
        for (int c = 0; c < size[cd]; ++c) {
            p[cd] = c;
            const QListWidgetItem* item = listChannels->item(c);
            const QString name = item ? item->text() : QString::number(c);
            values << name + QStringLiteral(": ") + format(RealValueAt(p));
        }
    } else {
        values << QStringLiteral("Value: ") + format(RealValueAt(mousePosition));
    }
    statusValues->setText(values.join(QStringLiteral("   ")));
}

} // namespace ImageViewer
