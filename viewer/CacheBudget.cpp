#include "CacheBudget.h"

#include <QSettings>
#include <atomic>

#include "MemoryBudget.h"

namespace ImageViewer {

namespace {
std::atomic<size_t> overrideMB{0};
}

void SetCacheBudgetOverrideMB(size_t mib)
{
    overrideMB = mib;
}

size_t CacheBudgetBytes()
{
    size_t mib = overrideMB.load();
    if (mib == 0) {
        const int stored = QSettings().value(QStringLiteral("cacheBudgetMB"), 0).toInt();
        mib = stored > 0 ? static_cast<size_t>(stored) : 0;
    }
    // Readers check what a file makes them allocate against the same figure.
    ImageReader::SetProcessMemoryBudget(mib << 20);
    return ImageReader::MemoryBudget();
}

} // namespace ImageViewer
