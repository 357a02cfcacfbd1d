#include "Diagnostics.h"

#include <cstdio>
#include <utility>

namespace ImageReader {

namespace {
DiagnosticHandler& currentHandler()
{
    static DiagnosticHandler handler;
    return handler;
}
} // namespace

DiagnosticHandler SetDiagnosticHandler(DiagnosticHandler handler)
{
    return std::exchange(currentHandler(), std::move(handler));
}

void ReportDiagnostic(const std::string& text)
{
    if (currentHandler())
        currentHandler()(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

} // namespace ImageReader
