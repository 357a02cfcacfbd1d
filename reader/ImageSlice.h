#pragma once

#include <atomic>
#include <cstdlib>
#include <memory>
#include <utility>

#include "Vector.h"

namespace ImageReader {

// A 2-D block of pixels passed by value. Copies share one buffer through an atomic reference
// count (slices cross threads: readers and projections run off the UI thread); the last copy
// frees it. The buffer is either malloc'ed and owned, or borrowed from something a keep-alive
// pointer holds (a memory mapping of the file), which lives until the last copy is gone.
// An empty slice (no data, empty size) marks a plane that could not be read.
template <class T>
class ImageSlice
{
public:
    ImageSlice() = default;

    // Takes over `data`, which must come from malloc (or be null for an empty slice).
    ImageSlice(const Vector& size, T* data) : m_data(data), m_size(size)
    {
        if (m_data)
            m_refcount = new Shared{};
        else
            m_size = Vector();
    }

    // Points into memory that `keepAlive` holds; nothing is copied or freed.
    static ImageSlice Borrow(const Vector& size, const T* data, std::shared_ptr<const void> keepAlive)
    {
        ImageSlice slice;
        if (data && keepAlive) {
            slice.m_data = const_cast<T*>(data);
            slice.m_size = size;
            slice.m_refcount = new Shared{};
            slice.m_refcount->owner = std::move(keepAlive);
        }
        return slice;
    }

    ImageSlice(const ImageSlice& other) : m_data(other.m_data), m_size(other.m_size), m_refcount(other.m_refcount)
    {
        if (m_refcount)
            m_refcount->count.fetch_add(1, std::memory_order_relaxed);
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
            other.m_refcount->count.fetch_add(1, std::memory_order_relaxed);
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
    int GetRefCount() const { return m_refcount ? m_refcount->count.load(std::memory_order_relaxed) : 0; }
    bool IsEmpty() const { return m_data == nullptr; }
    // True when the pixels live in borrowed memory (see Borrow).
    bool IsBorrowed() const { return m_refcount && m_refcount->owner; }

private:
    void release()
    {
        if (m_refcount && m_refcount->count.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            if (!m_refcount->owner)
                std::free(m_data);
            delete m_refcount;
        }
        m_data = nullptr;
        m_refcount = nullptr;
        m_size = Vector();
    }

    struct Shared
    {
        std::atomic<int> count{1};
        std::shared_ptr<const void> owner; // set for borrowed memory
    };

    T* m_data = nullptr;
    Vector m_size;
    Shared* m_refcount = nullptr;
};

} // namespace ImageReader
