#include "ImageBase.h"

#include "ViewBuffers.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace ImageReader {

template <class T>
ImageVolume<T> ImageBase<T>::GetVolume(const Vector& start, const Vector& stop)
{
    return ImageVolume<T>(this, start, stop);
}

template <class T>
ImageSlice<T> ImageBase<T>::CutRows(const ImageSlice<T>& plane, int y0, int y1)
{
    const Vector size = plane.GetSize();
    if (plane.IsEmpty() || size.size() < 2 || y0 < 0 || y1 <= y0 || y1 > size[1])
        return ImageSlice<T>();
    if (y0 == 0 && y1 == size[1])
        return plane;
    // The rows stay in the plane's buffer, which the band keeps alive.
    const T* rows = plane.GetData() + static_cast<size_t>(y0) * static_cast<size_t>(size[0]);
    return ImageSlice<T>::Borrow(Vector(size[0], y1 - y0), rows, std::make_shared<const ImageSlice<T>>(plane),
                                 plane.GetLender());
}

template <class T>
ImageSlice<T> ImageBase<T>::CutColumns(const ImageSlice<T>& plane, int x0, int x1)
{
    const Vector size = plane.GetSize();
    if (plane.IsEmpty() || size.size() < 2 || x0 < 0 || x1 <= x0 || x1 > size[0])
        return ImageSlice<T>();
    if (x0 == 0 && x1 == size[0])
        return plane;
    const size_t W = static_cast<size_t>(size[0]), H = static_cast<size_t>(size[1]), w = static_cast<size_t>(x1 - x0);
    T* band = static_cast<T*>(std::malloc(w * H * sizeof(T)));
    if (!band)
        return ImageSlice<T>();
    for (size_t y = 0; y < H; ++y)
        std::memcpy(band + y * w, plane.GetData() + y * W + static_cast<size_t>(x0), w * sizeof(T));
    if (!plane.IsIntact()) {
        // Copied from a plane whose file was cut meanwhile: zeros, not the band.
        std::free(band);
        return ImageSlice<T>();
    }
    return ImageSlice<T>(Vector(x1 - x0, size[1]), band);
}

template <class T>
ImageSlice<T> ImageBase<T>::GetMaximumProjection(int d1, int d2)
{
    Vector fixed;
    const Vector size = GetSize();
    for (unsigned int i = 0; i < size.size(); ++i)
        fixed.push_back(-1);
    return GetMaximumProjection(d1, d2, fixed);
}

namespace {

// out[i] = max(out[i], in[i]). Kept out of line with clones for wider vector units, since
// the plain x86-64 instruction set has no unsigned 16-bit maximum.
__attribute__((target_clones("avx2", "sse4.1", "default"))) void maxInto(unsigned short* __restrict out,
                                                                        const unsigned short* __restrict in, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        out[i] = out[i] < in[i] ? in[i] : out[i];
}

template <class T>
inline void maxRow(T* out, const T* in, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        out[i] = std::max(out[i], in[i]);
}

inline void maxRow(unsigned short* out, const unsigned short* in, size_t n) { maxInto(out, in, n); }

// The output row/column strides of the in-plane dimensions decide which loop shape
// applies; each shape is a plain loop the compiler can vectorise or at least keep
// free of per-pixel multiplies.
template <class T>
void foldPlane(T* out, const T* plane, size_t W, size_t x0, size_t x1, size_t y0, size_t y1, size_t sx, size_t sy)
{
    if (sx == 1 && x0 == 0 && x1 == W && sy == W) {
        // The whole plane maps onto the output in memory order (XY views).
        maxRow(out + y0 * W, plane + y0 * W, (y1 - y0) * W);
    } else if (sx == 1) {
        // Rows land on contiguous output runs (XZ and similar views).
        for (size_t y = y0; y < y1; ++y) {
            T* o = out + y * sy + x0;
            const T* v = plane + y * W + x0;
            maxRow(o, v, x1 - x0);
        }
    } else if (sx == 0) {
        // Dimension 0 is collapsed: each row reduces to one output value.
        for (size_t y = y0; y < y1; ++y) {
            const T* v = plane + y * W;
            T m = out[y * sy];
            for (size_t x = x0; x < x1; ++x)
                m = std::max(m, v[x]);
            out[y * sy] = m;
        }
    } else {
        // Dimension 0 runs down the output (transposed views such as YZ).
        for (size_t y = y0; y < y1; ++y) {
            const T* v = plane + y * W;
            T* o = out + y * sy;
            for (size_t x = x0; x < x1; ++x)
                o[x * sx] = std::max(o[x * sx], v[x]);
        }
    }
}

// Where a band's samples sit in what GetBandSource returned: the first one and the distance
// between successive ones along the band; null when it is neither the plane nor the band.
template <class T>
const T* bandSamples(const ImageSlice<T>& got, bool rows, size_t W, size_t H, size_t a0, size_t& step)
{
    const Vector ss = got.GetSize();
    if (!got.GetData() || ss.size() < 2)
        return nullptr;
    const size_t w = static_cast<size_t>(ss[0]), h = static_cast<size_t>(ss[1]);
    if (w == W && h == H) {
        step = rows ? 1 : W;
        return got.GetData() + (rows ? a0 * W : a0);
    }
    if (rows ? (w == W && h == 1) : (w == 1 && h == H)) {
        step = 1;
        return got.GetData();
    }
    return nullptr;
}

// Planes fetched per block of a side view, and at most this many bytes of planes the cache
// owns held at once by one block (lent planes and bands cost nothing to hold).
constexpr size_t kGatherPlanes = 64;
constexpr size_t kGatherOwnedBytes = size_t(16) << 20;

} // namespace

// A side view without a projection: the row or column through the cursor of each plane
// along one dimension lands on exactly one output line, so it is copied, not folded.
// Planes are taken a block at a time and their samples written a row of the output at a
// time, so that the output is filled line by line instead of one sample per line per plane
// (a transposed view such as YZ), and the samples come straight from the lent, kept or
// banded planes, never from a copy made per plane.
template <class T>
bool ImageBase<T>::gatherBand(T* out, int d1, int d2, const Vector& fixed, ProjectionControl* control, bool& any)
{
    const Vector S = GetSize();
    const int n = static_cast<int>(S.size());
    const bool rows = fixed[1] >= 0;
    const int u = rows ? 0 : 1; // the plane dimension along the band
    const size_t W = static_cast<size_t>(S[0]), H = static_cast<size_t>(S[1]);
    const size_t A = static_cast<size_t>(S[d1]);
    const auto strideOf = [&](int i) -> size_t { return i == d1 ? 1 : (i == d2 ? A : 0); };
    int f = -1; // the one free dimension beyond the plane, if any
    for (int i = 2; i < n; ++i)
        if (fixed[i] < 0)
            f = i;
    const size_t count = f >= 0 ? static_cast<size_t>(S[f]) : 1;
    const size_t uStride = strideOf(u), pStride = f >= 0 ? strideOf(f) : 0;
    const size_t len = rows ? W : H;
    const size_t a0 = static_cast<size_t>(rows ? fixed[1] : fixed[0]);
    const size_t planeBytes = W * H * sizeof(T);

    Vector position;
    for (int i = 2; i < n; ++i)
        position.push_back(fixed[i] >= 0 ? fixed[i] : 0);
    std::vector<ImageSlice<T>> held;
    held.reserve(kGatherPlanes);
    const T* src[kGatherPlanes];
    size_t step[kGatherPlanes];
    for (size_t p0 = 0; p0 < count;) {
        if (control && control->cancel.load(std::memory_order_relaxed))
            return false;
        held.clear();
        size_t owned = 0;
        for (size_t p = p0; p < count && held.size() < kGatherPlanes && (held.empty() || owned < kGatherOwnedBytes);) {
            // Once a plane came as a band or lent, the rest of the block is asked for at once
            // (a server's source fetches them together); planes a cache owns, one at a time.
            const size_t ask = !held.empty() && owned == 0 && f >= 0 ? kGatherPlanes - held.size() : 1;
            std::vector<Vector> positions;
            for (size_t q = p; q < count && positions.size() < ask; ++q) {
                if (f >= 0)
                    position[f - 2] = static_cast<int>(q);
                positions.push_back(position);
            }
            std::vector<ImageSlice<T>> bands = GetBandSources(positions, rows, static_cast<int>(a0), static_cast<int>(a0 + 1));
            bands.resize(positions.size());
            for (ImageSlice<T>& band : bands) {
                held.push_back(std::move(band));
                const ImageSlice<T>& got = held.back();
                if (!got.IsBorrowed() && got.GetData() && static_cast<size_t>(got.GetSize().prod()) == W * H)
                    owned += planeBytes;
                const size_t j = held.size() - 1;
                src[j] = bandSamples(got, rows, W, H, a0, step[j]);
                any = any || src[j];
                ++p;
            }
        }
        const size_t k = held.size();
        if (control)
            control->done.fetch_add(k, std::memory_order_relaxed);
        T* block = out + p0 * pStride;
        if (uStride == 1 || k == 1) {
            // Each plane's band is a run of the output (XZ): a plain copy per plane.
            for (size_t j = 0; j < k; ++j) {
                if (!src[j])
                    continue;
                T* o = block + j * pStride;
                if (step[j] == 1 && uStride == 1)
                    std::memcpy(o, src[j], len * sizeof(T));
                else
                    for (size_t i = 0; i < len; ++i)
                        o[i * uStride] = src[j][i * step[j]];
            }
        } else {
            // The planes of the block are neighbours on each output line (YZ): one line at a
            // time, across the block's planes.
            // Each sample is a cache line (and often a page) of its own, too many streams
            // for the hardware to guess: the lines a few output lines ahead are asked for.
            constexpr size_t ahead = 4;
            for (size_t i = 0; i < len; ++i) {
                T* o = block + i * uStride;
                const bool fetch = i + ahead < len;
                for (size_t j = 0; j < k; ++j) {
                    if (!src[j])
                        continue;
                    if (fetch)
                        __builtin_prefetch(src[j] + (i + ahead) * step[j]);
                    o[j * pStride] = src[j][i * step[j]];
                }
            }
        }
        p0 += k;
    }
    return true;
}

template <class T>
ImageSlice<T> ImageBase<T>::GetMaximumProjection(int d1, int d2, Vector fixed, ProjectionControl* control)
{
    const Vector S = GetSize();
    const int n = static_cast<int>(S.size());
    if (n < 2 || d1 < 0 || d1 >= n || d2 >= n || d1 == d2 || static_cast<int>(fixed.size()) < n)
        return ImageSlice<T>();
    for (int i = 0; i < n; ++i)
        if (S[i] <= 0)
            return ImageSlice<T>();

    const size_t W = static_cast<size_t>(S[0]);
    const size_t H = static_cast<size_t>(S[1]);
    const size_t A = static_cast<size_t>(S[d1]);
    const size_t B = d2 < 0 ? 1 : static_cast<size_t>(S[d2]);

    // One whole plane as it lies (the XY view without a projection): the plane itself,
    // shared with the cache or the mapping it comes from, instead of a fresh copy.
    bool wholePlane = d1 == 0 && d2 == 1 && fixed[0] < 0 && fixed[1] < 0;
    for (int i = 2; i < n; ++i)
        wholePlane = wholePlane && fixed[i] >= 0 && fixed[i] < S[i];
    if (wholePlane) {
        if (control && control->cancel.load(std::memory_order_relaxed))
            return ImageSlice<T>();
        if (control)
            control->total += 1;
        ImageSlice<T> plane = GetSlice(fixed(2, Vector::end));
        if (control)
            control->done.fetch_add(1, std::memory_order_relaxed);
        const Vector ps = plane.GetSize();
        if (plane.IsEmpty() || ps.size() != 2 || static_cast<size_t>(ps[0]) != W || static_cast<size_t>(ps[1]) != H)
            return ImageSlice<T>();
        return plane;
    }

    // From the view buffers: a view computed again reuses memory already touched.
    ImageSlice<T> result = ViewSlice<T>(Vector(static_cast<int>(A), static_cast<int>(B)));
    if (result.IsEmpty())
        return ImageSlice<T>();
    T* out = const_cast<T*>(result.GetData());

    std::vector<size_t> stride(static_cast<size_t>(n), 0);
    for (int i = 0; i < n; ++i)
        stride[static_cast<size_t>(i)] = (i == d1) ? 1 : (i == d2 ? A : 0);

    // Pinned coordinates outside the image select nothing.
    auto pinnedOutside = [&](int i) { return fixed[i] >= S[i]; };
    for (int i = 0; i < n; ++i)
        if (pinnedOutside(i))
            return result;

    Vector position;
    for (int i = 2; i < n; ++i)
        position.push_back(fixed[i] >= 0 ? fixed[i] : 0);

    const size_t x0 = fixed[0] >= 0 ? static_cast<size_t>(fixed[0]) : 0;
    const size_t x1 = fixed[0] >= 0 ? x0 + 1 : W;
    const size_t y0 = fixed[1] >= 0 ? static_cast<size_t>(fixed[1]) : 0;
    const size_t y1 = fixed[1] >= 0 ? y0 + 1 : H;

    if (control) {
        size_t planes = 1;
        for (int i = 2; i < n; ++i)
            if (fixed[i] < 0)
                planes *= static_cast<size_t>(S[i]);
        control->total += planes;
    }

    const bool rowBand = fixed[1] >= 0 && fixed[0] < 0;
    const bool columnBand = fixed[0] >= 0 && fixed[1] < 0;
    bool folded = false;
    // A side view that collapses nothing: every dimension left free is one of its axes.
    bool copies = (rowBand || columnBand) && fixed[d1] < 0 && (d2 < 0 || fixed[d2] < 0);
    for (int i = 2; i < n; ++i)
        copies = copies && (fixed[i] >= 0 || i == d1 || i == d2);
    copies = copies && (rowBand ? (d1 == 0 || d2 == 0) : (d1 == 1 || d2 == 1));
    if (copies) {
        if (!gatherBand(out, d1, d2, fixed, control, folded) || !folded)
            return ImageSlice<T>();
        return result;
    }
    for (;;) {
        if (control && control->cancel.load(std::memory_order_relaxed))
            return ImageSlice<T>();
        // A pinned row or column (side views) is read as a band: a chunked source decodes
        // only the chunks that hold it.
        const bool band = rowBand || columnBand;
        const ImageSlice<T> slice = band ? GetBandSource(position, rowBand, static_cast<int>(rowBand ? y0 : x0),
                                                   static_cast<int>(rowBand ? y1 : x1))
                                         : GetSlice(position);
        if (control)
            control->done.fetch_add(1, std::memory_order_relaxed);
        const Vector ss = slice.GetSize();
        // A plane that cannot be read, or that does not have the image's plane size, adds nothing.
        // A lent plane cut from its file while folded read zeros: it adds nothing either.
        size_t step = 0;
        const T* samples = band ? bandSamples(slice, rowBand, W, H, rowBand ? y0 : x0, step)
                                : (slice.GetData() && ss.size() >= 2 && static_cast<size_t>(ss[0]) == W &&
                                           static_cast<size_t>(ss[1]) == H
                                       ? slice.GetData()
                                       : nullptr);
        if (samples) {
            size_t base = 0;
            for (int i = 2; i < n; ++i)
                base += stride[static_cast<size_t>(i)] * static_cast<size_t>(position[i - 2]);
            if (rowBand)
                foldPlane(out + base + y0 * stride[1], samples, W, x0, x1, 0, 1, stride[0], stride[1]);
            else if (columnBand)
                foldPlane(out + base + x0 * stride[0], samples, step, 0, 1, y0, y1, stride[0], stride[1]);
            else
                foldPlane(out + base, samples, W, x0, x1, y0, y1, stride[0], stride[1]);
            folded = folded || slice.IsIntact();
        }

        // Odometer over the free higher dimensions, last dimension fastest.
        int k = n - 1;
        for (; k >= 2; --k) {
            if (fixed[k] >= 0)
                continue;
            if (++position[k - 2] < S[k])
                break;
            position[k - 2] = 0;
        }
        if (k < 2)
            break;
    }
    if (!folded) {
        // Every plane it needed is missing: empty, so that it draws black and takes no part
        // in autoscaling, as a missing plane does.
        return ImageSlice<T>();
    }
    return result;
}

template <class T>
ImageSlice<T> ImageVolume<T>::GetSlice(const Vector& position)
{
    const Vector sourcePosition = m_start(2, Vector::end) + position;
    ImageSlice<T> source = m_image->GetSlice(sourcePosition);
    if (!source.GetData())
        return ImageSlice<T>();

    const Vector size = GetSize();
    const Vector sourceSize = m_image->GetSize();
    if (size.size() < 2 || sourceSize.size() < 2)
        return ImageSlice<T>();
    if (size[0] == sourceSize[0] && size[1] == sourceSize[1])
        return source;

    const int x0 = m_start[0];
    const int y0 = m_start[1];
    const int w = size[0];
    const int h = size[1];
    const Vector got = source.GetSize();
    // A crop that reaches outside the delivered plane would read past its buffer.
    if (w <= 0 || h <= 0 || x0 < 0 || y0 < 0 || got.size() < 2 || x0 + w > got[0] || y0 + h > got[1])
        return ImageSlice<T>();

    const size_t W = static_cast<size_t>(got[0]);
    T* buffer = static_cast<T*>(std::malloc(static_cast<size_t>(w) * static_cast<size_t>(h) * sizeof(T)));
    if (!buffer)
        return ImageSlice<T>();
    for (int r = 0; r < h; ++r)
        std::memcpy(buffer + static_cast<size_t>(r) * static_cast<size_t>(w),
                    source.GetData() + (static_cast<size_t>(y0 + r)) * W + static_cast<size_t>(x0),
                    static_cast<size_t>(w) * sizeof(T));
    if (!source.IsIntact()) {
        std::free(buffer);
        return ImageSlice<T>();
    }
    return ImageSlice<T>(Vector(w, h), buffer);
}

template class ImageBase<unsigned short>;
template class ImageVolume<unsigned short>;

} // namespace ImageReader
