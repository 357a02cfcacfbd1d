#include "MemoryBudget.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace ImageReader {

namespace {

std::atomic<size_t> budgetSet{0};

size_t defaultBudget()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return size_t(256) << 20;
    return static_cast<size_t>(pages) / 4 * static_cast<size_t>(pageSize);
}

} // namespace

size_t MemoryBudget()
{
    const size_t set = budgetSet.load(std::memory_order_relaxed);
    if (set)
        return set;
    static const size_t fallback = defaultBudget();
    return fallback;
}

void SetProcessMemoryBudget(size_t bytes)
{
    budgetSet.store(bytes, std::memory_order_relaxed);
}

bool MayAllocate(size_t bytes, const char* what, std::string* why)
{
    const size_t budget = MemoryBudget();
    if (bytes <= budget)
        return true;
    if (why)
        *why = std::string(what) + " would need " + FormatBytes(bytes) + ", more than the memory budget of " +
               FormatBytes(budget);
    return false;
}

std::string FormatBytes(unsigned long long bytes)
{
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " bytes";
    double v = static_cast<double>(bytes) / 1024.0;
    int u = 0;
    while (v >= 1024.0 && u < 5) {
        v /= 1024.0;
        ++u;
    }
    char text[32];
    std::snprintf(text, sizeof text, v < 10 ? "%.1f %s" : "%.0f %s", v, units[u]);
    return text;
}

} // namespace ImageReader
