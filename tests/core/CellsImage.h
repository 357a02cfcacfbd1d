#pragma once

#include <memory>

#include "FormulaImage.h"

// x, y, z, ch = 20 x 16 x 6 x 2 at 100 x 100 x 300 nm; channel 0 is 50 x + 7 z, channel 1
// is 900 - 30 y + z.
inline std::unique_ptr<FormulaImage> Cells()
{
    return std::make_unique<FormulaImage>(
        std::vector<int>{20, 16, 6, 2},
        [](const std::vector<int>& c) {
            return static_cast<unsigned short>(c[3] == 0 ? 50 * c[0] + 7 * c[2] : 900 - 30 * c[1] + c[2]);
        },
        std::vector<std::string>{"x", "y", "z", "ch"}, std::vector<double>{100, 100, 300, 0});
}
