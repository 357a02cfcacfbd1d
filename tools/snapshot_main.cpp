// lumora-snapshot FILE OUT.png: opens FILE in the real viewer window without a display and
// saves what the window shows.
#include <QApplication>
#include <QPixmap>
#include <cstdio>
#include <cstring>

#include "Diagnostics.h"
#include "formImageViewer.h"

int main(int argc, char* argv[])
{
    if (argc < 3 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(argc < 3 ? stderr : stdout,
                     "Usage: lumora-snapshot FILE OUT.png [WIDTH HEIGHT]\n"
                     "Opens FILE in the viewer window offscreen and saves the window as a PNG.\n");
        return argc < 3 ? 2 : 0;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    ImageViewer::formImageViewer window;
    // No one can answer a message box here: reader diagnostics go to standard error.
    ImageReader::SetDiagnosticHandler({});
    if (argc >= 5)
        window.resize(std::atoi(argv[3]), std::atoi(argv[4]));
    window.show();
    QApplication::processEvents();
    window.LoadImageW(QString::fromLocal8Bit(argv[1]));
    QApplication::processEvents();
    const QPixmap shot = window.grab();
    if (!shot.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "lumora-snapshot: cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("%s\n", qPrintable(window.windowTitle()));
    return window.image ? 0 : 1;
}
