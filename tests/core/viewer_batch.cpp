// Autoscaling inside one refresh of several views: every view ends coloured with the range
// all of them widened to, and no view is coloured more often than that needs.
#include <gtest/gtest.h>

#include "ViewerTestKit.h"

using namespace ViewerTestKit;

namespace {

// Pictures made per view while `action` runs.
std::array<int, 3> PicturesMadeBy(Viewer& v, const std::function<void()>& action)
{
    std::array<int, 3> made{};
    const int id = v.AddListener([&](const ChangeSet& c) {
        if (c.Has(ChangeViewReady))
            for (int i = 0; i < 3; ++i)
                if (c.views & (1 << i))
                    ++made[static_cast<size_t>(i)];
    });
    action();
    v.Wait();
    v.RemoveListener(id);
    return made;
}

// Opens a 32 x 24 x 10 image with the cursor at the far corner of x and y, then narrows the
// autoscaled range so that the next refresh widens it again.
void OpenNarrowed(Viewer& v, FormulaImage::Formula f, std::array<int, 3>& made)
{
    ASSERT_EQ(v.Open(Image({32, 24, 10}, {"x", "y", "z"}, std::move(f))), "");
    v.Wait();
    ASSERT_TRUE(v.SetChannelDimension(-1));
    ASSERT_TRUE(v.SetCursor(0, 31));
    ASSERT_TRUE(v.SetCursor(1, 23));
    v.Wait();
    DisplayState d = v.Display();
    d.global.min = 100;
    d.global.max = 120;
    d.global.autoscaling = true;
    made = PicturesMadeBy(v, [&] { ASSERT_TRUE(v.SetDisplay(d)); });
}

} // namespace

TEST(ViewerBatch, AutoscalingColoursEachViewOnceWithTheRangeAllViewsFound)
{
    struct Case
    {
        const char* what;
        FormulaImage::Formula f;
        int lo, hi;
        std::array<int, 3> made;
    };
    const Case cases[] = {
        // XY holds every value the side views hold: nobody is coloured twice.
        {"XY covers all", [](const std::vector<int>& p) { return static_cast<unsigned short>(p[0] * 10 + p[1]); },
         0, 333, {1, 1, 1}},
        // The side views reach planes past the cursor's (z 5) with smaller and larger values:
        // XY, coloured first, once more.
        {"sides widen", [](const std::vector<int>& p) { return static_cast<unsigned short>(p[0] * 10 + p[1] + p[2] * 1000); },
         23, 9333, {2, 1, 1}},
    };
    for (const Case& c : cases) {
        Viewer v;
        std::array<int, 3> made{};
        OpenNarrowed(v, c.f, made);
        EXPECT_EQ(made, c.made) << c.what;
        EXPECT_EQ(v.Display().global.min, c.lo) << c.what;
        EXPECT_EQ(v.Display().global.max, c.hi) << c.what;

        // The same views coloured from the start with the final range, without autoscaling.
        Viewer fixed;
        ASSERT_EQ(fixed.Open(Image({32, 24, 10}, {"x", "y", "z"}, c.f)), "");
        fixed.Wait();
        ASSERT_TRUE(fixed.SetChannelDimension(-1));
        ASSERT_TRUE(fixed.SetCursor(0, 31));
        ASSERT_TRUE(fixed.SetCursor(1, 23));
        DisplayState d = fixed.Display();
        d.global.min = c.lo;
        d.global.max = c.hi;
        d.global.autoscaling = false;
        ASSERT_TRUE(fixed.SetDisplay(d));
        fixed.Wait();
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(SameBytes(v.Record(i).picture, fixed.Record(i).picture)) << c.what << " view " << i;
        }
    }
}
