#include <gtest/gtest.h>

#include "MovieRange.h"

using namespace Core;

TEST(MovieRange, ParsesTheCommandLineForm)
{
    MovieRange r;
    std::string error;
    ASSERT_TRUE(ParseMovieRange("t", r, error));
    EXPECT_EQ(r.dim, "t");
    EXPECT_FALSE(r.hasRange);
    ASSERT_TRUE(ParseMovieRange("z:3:17", r, error));
    EXPECT_EQ(r.dim, "z");
    EXPECT_TRUE(r.hasRange);
    EXPECT_EQ(r.first, 3);
    EXPECT_EQ(r.last, 17);
    for (const char* bad : {"", ":1:2", "t:1", "t:1:", "t:a:2", "t:-1:2", "t:5:2", "t:1:2:3", "t:1:99999999999"})
        EXPECT_FALSE(ParseMovieRange(bad, r, error)) << bad;
}

TEST(MovieRange, FindsTheDimensionAndChecksTheFrames)
{
    const std::vector<std::string> names{"x", "y", "z", "T", "3"};
    const std::vector<int> sizes{64, 64, 20, 5, 2};
    const struct { const char* arg; bool ok; int dim, first, last; } cases[] = {
        {"z", true, 2, 0, 19},      {"t", true, 3, 0, 4},  {"T:1:3", true, 3, 1, 3},
        {"3", true, 4, 0, 1},       // a name before a number
        {"2:0:4", true, 2, 0, 4},   {"z:0:20", false, 0, 0, 0}, {"w", false, 0, 0, 0}, {"9", false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        MovieRange r;
        std::string error;
        ASSERT_TRUE(ParseMovieRange(c.arg, r, error)) << c.arg;
        int dim = -1, first = -1, last = -1;
        EXPECT_EQ(ResolveMovieRange(r, names, sizes, dim, first, last, error), c.ok) << c.arg;
        if (c.ok) {
            EXPECT_EQ(dim, c.dim) << c.arg;
            EXPECT_EQ(first, c.first) << c.arg;
            EXPECT_EQ(last, c.last) << c.arg;
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}
