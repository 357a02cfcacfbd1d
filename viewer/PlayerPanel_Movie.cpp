// File > Export movie...: frames rendered from the model's state on a thread of their own.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <atomic>
#include <cmath>
#include <thread>

#include "MovieFrame.h"
#include "PlayerPanel.h"
#include "formImageViewer.h"

namespace ImageViewer {

Core::MovieResult PlayerPanel::ExportMovie(const MovieExportSettings& settings)
{
    Core::MovieResult result;
    const ImageReader::Vector size = w.image ? w.image->GetSize() : ImageReader::Vector();
    const int n = static_cast<int>(size.size());
    if (settings.dim < 0 || settings.dim >= n) {
        result.error = "no dimension to step through";
        return result;
    }
    const int first = std::clamp(std::min(settings.first, settings.last), 0, size[settings.dim] - 1);
    const int last = std::clamp(std::max(settings.first, settings.last), 0, size[settings.dim] - 1);
    const Core::MovieFormat format = Core::MovieFormatFor(settings.output.toStdString());
    if (format == Core::MovieFormat::Unknown) {
        result.error = "a movie goes to a .mp4, .avi, .gif or .webp file or a folder ending in /";
        return result;
    }
    if (!Core::MovieFormatAvailable(format)) {
        result.error = std::string("this build cannot write ") + Core::MovieFormatName(format);
        return result;
    }
    Stop();
    // A snapshot of the state: the window may repaint meanwhile, the movie does not follow it.
    const ViewState state = w.ViewStateFromWindow();
    DisplayState display = w.DisplayFromWindow();
    const std::vector<double> pixelSizes = w.properties.m_pixelsize;
    const ViewAxes a = w.CurrentAxes();
    const int views = settings.allViews ? ViewAll : ViewXY;
    const double nmPerPixel = [&] {
        // Frames are at one pixel per image pixel of the smallest pixel size.
        double smallest = 0;
        for (double s : pixelSizes)
            if (s > 0 && (smallest == 0 || s < smallest))
                smallest = s;
        return a.x >= 0 && a.x < static_cast<int>(pixelSizes.size()) && pixelSizes[static_cast<size_t>(a.x)] > 0
                   ? smallest
                   : 0.0;
    }();
    // Stamp texts are made here, on the window's thread, where the reader's names are asked.
    std::vector<QString> stamps;
    if (settings.stamp) {
        const int keepDim = m_playDim;
        const ImageReader::Vector keep = w.curslice;
        const bool stampOn = m_stamp->isChecked();
        m_stamp->blockSignals(true);
        m_stamp->setChecked(true);
        m_exporting = true;
        m_playDim = settings.dim;
        for (int i = first; i <= last; ++i) {
            w.curslice[settings.dim] = i;
            stamps.push_back(StampText());
        }
        m_exporting = false;
        m_playDim = keepDim;
        w.curslice = keep;
        m_stamp->setChecked(stampOn);
        m_stamp->blockSignals(false);
    }

    ImageSession& session = w.model->Session();
    QImage frameImage;
    const Core::FrameRenderer render = [&](int i, Core::RgbaFrame& frame, std::string& error) {
        const MovieFrame f = RenderMovieFrame(session, state, display, pixelSizes, views, settings.dim, first + i);
        if (f.picture.IsNull()) {
            error = "the views could not be drawn";
            return false;
        }
        frameImage = QImage(f.picture.width, f.picture.height, QImage::Format_RGB32);
        for (int y = 0; y < f.picture.height; ++y)
            std::memcpy(frameImage.scanLine(y), f.picture.pixels.get() + static_cast<size_t>(y) * f.picture.width * 4,
                        static_cast<size_t>(f.picture.width) * 4);
        const QRect area(f.xyLeft, f.xyTop, f.xyWidth, f.xyHeight);
        if (settings.cursorLines && a.x >= 0 && a.y >= 0 && size[a.x] > 0 && size[a.y] > 0) {
            QPainter p(&frameImage);
            p.setPen(QPen(QColor(255, 255, 255, 64), 1));
            const double cx = area.left() + (state.cursor[a.x] + 0.5) * area.width() / size[a.x];
            const double cy = area.top() + (state.cursor[a.y] + 0.5) * area.height() / size[a.y];
            p.drawLine(QPointF(cx, area.top()), QPointF(cx, area.bottom() + 1));
            p.drawLine(QPointF(area.left(), cy), QPointF(area.right() + 1, cy));
        }
        if (settings.stamp || settings.scaleBar) {
            QPainter p(&frameImage);
            PaintOverlays(p, area, settings.stamp ? stamps[static_cast<size_t>(i)] : QString(), nmPerPixel,
                          settings.scaleBar);
        }
        frame.width = frameImage.width();
        frame.height = frameImage.height();
        frame.stride = static_cast<size_t>(frameImage.bytesPerLine());
        frame.bytes = frameImage.constBits();
        frame.order = Core::PixelOrder::BGRA;
        return true;
    };

    const int total = last - first + 1;
    std::atomic<int> done{0};
    std::atomic<bool> cancel{false};
    std::atomic<bool> finished{false};
    Core::MovieOptions options;
    options.fps = settings.fps > 0 && std::isfinite(settings.fps) ? settings.fps : 10.0;
    const std::string out = settings.output.toStdString();
    // The window's own view work stays out of the way while the frames are read.
    w.WaitForViews();
    std::thread worker([&] {
        result = Core::WriteMovie(out, total, render, options, [&](int d, int) {
            done = d;
            return !cancel.load();
        });
        finished = true;
    });
    QProgressDialog progress(QStringLiteral("Writing the movie..."), QStringLiteral("Cancel"), 0, total, &w);
    progress.setObjectName(QStringLiteral("progressExportMovie"));
    // Modal at once: nothing may close the image under the frames being read.
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.show();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        progress.setValue(done.load());
        if (progress.wasCanceled())
            cancel = true;
        if (finished)
            loop.quit();
    });
    poll.start(30);
    if (!finished)
        loop.exec();
    worker.join();
    progress.reset();
    return result;
}

void PlayerPanel::ExportMovieDialog()
{
    if (!w.image)
        return;
    const ImageReader::Vector size = w.image->GetSize();
    const int n = static_cast<int>(size.size());
    QDialog dialog(&w);
    dialog.setObjectName(QStringLiteral("dialogExportMovie"));
    dialog.setWindowTitle(QStringLiteral("Export movie"));
    auto* form = new QFormLayout(&dialog);
    auto* dim = new QComboBox(&dialog);
    dim->setObjectName(QStringLiteral("comboMovieDim"));
    for (int d = 0; d < n; ++d)
        dim->addItem(QString::fromStdString(w.reader->GetDimName(static_cast<unsigned>(d))));
    auto* first = new QSpinBox(&dialog);
    first->setObjectName(QStringLiteral("spinMovieFirst"));
    auto* last = new QSpinBox(&dialog);
    last->setObjectName(QStringLiteral("spinMovieLast"));
    const auto setRange = [&, first, last](int d) {
        first->setRange(0, size[d] - 1);
        last->setRange(0, size[d] - 1);
        first->setValue(0);
        last->setValue(size[d] - 1);
    };
    QObject::connect(dim, &QComboBox::currentIndexChanged, &dialog, setRange);
    const int start = std::max(0, LastUsedDim());
    dim->setCurrentIndex(start);
    setRange(start);
    auto* fps = new QDoubleSpinBox(&dialog);
    fps->setObjectName(QStringLiteral("spinMovieFps"));
    fps->setRange(0.1, 1000.0);
    fps->setValue(m_fps->value());
    auto* views = new QComboBox(&dialog);
    views->setObjectName(QStringLiteral("comboMovieViews"));
    views->addItems({QStringLiteral("XY view"), QStringLiteral("All views as laid out")});
    auto* cursor = new QCheckBox(QStringLiteral("Cursor lines"), &dialog);
    cursor->setObjectName(QStringLiteral("checkMovieCursor"));
    auto* scale = new QCheckBox(QStringLiteral("Scale bar"), &dialog);
    scale->setObjectName(QStringLiteral("checkMovieScaleBar"));
    scale->setChecked(w.scaleBarToolStripMenuItem->isChecked());
    auto* stamp = new QCheckBox(QStringLiteral("Time / position stamp"), &dialog);
    stamp->setObjectName(QStringLiteral("checkMovieStamp"));
    stamp->setChecked(true);
    auto* path = new QLineEdit(QFileInfo(formImageViewer::OpenFolder(), QStringLiteral("movie.mp4")).absoluteFilePath(),
                               &dialog);
    path->setObjectName(QStringLiteral("textMovieOutput"));
    auto* browse = new QPushButton(QStringLiteral("..."), &dialog);
    QObject::connect(browse, &QPushButton::clicked, &dialog, [&dialog, path] {
        const QString chosen = QFileDialog::getSaveFileName(
            &dialog, QStringLiteral("Export movie"), path->text(),
            QStringLiteral("MP4 (*.mp4);;Motion-JPEG AVI (*.avi);;Animated GIF (*.gif);;Animated WebP (*.webp);;"
                           "PNG frames in a folder (*)"));
        if (!chosen.isEmpty())
            path->setText(chosen);
    });
    auto* row = new QHBoxLayout;
    row->addWidget(path, 1);
    row->addWidget(browse);
    form->addRow(QStringLiteral("Dimension"), dim);
    form->addRow(QStringLiteral("First"), first);
    form->addRow(QStringLiteral("Last"), last);
    form->addRow(QStringLiteral("Frames per second"), fps);
    form->addRow(QStringLiteral("Views"), views);
    form->addRow(cursor);
    form->addRow(scale);
    form->addRow(stamp);
    form->addRow(QStringLiteral("File (.mp4 .avi .gif .webp, or folder/)"), row);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return;
    MovieExportSettings s;
    s.dim = dim->currentIndex();
    s.first = first->value();
    s.last = last->value();
    s.fps = fps->value();
    s.allViews = views->currentIndex() == 1;
    s.cursorLines = cursor->isChecked();
    s.scaleBar = scale->isChecked();
    s.stamp = stamp->isChecked();
    s.output = path->text();
    const Core::MovieResult r = ExportMovie(s);
    if (!r.ok && !r.cancelled)
        QMessageBox::warning(&w, QStringLiteral("Export movie"),
                             QStringLiteral("The movie was not written: %1").arg(QString::fromStdString(r.error)));
}

} // namespace ImageViewer
