#pragma once

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <type_traits>
#include <memory>
#include <utility>

#include "Vector.h"

namespace ImageReader {

// Memory a slice may borrow that can be taken away while the slice is held: a mapping of a
// file cut short reads zeros from the cut on. Asked after a read, the lender says whether
// the range it lent still held what was lent, so that zeros are never taken for data.
class Lender
{
public:
    virtual bool StillLent(const void* data, size_t bytes) const = 0;

protected:
    ~Lender() = default;
};

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

    // Points into memory that `keepAlive` holds; nothing is copied or freed. `lender`, if
    // any, can take the memory away (see IsIntact); keepAlive keeps it alive too.
    static ImageSlice Borrow(const Vector& size, const T* data, std::shared_ptr<const void> keepAlive,
                             const Lender* lender = nullptr)
    {
        ImageSlice slice;
        if (data && keepAlive) {
            slice.m_data = const_cast<T*>(data);
            slice.m_size = size;
            slice.m_refcount = new Shared{};
            slice.m_refcount->owner = std::move(keepAlive);
            slice.m_refcount->lender = lender;
        }
        return slice;
    }
    // Borrowed from a lender that is its own keep-alive (a file mapping).
    template <class L, class = std::enable_if_t<std::is_base_of_v<Lender, L>>>
    static ImageSlice Borrow(const Vector& size, const T* data, std::shared_ptr<const L> lender)
    {
        const Lender* from = lender.get();
        return Borrow(size, data, std::shared_ptr<const void>(std::move(lender)), from);
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
    // False once the borrowed memory was taken away (the file under a mapping was cut): what
    // was read from it since is zeros, not the plane. Whoever holds a slice and reads it
    // later asks after reading, and takes the plane as missing.
    bool IsIntact() const
    {
        if (!m_refcount || !m_refcount->lender)
            return true;
        size_t bytes = sizeof(T);
        for (unsigned i = 0; i < m_size.size(); ++i)
            bytes *= static_cast<size_t>(m_size[static_cast<int>(i)] > 0 ? m_size[static_cast<int>(i)] : 0);
        return m_refcount->lender->StillLent(m_data, bytes);
    }
    const Lender* GetLender() const { return m_refcount ? m_refcount->lender : nullptr; }

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
        const Lender* lender = nullptr;    // set for memory that can be taken away
    };

    T* m_data = nullptr;
    Vector m_size;
    Shared* m_refcount = nullptr;
};

} // namespace ImageReader
