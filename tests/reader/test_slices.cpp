#include <gtest/gtest.h>

#include "ImageBase.h"
#include "SliceCache.h"
#include "FormulaImage.h"

using ImageReader::ImageSlice;
using ImageReader::SliceCache;
using ImageReader::Vector;
using Slice = ImageSlice<unsigned short>;

namespace {
Slice makeSlice(int w, int h, unsigned short first)
{
    auto* buf = static_cast<unsigned short*>(std::malloc(sizeof(unsigned short) * static_cast<size_t>(w * h)));
    for (int i = 0; i < w * h; ++i)
        buf[i] = static_cast<unsigned short>(first + i);
    return Slice(Vector(w, h), buf);
}

unsigned short planeValue(const std::vector<int>& c) { return static_cast<unsigned short>(c[0] + 10 * c[1] + 100 * c[2]); }
} // namespace

TEST(ImageSlice, CopiesShareOneBufferAndTheLastOneFreesIt)
{
    auto* first = new Slice(makeSlice(3, 2, 7));
    const unsigned short* data = first->GetData();
    Slice copy(*first);
    EXPECT_EQ(copy.GetData(), data);
    EXPECT_EQ(first->GetRefCount(), 2);
    delete first;
    EXPECT_EQ(copy.GetRefCount(), 1);
    EXPECT_EQ(copy.GetData()[5], 12) << "pixels survive the first copy's destruction";
    EXPECT_EQ(copy.GetSize(), Vector(3, 2));
    // The sanitizer build catches a double free or a leak of the buffer or its counter here.
}

TEST(ImageSlice, AssignmentReleasesTheOldBuffer)
{
    Slice a = makeSlice(2, 2, 0);
    Slice b = makeSlice(4, 4, 100);
    b = a;
    EXPECT_EQ(b.GetData(), a.GetData());
    EXPECT_EQ(a.GetRefCount(), 2);
    EXPECT_EQ(b.GetSize(), Vector(2, 2));

    const Slice& self = b; // through a reference, so that clang does not warn about the self-assignment
    b = self;
    EXPECT_EQ(b.GetRefCount(), 2) << "self-assignment changes nothing";

    Slice empty;
    b = empty;
    EXPECT_EQ(b.GetData(), nullptr);
    EXPECT_EQ(b.GetSize().size(), 0u);
    EXPECT_EQ(a.GetRefCount(), 1);

    Slice emptyCopy(empty);
    EXPECT_EQ(emptyCopy.GetData(), nullptr);
    EXPECT_EQ(emptyCopy.GetRefCount(), 0);
}

TEST(ImageVolume, WholePlanesAreSharedWithTheSource)
{
    FormulaImage source({6, 5, 10}, planeValue);
    SliceCache<unsigned short> cache(&source);
    auto volume = cache.GetVolume(V({0, 0, 3}), V({6, 5, 5}));
    EXPECT_EQ(volume.GetSize(), V({6, 5, 2}));
    const Slice fromVolume = volume.GetSlice(V({1}));
    const Slice fromSource = cache.GetSlice(V({4}));
    EXPECT_EQ(fromVolume.GetData(), fromSource.GetData()) << "no copy when nothing is cropped";
}

TEST(ImageVolume, CropsDimensionsZeroAndOne)
{
    FormulaImage source({10, 10, 1}, [](const std::vector<int>& c) { return static_cast<unsigned short>(c[0] + 10 * c[1]); });
    auto volume = source.GetVolume(V({2, 1, 0}), V({5, 3, 1}));
    const Slice s = volume.GetSlice(V({0}));
    ASSERT_EQ(s.GetSize(), Vector(3, 2));
    const std::vector<unsigned short> expected = {12, 13, 14, 22, 23, 24};
    EXPECT_EQ(std::vector<unsigned short>(s.GetData(), s.GetData() + 6), expected);
    EXPECT_EQ(s.GetRefCount(), 1);

    source.failing.insert({0});
    EXPECT_EQ(volume.GetSlice(V({0})).GetData(), nullptr) << "an unreadable plane stays empty";
}

TEST(SliceCache, ReadsEachPositionOnceAndKeysByWholeVector)
{
    FormulaImage source({4, 3, 5, 2}, [](const std::vector<int>& c) { return static_cast<unsigned short>(c[2] * 7 + c[3]); });
    SliceCache<unsigned short> cache(&source);
    {
        const Slice a = cache.GetSlice(Vector(3, 1));
        const Slice b = cache.GetSlice(Vector(3, 1));
        EXPECT_EQ(source.reads, 1);
        EXPECT_EQ(a.GetData(), b.GetData());
        EXPECT_EQ(a.GetRefCount(), 3) << "two callers and the cache";
        EXPECT_EQ(a.GetData()[0], 22);
    }
    cache.GetSlice(V({3}));
    EXPECT_EQ(source.reads, 2) << "(3) and (3, 0)-like keys of other lengths differ";
    cache.GetSlice(Vector(3, 0));
    EXPECT_EQ(source.reads, 3);

    cache.Clear();
    EXPECT_EQ(cache.GetCount(), 0u);
    cache.GetSlice(Vector(3, 1));
    EXPECT_EQ(source.reads, 4) << "a cleared cache asks the source again";

    source.failing.insert({0, 0});
    EXPECT_EQ(cache.GetSlice(Vector(0, 0)).GetData(), nullptr);
    EXPECT_EQ(cache.GetSlice(Vector(0, 0)).GetData(), nullptr);
    EXPECT_EQ(source.reads, 6) << "a failed plane is asked for again at the next request";
    EXPECT_EQ(cache.GetFailureCount(), 2u);
    source.failing.clear();
    EXPECT_NE(cache.GetSlice(Vector(0, 0)).GetData(), nullptr) << "and comes once it can be read";
}

TEST(SliceCache, TwoDimensionalImageHoldsOneEntry)
{
    FormulaImage source({8, 8}, [](const std::vector<int>& c) { return static_cast<unsigned short>(c[0]); });
    SliceCache<unsigned short> cache(&source);
    cache.GetSlice(Vector());
    cache.GetSlice(Vector());
    EXPECT_EQ(cache.GetCount(), 1u);
    EXPECT_EQ(source.reads, 1);
}
