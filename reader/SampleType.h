#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace ImageReader {

// The type of the samples a file holds. Readers deliver every plane as 16-bit display values
// (the fast pipeline the views, histograms and profiles share); a ValueMap says how those
// stand for the file's real values.
enum class SampleType { UInt8, Int8, UInt16, Int16, UInt32, Int32, UInt64, Int64, Float32, Float64 };

size_t SampleBytes(SampleType type);
bool IsFloat(SampleType type);
bool IsSigned(SampleType type);
// "uint16", "float32", ...
std::string SampleTypeName(SampleType type);

// Linear map between a real sample value and its 16-bit display value:
// real = offset + scale * display. Exact (scale 1, integer offset) for 8- and 16-bit types and
// for integer data whose values span at most 65536; otherwise the file's value range (or the
// part of it the reader sampled) is spread over 0..65535, and values outside it saturate.
struct ValueMap
{
    double offset = 0.0;
    double scale = 1.0;

    double ToReal(double display) const { return offset + scale * display; }
    // Rounded to the nearest display value, saturating at 0 and 65535; NaN gives 0.
    std::uint16_t ToDisplay(double real) const;
    // Display steps are whole units; for integer types that makes the map exact, float
    // values may still carry fractions the display drops.
    bool IsExact() const { return scale == 1.0; }
    bool operator==(const ValueMap& o) const { return offset == o.offset && scale == o.scale; }
};

// The map for `type` given the smallest and largest real value seen (ignored for 8- and 16-bit
// types, whose map is fixed: unsigned as is, signed shifted by 128 or 32768).
ValueMap ChooseValueMap(SampleType type, double lo, double hi);

// The map for an image of `planes` planes of `planeSamples` samples each, found from the
// values of a bounded sample (the first, the last and evenly spaced planes between, at most
// about 64 MiB of samples), so that opening costs the same for any file size. Values in
// parts it did not look at that fall outside the range saturate. `read(k, first, n, buffer)`
// reads samples [first, first + n) of plane k raw (native byte order) and returns false when
// it cannot; a plane larger than the sample is read in evenly spaced pieces, through a
// buffer of at most 4 MiB.
using RawRangeReader = std::function<bool(size_t plane, size_t first, size_t samples, void* buffer)>;
ValueMap EstimateValueMap(SampleType type, size_t planes, size_t planeSamples, const RawRangeReader& read);
// The same for a source that reads whole planes only (`read(k, buffer)`): a plane is read
// into a buffer of its own size, so planes beyond the memory budget (MayAllocate) are not
// read at all (the map then covers 0..65535). Prefer the ranged form.
using RawPlaneReader = std::function<bool(size_t plane, void* buffer)>;
ValueMap EstimateValueMap(SampleType type, size_t planes, size_t planeSamples, const RawPlaneReader& read);

// Widens [lo, hi] by the finite values of n samples of `type` in native byte order.
void AccumulateRange(const void* samples, SampleType type, size_t n, double& lo, double& hi);

// Maps n samples of `type` (native byte order) to display values; a no-op copy for uint16.
void ConvertToDisplay(const void* samples, SampleType type, const ValueMap& map, std::uint16_t* out, size_t n);

// Sample i of a raw buffer of `type` as a double.
double SampleValue(const void* samples, SampleType type, size_t i);

// A real value as the user reads it: integers exactly, floats with 5 significant digits.
std::string FormatValue(double value, SampleType type);

} // namespace ImageReader
