#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

#include "ImageSlice.h"
#include "Vector.h"

namespace ImageReader {

template <class T>
class ImageVolume;

// Lets another thread follow a long projection and stop it. `total` grows by the planes a
// projection will visit when it starts and `done` by each plane visited, so one control can
// span several projections.
struct ProjectionControl
{
    std::atomic<bool> cancel{false};
    std::atomic<size_t> done{0};
    std::atomic<size_t> total{0};
};

// Threads: GetSlice and GetSize may run on any thread, also on several at once. Views read
// and project on a worker thread while the UI thread reads the plane under the cursor, so
// a source that holds a stream or other per-read state serialises it internally (a mutex
// around the read); sources serving memory-mapped or immutable data need no lock. Open and
// Close run on the UI thread with no read in flight (the window stops its work first).
//
// The abstract n-dimensional image source. It delivers the plane spanned by dimensions 0
// and 1 at a position of dimensions 2 and up, and its size. Sources stack on one another
// (cache over reader, permutation over sub-volume) through plain, non-owning pointers.
template <class T>
class ImageBase
{
public:
    // The plane at `position` (coordinates of dimensions 2 .. n-1), or an empty slice.
    virtual ImageSlice<T> GetSlice(const Vector& position) = 0;
    // One extent per dimension; empty when there is no image.
    virtual Vector GetSize() = 0;
    // Rows [y0, y1) of the plane at `position` (a W x (y1 - y0) slice), or columns [x0, x1)
    // (an (x1 - x0) x H slice, row by row); empty when the band is outside the plane or the
    // plane cannot be read. Sources that can read part of a plane (chunked files) override
    // these so that a side view decodes only what it shows; by default they cut the band out
    // of GetSlice's plane (rows without a copy).
    virtual ImageSlice<T> GetRows(const Vector& position, int y0, int y1) { return CutRows(GetSlice(position), y0, y1); }
    virtual ImageSlice<T> GetColumns(const Vector& position, int x0, int x1) { return CutColumns(GetSlice(position), x0, x1); }
    // True when GetRows/GetColumns decode only the band; otherwise a cache in front serves
    // bands from its own (budgeted, kept) planes.
    virtual bool ReadsBands() const { return false; }
    // What a side view reads for rows [y0, y1) (rows true) or columns [x0, x1) of a plane:
    // the plane itself where it costs no more than the band (lent from a mapping, kept by a
    // cache, or a source that reads whole planes anyway), else the band alone. The two are
    // told apart by size; neither is copied here.
    virtual ImageSlice<T> GetBandSource(const Vector& position, bool rows, int a0, int a1)
    {
        if (!ReadsBands())
            return GetSlice(position);
        return rows ? GetRows(position, a0, a1) : GetColumns(position, a0, a1);
    }
    // GetBandSource for each of `positions` in turn (rows, a0, a1 as there): a source that
    // fetches from a server may ask for all their chunks together instead.
    virtual std::vector<ImageSlice<T>> GetBandSources(const std::vector<Vector>& positions, bool rows, int a0, int a1)
    {
        std::vector<ImageSlice<T>> bands;
        bands.reserve(positions.size());
        for (const Vector& p : positions)
            bands.push_back(GetBandSource(p, rows, a0, a1));
        return bands;
    }
    // Tells the source that the band `rows`, a0..a1 (as GetBandSource's) of the planes whose
    // other bands are asked for next will be wanted as well (a picture's XZ view, then its YZ
    // view): a source that fetches chunks from a server may keep that band aside from the
    // chunks it fetches anyway instead of fetching them twice. ForgetExpectedBand lets go of
    // what was kept.
    virtual void ExpectBand(bool /*rows*/, int /*a0*/, int /*a1*/) {}
    virtual void ForgetExpectedBand() {}
    static ImageSlice<T> CutRows(const ImageSlice<T>& plane, int y0, int y1);
    static ImageSlice<T> CutColumns(const ImageSlice<T>& plane, int x0, int x1);

    virtual ~ImageBase() = default;
    // Gives back pages of a file mapping the source serves planes from (no-op otherwise);
    // planes handed out stay valid. May run on any thread.
    virtual void ReleaseMappedPages() {}

    ImageVolume<T> GetVolume(const Vector& start, const Vector& stop);

    // Folds the image onto the plane spanned by d1 (horizontal) and d2 (vertical, or -1 for
    // a single row). fixed[i] >= 0 pins dimension i; every other free dimension besides d1
    // and d2 is collapsed by its maximum.
    // With a control, a cancelled projection returns an empty slice. May run on any thread
    // when GetSlice may (see SliceCache).
    ImageSlice<T> GetMaximumProjection(int d1, int d2, Vector fixed, ProjectionControl* control = nullptr);
    ImageSlice<T> GetMaximumProjection(int d1, int d2);

private:
    // The side view of GetMaximumProjection that collapses no dimension, into `out`
    // (zeroed); false when cancelled. `any`: some plane was read.
    bool gatherBand(T* out, int d1, int d2, const Vector& fixed, ProjectionControl* control, bool& any);
};

} // namespace ImageReader

#include "ImageVolume.h"
