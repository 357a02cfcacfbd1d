#pragma once

#include <string>
#include <vector>

namespace Core {

// The dimension and frames of `--movie DIM[:FIRST:LAST]`: DIM by name or number, FIRST and
// LAST indices from 0, both included; without them the whole dimension.
struct MovieRange
{
    std::string dim;
    bool hasRange = false;
    int first = 0;
    int last = 0;
};

// False with a reason when `text` is not of that form.
bool ParseMovieRange(const std::string& text, MovieRange& out, std::string& error);

// The dimension (its name matched exactly, else in any case, else a number) and the frames
// of an image with these dimension names and sizes; false with a reason when DIM names none
// or the range does not lie inside it.
bool ResolveMovieRange(const MovieRange& range, const std::vector<std::string>& names, const std::vector<int>& sizes,
                       int& dim, int& first, int& last, std::string& error);

} // namespace Core
