#pragma once

#include <functional>
#include <string>

namespace ImageReader {

// The readers' one user-visible message goes through this hook, so that the viewer can
// show it in a message box while the readers stay free of any GUI code. By default the
// text is written to standard error.
using DiagnosticHandler = std::function<void(const std::string&)>;

// Installs `handler` (an empty function restores the default) and returns the previous one.
DiagnosticHandler SetDiagnosticHandler(DiagnosticHandler handler);
void ReportDiagnostic(const std::string& text);

} // namespace ImageReader
