#pragma once

#include <initializer_list>

namespace ImageReader {

// The product of `factors` in `product`; false when a factor is negative or the product
// exceeds `limit` (or would overflow on its way there). Extents from a file are multiplied
// only through this, so that made-up sizes cannot wrap around to a small number.
template <class T>
bool ProductWithin(std::initializer_list<T> factors, T limit, T& product)
{
    T p = 1;
    for (const T f : factors) {
        if (f < 0 || __builtin_mul_overflow(p, f, &p) || p > limit)
            return false;
    }
    product = p;
    return true;
}

} // namespace ImageReader
