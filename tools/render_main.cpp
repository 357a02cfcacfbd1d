// lumora-render FILE_OR_URL -o OUT [options]: a picture or a movie of the views from the
// viewer's model, or measurements of regions, without a window.
#include <QGuiApplication>
#include <QString>
#include <malloc.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "RenderCommand.h"

namespace {

std::atomic<bool> interrupted{false};

void interrupt(int)
{
    interrupted = true;
}

// Qt's notes go to standard error as ever, but for the one about a missing runtime folder that
// every run without a desktop session would print.
void note(QtMsgType, const QMessageLogContext&, const QString& text)
{
    if (!text.startsWith(QStringLiteral("QStandardPaths:")))
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

} // namespace

int main(int argc, char* argv[])
{
    // Freed memory stays with the process for the next chunk, band or picture: by default
    // every chunk a server sends (a few hundred KiB) lands in fresh pages, faulted in one by
    // one and given back when it is freed, which costs more than fetching and decoding it.
    // Pictures of a MiB and more still come straight from the system, zeroed for free.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    // Ctrl-C ends a movie between frames, so that no partial file stays behind.
    std::signal(SIGINT, interrupt);
    std::signal(SIGTERM, interrupt);
    // Text on the pictures needs a QGuiApplication; the offscreen platform needs no display.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qInstallMessageHandler(note);
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int code = ImageViewer::RunRender(args, std::cout, std::cerr, &interrupted);
    // Everything is written and closed: Qt's teardown would only load the font configuration
    // to free it again (tens of milliseconds when no text was drawn).
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(code);
}
