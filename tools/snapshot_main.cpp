// lumora-snapshot FILE OUT.png: opens FILE in the real viewer window without a display and
// saves what the window shows.
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QCheckBox>
#include <QComboBox>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Diagnostics.h"
#include "PictureBox.h"
#include "ReaderOptions.h"
#include "formImageViewer.h"

namespace {

void usage(FILE* out)
{
    std::fprintf(out,
                 "Usage: lumora-snapshot FILE OUT.png [options]\n"
                 "Opens FILE in the viewer window offscreen and saves the window as a PNG.\n"
                 "  --size W H      window size (default: the window's own first size)\n"
                 "  --zoom NOTCHES  turn the wheel over the middle of the XY view first\n"
                 "  --project DIM   projection mode \"max\" with dimension DIM collapsed\n"
                 "  --state FILE    a saved view state, applied after the options above\n"

                 "  --allow-outside-data  read data files a header names outside its own folder\n");
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 3 || std::strcmp(argv[1], "--help") == 0) {
        usage(argc < 3 ? stderr : stdout);
        return argc < 3 ? 2 : 0;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Opening files records them as recent: keep that out of the user's settings.
    const QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());

    int width = 0, height = 0, zoom = 0, project = -1;
    QString statePath;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--size") == 0 && i + 2 < argc) {
            width = std::atoi(argv[++i]);
            height = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--zoom") == 0 && i + 1 < argc) {
            zoom = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--project") == 0 && i + 1 < argc) {
            project = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--allow-outside-data") == 0) {
            ImageReader::SetAllowOutsideData(true);
        } else if (std::strcmp(argv[i], "--state") == 0 && i + 1 < argc) {
            statePath = QString::fromLocal8Bit(argv[++i]);
        } else {
            usage(stderr);
            return 2;
        }
    }

    ImageViewer::formImageViewer window;
    // No one can answer a message box here: reader diagnostics go to standard error.
    ImageReader::SetDiagnosticHandler({});
    window.model->Diagnostics()->Detach();
    if (width > 0 && height > 0)
        window.resize(width, height);
    window.show();
    QApplication::processEvents();
    window.LoadImageW(QString::fromLocal8Bit(argv[1]));
    window.WaitForOpen(); // a web address opens on a thread of its own
    QApplication::processEvents();
    // The options change the window's state as a state file would: no synthetic input.
    if (window.image && project >= 0 && project < static_cast<int>(window.checkDimProj.size())) {
        ImageViewer::ViewState state = window.ViewStateFromWindow();
        state.projection = ImageViewer::ProjectionMode::Max;
        state.projected[static_cast<size_t>(project)] = true;
        window.ApplyViewState(state, window.DisplayFromWindow());
    }
    if (window.image && zoom != 0) {
        // What as many wheel notches over the middle of the XY view do.
        QWidget* xy = window.pictureXY;
        const int steps = ImageViewer::WheelSteps(120 * zoom, QApplication::wheelScrollLines());
        window.ZoomAbout(ImageViewer::WheelZoomFactor(steps), QPointF(xy->width() / 2.0, xy->height() / 2.0));
    }
    if (window.image && !statePath.isEmpty()) {
        const QString why = window.OpenViewState(statePath);
        if (!why.isEmpty()) {
            std::fprintf(stderr, "lumora-snapshot: %s: %s\n", qPrintable(statePath), qPrintable(why));
            return 1;
        }
    }
    // Large views are computed off the UI thread: the picture must show their results.
    window.WaitForViews();
    QApplication::processEvents();
    const QPixmap shot = window.grab();
    if (!shot.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "lumora-snapshot: cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("%s\n", qPrintable(window.windowTitle()));
    return window.image ? 0 : 1;
}
