#include "Vector.h"

#include <algorithm>

namespace ImageReader {

namespace {
// Wrapping 32-bit arithmetic: overflow is not checked, but must not be undefined behaviour.
inline int wrapAdd(int a, int b) { return static_cast<int>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
inline int wrapSub(int a, int b) { return static_cast<int>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }
inline int wrapMul(int a, int b) { return static_cast<int>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b)); }

template <class Op>
Vector elementwise(const Vector& a, const Vector& b, Op op)
{
    Vector r;
    const unsigned int n = std::min(a.size(), b.size());
    for (unsigned int i = 0; i < n; ++i)
        r.push_back(op(a[static_cast<int>(i)], b[static_cast<int>(i)]));
    return r;
}
} // namespace

Vector::Vector(int a, int b) : m_data{a, b} {}

int Vector::prod() const
{
    int p = 1;
    for (int v : m_data)
        p = wrapMul(p, v);
    return p;
}

int Vector::sum() const
{
    int s = 0;
    for (int v : m_data)
        s = wrapAdd(s, v);
    return s;
}

Vector Vector::operator+(int k) const
{
    Vector r(*this);
    for (int& v : r.m_data)
        v = wrapAdd(v, k);
    return r;
}

Vector Vector::operator/(int k) const
{
    Vector r(*this);
    for (int& v : r.m_data)
        v = (k == -1) ? wrapSub(0, v) : v / k; // INT_MIN / -1 would trap
    return r;
}

Vector Vector::operator+(const Vector& b) const { return elementwise(*this, b, wrapAdd); }
Vector Vector::operator-(const Vector& b) const { return elementwise(*this, b, wrapSub); }
Vector Vector::operator*(const Vector& b) const { return elementwise(*this, b, wrapMul); }

Vector Vector::operator()(int from, int to) const
{
    Vector r;
    const int n = static_cast<int>(m_data.size());
    const int stop = std::min(to, n);
    for (int i = std::max(from, 0); i < stop; ++i)
        r.m_data.push_back(m_data[static_cast<size_t>(i)]);
    return r;
}

Vector Vector::permute(const Vector& order) const
{
    Vector r;
    r.m_data.reserve(m_data.size());
    for (size_t i = 0; i < m_data.size(); ++i) {
        const int src = i < order.m_data.size() ? order.m_data[i] : static_cast<int>(i);
        r.m_data.push_back(src >= 0 && static_cast<size_t>(src) < m_data.size() ? m_data[static_cast<size_t>(src)] : 0);
    }
    return r;
}

bool VectorCompare::operator()(const Vector& a, const Vector& b) const
{
    if (a.size() != b.size())
        return a.size() < b.size();
    for (unsigned int i = 0; i < a.size(); ++i) {
        const int ai = a[static_cast<int>(i)];
        const int bi = b[static_cast<int>(i)];
        if (ai != bi)
            return ai < bi;
    }
    return false;
}

} // namespace ImageReader
