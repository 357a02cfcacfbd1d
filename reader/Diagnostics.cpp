#include "Diagnostics.h"

#include <cstdio>
#include <utility>

namespace ImageReader {

namespace {

std::mutex& defaultLock()
{
    static std::mutex lock;
    return lock;
}

DiagnosticHandler& defaultHandler()
{
    static DiagnosticHandler handler;
    return handler;
}

thread_local std::shared_ptr<DiagnosticSink> threadSink;

} // namespace

DiagnosticHandler SetDiagnosticHandler(DiagnosticHandler handler)
{
    const std::lock_guard<std::mutex> lock(defaultLock());
    return std::exchange(defaultHandler(), std::move(handler));
}

void ReportDiagnostic(const std::string& text)
{
    if (threadSink && threadSink->Report(text))
        return;
    // A copy, called without the lock: a handler may take its time or report again.
    DiagnosticHandler handler;
    {
        const std::lock_guard<std::mutex> lock(defaultLock());
        handler = defaultHandler();
    }
    if (handler)
        handler(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

void DiagnosticSink::Set(DiagnosticHandler handler)
{
    const std::lock_guard<std::mutex> lock(m_lock);
    m_handler = std::move(handler);
}

bool DiagnosticSink::Report(const std::string& text)
{
    // Held while the handler runs, so that Detach() returns only once no report is inside it.
    const std::lock_guard<std::mutex> lock(m_lock);
    if (!m_handler)
        return false;
    m_handler(text);
    return true;
}

DiagnosticScope::DiagnosticScope(std::shared_ptr<DiagnosticSink> sink) : m_previous(std::move(threadSink))
{
    threadSink = std::move(sink);
}

DiagnosticScope::~DiagnosticScope()
{
    threadSink = std::move(m_previous);
}

} // namespace ImageReader
