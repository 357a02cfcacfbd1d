#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace ImageReader {

// The readers' one user-visible message goes through this hook, so that the viewer can
// show it in a message box while the readers stay free of any GUI code. A thread that works
// for one viewer reports to that viewer's sink (installed with a DiagnosticScope); other
// threads use the process default, which writes to standard error unless replaced.
using DiagnosticHandler = std::function<void(const std::string&)>;

// Installs the process default (an empty function restores standard error) and returns
// the previous one. Safe against concurrent reports.
DiagnosticHandler SetDiagnosticHandler(DiagnosticHandler handler);
void ReportDiagnostic(const std::string& text);

// One viewer's destination for reader messages. Detach() before the viewer goes: reports
// that come later (a worker still finishing a read) go to the process default instead.
class DiagnosticSink
{
public:
    explicit DiagnosticSink(DiagnosticHandler handler = {}) : m_handler(std::move(handler)) {}
    // Replaces the handler; empty: the process default.
    void Set(DiagnosticHandler handler);
    void Detach() { Set({}); }
    // False when the sink had no handler and the text should go to the process default.
    bool Report(const std::string& text);

private:
    std::mutex m_lock;
    DiagnosticHandler m_handler;
};

// Makes `sink` the calling thread's destination for the scope's life (nested scopes restore).
class DiagnosticScope
{
public:
    explicit DiagnosticScope(std::shared_ptr<DiagnosticSink> sink);
    ~DiagnosticScope();
    DiagnosticScope(const DiagnosticScope&) = delete;
    DiagnosticScope& operator=(const DiagnosticScope&) = delete;

private:
    std::shared_ptr<DiagnosticSink> m_previous;
};

} // namespace ImageReader
