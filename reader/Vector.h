#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ImageReader {

// A small integer vector for sizes, positions, sub-volume corners and dimension orders.
// Element 0 is the fastest-varying dimension (horizontal axis of a slice), element 1 the
// vertical axis, elements 2 and up the higher dimensions.
class Vector
{
public:
    static const int end = 999999;

    Vector() = default;
    Vector(int a, int b);

    unsigned int size() const { return static_cast<unsigned int>(m_data.size()); }
    int& operator[](int i) { return m_data[static_cast<size_t>(i)]; }
    const int& operator[](int i) const { return m_data[static_cast<size_t>(i)]; }
    void push_back(int x) { m_data.push_back(x); }

    int prod() const;
    int sum() const;

    Vector operator+(int k) const;
    Vector operator/(int k) const;
    Vector operator+(const Vector& b) const;
    Vector operator-(const Vector& b) const;
    Vector operator*(const Vector& b) const;
    Vector operator()(int from, int to) const;
    Vector permute(const Vector& order) const;

    bool operator==(const Vector& b) const { return m_data == b.m_data; }
    bool operator!=(const Vector& b) const { return m_data != b.m_data; }

private:
    std::vector<int> m_data;
};

// Strict weak ordering: shorter vectors first, then lexicographic with element 0 most significant.
struct VectorCompare
{
    bool operator()(const Vector& a, const Vector& b) const;
};

} // namespace ImageReader
