#pragma once

#include <cstdlib>
#include <utility>

#include "Vector.h"

namespace ImageReader {

// A 2-D block of pixels passed by value. Copies share one malloc'ed buffer through a
// plain (non-atomic) reference count; the last copy frees it. An empty slice (no data,
// empty size) marks a plane that could not be read.
template <class T>
class ImageSlice
{
public:
    ImageSlice() = default;

    // Takes over `data`, which must come from malloc (or be null for an empty slice).
    ImageSlice(const Vector& size, T* data) : m_data(data), m_size(size)
    {
        if (m_data)
            m_refcount = new int(1);
        else
            m_size = Vector();
    }

    ImageSlice(const ImageSlice& other) : m_data(other.m_data), m_size(other.m_size), m_refcount(other.m_refcount)
    {
        if (m_refcount)
            ++*m_refcount;
    }

    ImageSlice(ImageSlice&& other) noexcept
        : m_data(other.m_data), m_size(std::move(other.m_size)), m_refcount(other.m_refcount)
    {
        other.m_data = nullptr;
        other.m_size = Vector();
        other.m_refcount = nullptr;
    }

    ImageSlice& operator=(const ImageSlice& other)
    {
        if (this == &other || m_data == other.m_data)
            return *this;
        // Take the new reference before dropping the old one, so that assigning from a
        // slice whose only owner is *this cannot free the buffer under our feet.
        if (other.m_refcount)
            ++*other.m_refcount;
        release();
        m_data = other.m_data;
        m_size = other.m_size;
        m_refcount = other.m_refcount;
        return *this;
    }

    ImageSlice& operator=(ImageSlice&& other) noexcept
    {
        if (this != &other) {
            release();
            m_data = other.m_data;
            m_size = std::move(other.m_size);
            m_refcount = other.m_refcount;
            other.m_data = nullptr;
            other.m_size = Vector();
            other.m_refcount = nullptr;
        }
        return *this;
    }

    ~ImageSlice() { release(); }

    const T* GetData() const { return m_data; }
    Vector GetSize() const { return m_size; }

    // Number of slices sharing the buffer (0 for an empty slice).
    int GetRefCount() const { return m_refcount ? *m_refcount : 0; }
    bool IsEmpty() const { return m_data == nullptr; }

private:
    void release()
    {
        if (m_refcount && --*m_refcount == 0) {
            std::free(m_data);
            delete m_refcount;
        }
        m_data = nullptr;
        m_refcount = nullptr;
        m_size = Vector();
    }

    T* m_data = nullptr;
    Vector m_size;
    int* m_refcount = nullptr;
};

} // namespace ImageReader
