// The bounded slice cache: budget and least-recently-used eviction, planes held by callers,
// borrowed planes, refusals, and many threads at once.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "FormulaImage.h"
#include "SliceCache.h"
#include "StopToken.h"

using ImageReader::ImageSlice;
using ImageReader::SliceCache;
using ImageReader::Vector;
using Slice = ImageSlice<unsigned short>;

namespace {

unsigned short value(const std::vector<int>& c)
{
    return static_cast<unsigned short>(c[0] + 7 * c[1] + 1000 * c[2]);
}

// 10 x 10 planes: 200 bytes each.
constexpr size_t kPlane = 10 * 10 * sizeof(unsigned short);

// Planes borrowed from one shared buffer, as a memory-mapped reader delivers them.
class BorrowingImage : public ImageReader::ImageBase<unsigned short>
{
public:
    explicit BorrowingImage(int depth) : m_depth(depth), m_data(std::make_shared<std::vector<unsigned short>>(100 * depth))
    {
        for (size_t i = 0; i < m_data->size(); ++i)
            (*m_data)[i] = static_cast<unsigned short>(i);
    }
    Slice GetSlice(const Vector& p) override
    {
        return Slice::Borrow(Vector(10, 10), m_data->data() + 100 * p[0], m_data);
    }
    Vector GetSize() override { return V({10, 10, m_depth}); }
    void ReleaseMappedPages() override { ++releases; }
    int releases = 0;

private:
    int m_depth;
    std::shared_ptr<std::vector<unsigned short>> m_data;
};

} // namespace

TEST(SliceCacheBudget, EvictsTheLeastRecentlyUsedPlanes)
{
    struct Case
    {
        const char* name;
        std::vector<int> requests; // z of each request, in order
        std::vector<int> cachedAfter;
        int reads;
    };
    // A budget of three planes throughout.
    const std::vector<Case> cases = {
        {"fills up", {0, 1, 2}, {0, 1, 2}, 3},
        {"the oldest goes", {0, 1, 2, 3}, {1, 2, 3}, 4},
        {"a hit makes a plane young", {0, 1, 2, 0, 3}, {0, 2, 3}, 4},
        {"an evicted plane is read again", {0, 1, 2, 3, 0}, {2, 3, 0}, 5},
        {"repeats cost nothing", {4, 4, 4, 4}, {4}, 1},
    };
    for (const Case& c : cases) {
        FormulaImage source({10, 10, 8}, value);
        SliceCache<unsigned short> cache(&source, 3 * kPlane);
        for (int z : c.requests) {
            const Slice s = cache.GetSlice(V({z}));
            ASSERT_EQ(s.GetData()[23], value({3, 2, z})) << c.name;
        }
        EXPECT_EQ(source.reads, c.reads) << c.name;
        EXPECT_EQ(cache.GetCount(), c.cachedAfter.size()) << c.name;
        EXPECT_EQ(cache.GetBytes(), c.cachedAfter.size() * kPlane) << c.name;
        const int before = source.reads;
        for (int z : c.cachedAfter)
            cache.GetSlice(V({z}));
        EXPECT_EQ(source.reads, before) << c.name << ": the expected planes were still cached";
    }
}

TEST(SliceCacheBudget, SweepStaysWithinTheBudget)
{
    FormulaImage source({10, 10, 200}, value);
    SliceCache<unsigned short> cache(&source, 5 * kPlane + 10);
    for (int z = 0; z < 200; ++z)
        cache.GetSlice(V({z}));
    EXPECT_LE(cache.GetPeakBytes(), 5 * kPlane + 10);
    EXPECT_EQ(cache.GetCount(), 5u);
    cache.SetBudget(2 * kPlane);
    EXPECT_EQ(cache.GetCount(), 2u) << "a smaller budget evicts at once";
    cache.Clear();
    EXPECT_EQ(cache.GetBytes(), 0u);
}

TEST(SliceCacheBudget, APlaneAHolderKeepsSurvivesEviction)
{
    FormulaImage source({10, 10, 4}, value);
    SliceCache<unsigned short> cache(&source, kPlane);
    const Slice held = cache.GetSlice(V({1}));
    cache.GetSlice(V({2}));
    cache.GetSlice(V({3}));
    EXPECT_EQ(held.GetRefCount(), 1) << "the cache let go of it";
    EXPECT_EQ(held.GetData()[99], value({9, 9, 1}));
}

TEST(SliceCacheBudget, BorrowedPlanesPassThroughWithoutCost)
{
    BorrowingImage source(50);
    SliceCache<unsigned short> cache(&source, kPlane);
    for (int z = 0; z < 50; ++z) {
        const Slice s = cache.GetSlice(V({z}));
        ASSERT_TRUE(s.IsBorrowed());
        EXPECT_EQ(s.GetData()[5], static_cast<unsigned short>(100 * z + 5));
    }
    EXPECT_EQ(cache.GetCount(), 0u);
    EXPECT_EQ(cache.GetPeakBytes(), 0u);
    // The mapped pages they touch are given back every 64 MiB (the least) of planes passed.
    const size_t reads = (size_t(64) << 20) / kPlane + 1;
    for (size_t k = 0; k < reads; ++k)
        cache.GetSlice(V({static_cast<int>(k % 50)}));
    EXPECT_EQ(source.releases, 1);
}

TEST(SliceCacheBudget, PlanesLargerThanTheBudgetAreRefusedUnread)
{
    FormulaImage source({10, 10, 3}, value);
    SliceCache<unsigned short> cache(&source, kPlane - 1);
    EXPECT_TRUE(cache.GetSlice(V({0})).IsEmpty());
    EXPECT_EQ(source.reads, 0);
    EXPECT_EQ(cache.GetRefusedCount(), 1u);
    EXPECT_EQ(cache.GetFailureCount(), 0u) << "a refusal is not a damaged plane";
}

TEST(SliceCacheBudget, ManyThreadsSeeCorrectPlanesWithinTheBudget)
{
    FormulaImage source({10, 10, 64}, value);
    SliceCache<unsigned short> cache(&source, 8 * kPlane);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const int z = (i * (t + 3) + t) % 64;
                const Slice s = cache.GetSlice(V({z}));
                if (s.IsEmpty() || s.GetData()[57] != value({7, 5, z}))
                    ++wrong;
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_LE(cache.GetPeakBytes(), 8 * kPlane);
}

namespace {

// Counts reads per plane and how many run at once; each read takes a while.
class SlowImage : public ImageReader::ImageBase<unsigned short>
{
public:
    Slice GetSlice(const Vector& p) override
    {
        const int now = ++m_inside;
        int seen = m_most.load();
        while (now > seen && !m_most.compare_exchange_weak(seen, now)) {
        }
        ++reads[static_cast<size_t>(p[0])];
        for (int k = 0; k < 40 && !ImageReader::StopRequested(); ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        --m_inside;
        if (ImageReader::StopRequested())
            return {};
        auto* buf = static_cast<unsigned short*>(std::malloc(kPlane));
        for (int i = 0; i < 100; ++i)
            buf[i] = static_cast<unsigned short>(p[0]);
        return Slice(Vector(10, 10), buf);
    }
    Vector GetSize() override { return V({10, 10, 4}); }
    int MostAtOnce() const { return m_most.load(); }
    std::array<std::atomic<int>, 4> reads{};

private:
    std::atomic<int> m_inside{0};
    std::atomic<int> m_most{0};
};

} // namespace

TEST(SliceCacheThreads, APlaneIsReadOnceOtherPlanesInParallel)
{
    SlowImage source;
    SliceCache<unsigned short> cache(&source, 64 * kPlane);
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    // Four threads want plane 1, two others planes 2 and 3 at the same time.
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            const int z = t < 4 ? 1 : t - 2;
            const Slice s = cache.GetSlice(V({z}));
            if (s.IsEmpty() || s.GetData()[0] != z)
                ++wrong;
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(source.reads[1].load(), 1);
    EXPECT_EQ(source.reads[2].load(), 1);
    EXPECT_EQ(source.reads[3].load(), 1);
    EXPECT_GE(source.MostAtOnce(), 2); // no lock around the source
}

TEST(SliceCacheThreads, AStoppedReadLeavesThePlaneToTheNextAsker)
{
    SlowImage source;
    SliceCache<unsigned short> cache(&source, 64 * kPlane);
    ImageReader::StopToken stop;
    std::atomic<bool> started{false};
    std::thread job([&] {
        const ImageReader::StopScope scope(&stop);
        started = true;
        EXPECT_TRUE(cache.GetSlice(V({2})).IsEmpty());
    });
    while (!started)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::thread reader([&] {
        const Slice s = cache.GetSlice(V({2}));
        EXPECT_FALSE(s.IsEmpty());
    });
    stop.RequestStop();
    job.join();
    reader.join();
    EXPECT_EQ(cache.GetFailureCount(), 0u); // a stop is not a damaged plane
    EXPECT_FALSE(cache.Peek(V({2})).IsEmpty());
}
