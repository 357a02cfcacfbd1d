#include "CacheBudget.h"

#include <QSettings>
#include <atomic>

#include "SliceCache.h"

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
    return mib ? mib << 20 : ImageReader::SliceCache<unsigned short>::DefaultBudget();
}

} // namespace ImageViewer
