#include "SampleType.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <cstdio>
#include <cstring>
#include <limits>
#include <type_traits>

#include "MemoryBudget.h"

namespace ImageReader {

size_t SampleBytes(SampleType type)
{
    switch (type) {
    case SampleType::UInt8: case SampleType::Int8: return 1;
    case SampleType::UInt16: case SampleType::Int16: return 2;
    case SampleType::UInt32: case SampleType::Int32: case SampleType::Float32: return 4;
    case SampleType::UInt64: case SampleType::Int64: case SampleType::Float64: return 8;
    }
    return 0;
}

bool IsFloat(SampleType type)
{
    return type == SampleType::Float32 || type == SampleType::Float64;
}

bool IsSigned(SampleType type)
{
    return type == SampleType::Int8 || type == SampleType::Int16 || type == SampleType::Int32 ||
           type == SampleType::Int64 || IsFloat(type);
}

std::string SampleTypeName(SampleType type)
{
    switch (type) {
    case SampleType::UInt8: return "uint8";
    case SampleType::Int8: return "int8";
    case SampleType::UInt16: return "uint16";
    case SampleType::Int16: return "int16";
    case SampleType::UInt32: return "uint32";
    case SampleType::Int32: return "int32";
    case SampleType::UInt64: return "uint64";
    case SampleType::Int64: return "int64";
    case SampleType::Float32: return "float32";
    case SampleType::Float64: return "float64";
    }
    return "unknown";
}

std::uint16_t ValueMap::ToDisplay(double real) const
{
    const double d = (real - offset) / scale;
    if (!(d > 0.0)) // also NaN
        return 0;
    if (d >= 65535.0)
        return 65535;
    return static_cast<std::uint16_t>(d + 0.5);
}

ValueMap ChooseValueMap(SampleType type, double lo, double hi)
{
    switch (type) {
    case SampleType::UInt8: case SampleType::UInt16: return {0.0, 1.0};
    case SampleType::Int8: return {-128.0, 1.0};
    case SampleType::Int16: return {-32768.0, 1.0};
    default: break;
    }
    if (!(lo <= hi) || !std::isfinite(lo) || !std::isfinite(hi))
        return {0.0, 1.0}; // nothing seen (or nothing finite): an identity map of [0, 65535]
    if (!IsFloat(type)) {
        // Integers that fit 65536 consecutive values stay exact. A range that begins at or
        // above 0 and ends below 65536 keeps offset 0, so such files read like 16-bit ones.
        if (lo >= 0.0 && hi <= 65535.0)
            return {0.0, 1.0};
        if (hi - lo <= 65535.0)
            return {lo, 1.0};
    }
    if (hi == lo)
        return {lo, 1.0};
    return {lo, (hi - lo) / 65535.0};
}

namespace {

template <class S>
void rangeOf(const S* s, size_t n, double& lo, double& hi)
{
    if constexpr (std::is_floating_point_v<S>) {
        for (size_t i = 0; i < n; ++i) {
            const double v = static_cast<double>(s[i]);
            if (std::isfinite(v)) {
                lo = v < lo ? v : lo;
                hi = v > hi ? v : hi;
            }
        }
    } else {
        if (n == 0)
            return;
        S l = s[0], u = s[0];
        for (size_t i = 1; i < n; ++i) {
            l = s[i] < l ? s[i] : l;
            u = s[i] > u ? s[i] : u;
        }
        lo = std::fmin(lo, static_cast<double>(l));
        hi = std::fmax(hi, static_cast<double>(u));
    }
}

template <class S>
void convert(const S* s, const ValueMap& map, std::uint16_t* out, size_t n)
{
    if (map.scale == 1.0 && !std::is_floating_point_v<S>) {
        // Exact integer map: a subtraction and a clamp (values outside the sampled range
        // saturate). 64-bit arithmetic holds every 8- to 32-bit difference.
        if constexpr (sizeof(S) <= 4) {
            const long long off = static_cast<long long>(map.offset);
            for (size_t i = 0; i < n; ++i) {
                const long long d = static_cast<long long>(s[i]) - off;
                out[i] = static_cast<std::uint16_t>(d < 0 ? 0 : d > 65535 ? 65535 : d);
            }
            return;
        }
    }
    const double inv = 1.0 / map.scale;
    for (size_t i = 0; i < n; ++i) {
        const double d = (static_cast<double>(s[i]) - map.offset) * inv;
        out[i] = static_cast<std::uint16_t>(d > 0.0 ? (d < 65535.0 ? d + 0.5 : 65535.0) : 0.0);
    }
}

template <class F>
auto dispatch(SampleType type, const void* p, F&& f)
{
    switch (type) {
    case SampleType::UInt8: return f(static_cast<const std::uint8_t*>(p));
    case SampleType::Int8: return f(static_cast<const std::int8_t*>(p));
    case SampleType::UInt16: return f(static_cast<const std::uint16_t*>(p));
    case SampleType::Int16: return f(static_cast<const std::int16_t*>(p));
    case SampleType::UInt32: return f(static_cast<const std::uint32_t*>(p));
    case SampleType::Int32: return f(static_cast<const std::int32_t*>(p));
    case SampleType::UInt64: return f(static_cast<const std::uint64_t*>(p));
    case SampleType::Int64: return f(static_cast<const std::int64_t*>(p));
    case SampleType::Float32: return f(static_cast<const float*>(p));
    case SampleType::Float64: break;
    }
    return f(static_cast<const double*>(p));
}

} // namespace

void AccumulateRange(const void* samples, SampleType type, size_t n, double& lo, double& hi)
{
    dispatch(type, samples, [&](const auto* s) { rangeOf(s, n, lo, hi); });
}

void ConvertToDisplay(const void* samples, SampleType type, const ValueMap& map, std::uint16_t* out, size_t n)
{
    if (type == SampleType::UInt16 && map.offset == 0.0 && map.scale == 1.0) {
        if (out != samples)
            std::memmove(out, samples, n * sizeof(std::uint16_t));
        return;
    }
    dispatch(type, samples, [&](const auto* s) { convert(s, map, out, n); });
}

namespace {
constexpr size_t kSampleBudget = size_t(64) << 20;
constexpr size_t kSamplePiece = size_t(4) << 20;
} // namespace

ValueMap EstimateValueMap(SampleType type, size_t planes, size_t planeSamples, const RawRangeReader& read)
{
    const size_t bytes = SampleBytes(type);
    if (bytes <= 2 || planes == 0 || planeSamples == 0)
        return ChooseValueMap(type, 0.0, 0.0);
    const size_t planeBytes = planeSamples * bytes;
    const size_t count = std::clamp<size_t>(kSampleBudget / planeBytes, 1, std::min<size_t>(planes, 16));
    // Samples looked at per plane, in pieces of at most `piece` samples.
    const size_t perPlane = std::min(planeSamples, kSampleBudget / bytes / count);
    const size_t piece = std::min(perPlane, kSamplePiece / bytes);
    const size_t pieces = (perPlane + piece - 1) / piece;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[piece * bytes]);
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (size_t i = 0; buffer && i < count; ++i) {
        const size_t k = count == 1 ? 0 : i * (planes - 1) / (count - 1);
        for (size_t j = 0; j < pieces; ++j) {
            // The whole plane in order when it fits, else pieces spread from its start to its end.
            const size_t first = perPlane == planeSamples ? j * piece
                                 : pieces == 1        ? (planeSamples - piece) / 2
                                                      : j * ((planeSamples - piece) / (pieces - 1));
            const size_t n = std::min(piece, planeSamples - first);
            if (read(k, first, n, buffer.get()))
                AccumulateRange(buffer.get(), type, n, lo, hi);
        }
    }
    return ChooseValueMap(type, lo, hi);
}

ValueMap EstimateValueMap(SampleType type, size_t planes, size_t planeSamples, const RawPlaneReader& read)
{
    const size_t bytes = SampleBytes(type);
    if (bytes <= 2 || planes == 0 || planeSamples == 0 || planeSamples > SIZE_MAX / bytes ||
        !MayAllocate(planeSamples * bytes, "a plane to sample"))
        return ChooseValueMap(type, 0.0, 0.0);
    std::unique_ptr<unsigned char[]> plane;
    size_t loaded = SIZE_MAX;
    return EstimateValueMap(type, planes, planeSamples, [&](size_t k, size_t first, size_t n, void* buffer) {
        if (!plane)
            plane.reset(new (std::nothrow) unsigned char[planeSamples * bytes]);
        if (!plane)
            return false;
        if (loaded != k) {
            loaded = SIZE_MAX;
            if (!read(k, plane.get()))
                return false;
            loaded = k;
        }
        std::memcpy(buffer, plane.get() + first * bytes, n * bytes);
        return true;
    });
}

double SampleValue(const void* samples, SampleType type, size_t i)
{
    return dispatch(type, samples, [&](const auto* s) { return static_cast<double>(s[i]); });
}

std::string FormatValue(double value, SampleType type)
{
    char text[64];
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "inf" : "-inf";
    if (!IsFloat(type) && std::fabs(value) < 9.007199254740992e15)
        std::snprintf(text, sizeof text, "%.0f", value);
    else
        std::snprintf(text, sizeof text, "%.5g", value);
    return text;
}

} // namespace ImageReader
