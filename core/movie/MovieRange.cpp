#include "MovieRange.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>

namespace Core {

namespace {

bool ToIndex(const std::string& text, int& value)
{
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])))
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || v > std::numeric_limits<int>::max())
        return false;
    value = static_cast<int>(v);
    return true;
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

} // namespace

bool ParseMovieRange(const std::string& text, MovieRange& out, std::string& error)
{
    out = MovieRange();
    const size_t colon = text.find(':');
    out.dim = text.substr(0, colon);
    if (out.dim.empty()) {
        error = "--movie needs a dimension: DIM or DIM:FIRST:LAST";
        return false;
    }
    if (colon == std::string::npos)
        return true;
    const size_t second = text.find(':', colon + 1);
    if (second == std::string::npos || text.find(':', second + 1) != std::string::npos ||
        !ToIndex(text.substr(colon + 1, second - colon - 1), out.first) || !ToIndex(text.substr(second + 1), out.last)) {
        error = "--movie " + text + ": expected DIM:FIRST:LAST with FIRST and LAST numbers from 0";
        return false;
    }
    if (out.last < out.first) {
        error = "--movie " + text + ": LAST comes before FIRST";
        return false;
    }
    out.hasRange = true;
    return true;
}

bool ResolveMovieRange(const MovieRange& range, const std::vector<std::string>& names, const std::vector<int>& sizes,
                       int& dim, int& first, int& last, std::string& error)
{
    const int n = static_cast<int>(std::min(names.size(), sizes.size()));
    dim = -1;
    for (int d = 0; d < n && dim < 0; ++d)
        if (names[static_cast<size_t>(d)] == range.dim)
            dim = d;
    for (int d = 0; d < n && dim < 0; ++d)
        if (Lower(names[static_cast<size_t>(d)]) == Lower(range.dim))
            dim = d;
    int number = -1;
    if (dim < 0 && ToIndex(range.dim, number) && number < n)
        dim = number;
    if (dim < 0) {
        std::string list;
        for (int d = 0; d < n; ++d)
            list += (d ? ", " : "") + names[static_cast<size_t>(d)];
        error = "--movie: the image has no dimension " + range.dim + " (it has " + list + ")";
        return false;
    }
    const int size = sizes[static_cast<size_t>(dim)];
    first = range.hasRange ? range.first : 0;
    last = range.hasRange ? range.last : size - 1;
    if (size <= 0 || last >= size) {
        error = "--movie: " + names[static_cast<size_t>(dim)] + " runs from 0 to " + std::to_string(size - 1);
        return false;
    }
    return true;
}

} // namespace Core
