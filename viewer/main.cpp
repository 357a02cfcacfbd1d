#include <QApplication>
#include <QStringList>
#include <QTimer>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CacheBudget.h"
#include "ReaderOptions.h"
#include "formImageViewer.h"

#ifndef LUMORA_VERSION
#define LUMORA_VERSION "0.0.0"
#endif

namespace {

// LUMORA_STARTUP_TIMES=1: each step from main to the first pictures on screen is stamped on
// standard error (nanoseconds of the system clock, which the caller compares with the time
// it started the process), and the viewer quits once they are painted.
const bool stampSteps = std::getenv("LUMORA_STARTUP_TIMES") != nullptr;

void stamp(const char* step)
{
    if (!stampSteps)
        return;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch());
    std::fprintf(stderr, "startup %s %lld\n", step, static_cast<long long>(ns.count()));
}

} // namespace

int main(int argc, char* argv[])
{
    stamp("main");
    // Answered before the toolkit starts, so they work without a display.
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("Usage: lumora [--cache-mb N] [--state FILE] [--allow-outside-data] [FILE | FOLDER | URL]\n"
                    "View an n-dimensional microscopy image: an ICS file (.ics), a TIFF file or\n"
                    "series (one file of the series, .tif or .tiff), or a Zarr image from a folder\n"
                    "or an http:// or https:// address. Further arguments are ignored.\n\n"
                    "      --cache-mb N  keep at most N MiB of decoded planes in memory\n"
                    "      --state FILE  show the image as a saved view state describes\n"
                    "                    (default: the preferences' value, else a quarter of RAM)\n"
                    "      --allow-outside-data  read data files that a header names outside its\n"
                    "                    own folder (also LUMORA_ALLOW_OUTSIDE_DATA=1)\n"
                    "  -h, --help     show this help and exit\n"
                    "      --version  show the version and exit\n");
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("lumora %s\n", LUMORA_VERSION);
        return 0;
    }

    // Chunk decoders take their scratch memory afresh for every chunk; with the allocator's
    // defaults much of it is mapped anew or trimmed away between chunks, and faulted in
    // again page by page. Planes (up to 32 MiB) stay on the heap as well, so that a freed
    // plane's memory serves the next one; the plane cache trims the heap as it evicts. (The
    // 1 MiB threshold of still pictures would map every full-resolution plane afresh.)
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    QApplication app(argc, argv);
    stamp("application");
    QApplication::setOrganizationName(QStringLiteral("Lumora"));
    QApplication::setApplicationName(QStringLiteral("Lumora"));
    QApplication::setApplicationVersion(QStringLiteral(LUMORA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("lumora"));
    QStringList args = QApplication::arguments();
    if (!args.isEmpty())
        args.removeFirst();
    const qsizetype option = args.indexOf(QStringLiteral("--cache-mb"));
    if (option >= 0) {
        bool ok = false;
        const qlonglong mib = option + 1 < args.size() ? args[option + 1].toLongLong(&ok) : 0;
        if (!ok || mib <= 0) {
            std::fprintf(stderr, "lumora: --cache-mb needs a positive number of MiB\n");
            return 2;
        }
        ImageViewer::SetCacheBudgetOverrideMB(static_cast<size_t>(mib));
        args.remove(option, 2);
    }
    if (args.removeAll(QStringLiteral("--allow-outside-data")) > 0)
        ImageReader::SetAllowOutsideData(true);
    QString statePath;
    const qsizetype stateOption = args.indexOf(QStringLiteral("--state"));
    if (stateOption >= 0) {
        if (stateOption + 1 >= args.size()) {
            std::fprintf(stderr, "lumora: --state needs a file\n");
            return 2;
        }
        statePath = args[stateOption + 1];
        args.remove(stateOption, 2);
    }
    ImageViewer::formImageViewer window(args);
    stamp("window");
    window.show();
    stamp("shown");
    if (stampSteps)
        QTimer::singleShot(0, &window, [&window] {
            window.WaitForOpen();
            stamp("opened");
            window.WaitForViews();
            stamp("views");
            window.repaint();
            stamp("painted");
            QApplication::quit();
        });
    if (!statePath.isEmpty()) {
        window.WaitForOpen(); // a web address opens on a thread of its own
        const QString why = window.OpenViewState(statePath);
        if (!why.isEmpty())
            std::fprintf(stderr, "lumora: %s: %s\n", qPrintable(statePath), qPrintable(why));
    }
    QApplication::exec();
    return 0;
}
