#include <gtest/gtest.h>

#include "FormulaImage.h"
#include "Vector.h"

using ImageReader::Vector;
using ImageReader::VectorCompare;

TEST(Vector, ReductionsOfEmptyAndFilledVectors)
{
    EXPECT_EQ(Vector().size(), 0u);
    EXPECT_EQ(Vector().prod(), 1);
    EXPECT_EQ(Vector().sum(), 0);
    EXPECT_EQ(V({512, 512, 31}).prod(), 512 * 512 * 31);
    EXPECT_EQ(V({4, -5, 6}).sum(), 5);
}

TEST(Vector, ArithmeticUsesTheShorterOperandAndTruncates)
{
    EXPECT_EQ(Vector(5, -3) / 2, Vector(2, -1));
    EXPECT_EQ(V({1, 2, 3}) + Vector(10, 20), Vector(11, 22));
    EXPECT_EQ(Vector(10, 20) - V({1, 2, 3}), Vector(9, 18));
    EXPECT_EQ(V({2, 3, 4}) * V({5, 6, 7}), V({10, 18, 28}));
    EXPECT_EQ(V({1, 2, 3}) + 1, V({2, 3, 4}));

    const Vector a = V({1, 2, 3});
    const Vector sum = a + a;
    EXPECT_EQ(a, V({1, 2, 3})) << "operands must stay untouched";
    EXPECT_EQ(sum, V({2, 4, 6}));
}

TEST(Vector, SubRanges)
{
    const Vector v = V({4, 5, 6, 7});
    EXPECT_EQ(v(2, Vector::end), Vector(6, 7));
    EXPECT_EQ(v(0, 2), Vector(4, 5));
    EXPECT_EQ(v(3, 3).size(), 0u);
    EXPECT_EQ(v(5, Vector::end).size(), 0u);
    EXPECT_EQ(Vector(1, 2)(2, Vector::end).size(), 0u) << "a 2-D image has an empty slice position";
}

TEST(Vector, PermuteGathers)
{
    EXPECT_EQ(V({10, 20, 30}).permute(V({2, 0, 1})), V({30, 10, 20}));
    EXPECT_EQ(V({10, 20, 30}).permute(V({0, 0, 0})), V({10, 10, 10}));
}

TEST(Vector, CompareOrdersByLengthThenLexicographically)
{
    const VectorCompare less;
    EXPECT_TRUE(less(V({9}), Vector(0, 0)));
    EXPECT_FALSE(less(Vector(0, 0), V({9})));
    EXPECT_TRUE(less(Vector(1, 2), Vector(1, 3)));
    EXPECT_TRUE(less(Vector(-1, 5), Vector(0, 0)));
    EXPECT_FALSE(less(Vector(1, 3), Vector(1, 3)));
    EXPECT_FALSE(less(Vector(), Vector()));
    EXPECT_TRUE(less(V({0, 9}), V({1, 0}))) << "element 0 is most significant";
}

TEST(Vector, OverflowWrapsInsteadOfTrapping)
{
    // Plain 32-bit arithmetic: no check, but defined behaviour under the sanitizers.
    EXPECT_EQ(Vector(65536, 65536).prod(), 0);
    EXPECT_EQ((Vector(2147483647, 0) + 1)[0], -2147483647 - 1);
}
