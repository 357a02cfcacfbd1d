#include "ImagePermutation.h"

#include <cstdlib>
#include <cstring>

namespace ImageReader {

namespace {

// Reads one value of a source plane, tolerating planes that are empty or smaller than
// the source claims.
template <class T>
struct PlaneReader
{
    ImageSlice<T> slice;
    int w = 0;
    int h = 0;

    void set(ImageSlice<T>&& s)
    {
        slice = std::move(s);
        const Vector size = slice.GetSize();
        w = size.size() >= 2 ? size[0] : 0;
        h = size.size() >= 2 ? size[1] : 0;
    }
    bool get(int cx, int cy, T& v) const
    {
        if (!slice.GetData() || cx < 0 || cy < 0 || cx >= w || cy >= h)
            return false;
        v = slice.GetData()[static_cast<size_t>(cx) + static_cast<size_t>(cy) * static_cast<size_t>(w)];
        return true;
    }
};

} // namespace

template <class T>
ImageSlice<T> ImagePermutation<T>::GetSlice(const Vector& q)
{
    const Vector source = m_image->GetSize();
    const int n = static_cast<int>(source.size());
    if (n < 2 || static_cast<int>(m_order.size()) != n || static_cast<int>(q.size()) < n - 2)
        return ImageSlice<T>();
    for (int k = 0; k < n; ++k)
        if (m_order[k] < 0 || m_order[k] >= n)
            return ImageSlice<T>();

    const int a = m_order[0];
    const int b = m_order[1];
    const int W = source[a];
    const int H = source[b];
    if (W <= 0 || H <= 0)
        return ImageSlice<T>();
    T* buffer = static_cast<T*>(std::calloc(static_cast<size_t>(W) * static_cast<size_t>(H), sizeof(T)));
    if (!buffer)
        return ImageSlice<T>();

    Vector s;
    for (int k = 0; k < n; ++k)
        s.push_back(0);
    for (int k = 2; k < n; ++k)
        s[m_order[k]] = q[k - 2];
    s[a] = 0;
    s[b] = 0;
    int cx = s[0];
    int cy = s[1];
    auto setInPlane = [&](int dim, int v) { (dim == 0 ? cx : cy) = v; };
    auto read = [&](PlaneReader<T>& r) { r.set(m_image->GetSlice(s(2, Vector::end))); };

    PlaneReader<T> current;
    read(current);
    T* out = buffer;
    auto store = [&](const PlaneReader<T>& r, int x, int y) {
        T v;
        if (r.get(cx, cy, v))
            out[static_cast<size_t>(x) + static_cast<size_t>(y) * static_cast<size_t>(W)] = v;
    };

    if (a == 0 && b == 1) {
        // Identity of the source plane: a straight copy.
        if (current.slice.GetData() && current.w == W && current.h == H)
            std::memcpy(buffer, current.slice.GetData(), static_cast<size_t>(W) * static_cast<size_t>(H) * sizeof(T));
    } else if (a < b) {
        PlaneReader<T> single;
        for (int y = 0; y < H; ++y) {
            if (b >= 2) {
                s[a] = 0;
                s[b] = y;
                read(current);
            } else {
                cy = y;
            }
            for (int x = 0; x < W; ++x) {
                if (a >= 2) {
                    s[a] = x;
                    read(single);
                    store(single, x, y);
                } else {
                    setInPlane(a, x);
                    store(current, x, y);
                }
            }
        }
    } else {
        PlaneReader<T> single;
        for (int x = 0; x < W; ++x) {
            if (a >= 2) {
                s[a] = x;
                s[b] = 0;
                read(current);
            } else {
                setInPlane(a, x);
            }
            for (int y = 0; y < H; ++y) {
                if (b >= 2) {
                    s[b] = y;
                    read(single);
                    store(single, x, y);
                } else {
                    setInPlane(b, y);
                    store(current, x, y);
                }
            }
        }
    }
    return ImageSlice<T>(Vector(W, H), buffer);
}

template class ImagePermutation<unsigned short>;

} // namespace ImageReader
