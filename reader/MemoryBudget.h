#pragma once

#include <cstddef>
#include <string>

namespace ImageReader {

// One rule for memory a file can make large (decoded planes, decode buffers, tiles and
// strips, value-range samples, inflated data): before such an allocation is made, it is
// checked against the memory budget, and refused with a reason when it cannot fit.
//
// The budget is the program's (the viewer sets it from --cache-mb or its preferences before
// opening), else a quarter of physical memory (256 MiB when that cannot be found out).
size_t MemoryBudget();
// 0 goes back to the default. May be called from any thread.
void SetProcessMemoryBudget(size_t bytes);

// True when one allocation of `bytes` for `what` ("a decoded plane", "a TIFF tile") fits
// the budget; otherwise false, with `why` (when given) set to a sentence a user can read.
bool MayAllocate(size_t bytes, const char* what, std::string* why = nullptr);

// "2.0 GiB", "640 KiB", "12 bytes": sizes a user can read at a glance.
std::string FormatBytes(unsigned long long bytes);

} // namespace ImageReader
