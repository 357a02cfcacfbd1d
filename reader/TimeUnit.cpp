#include "TimeUnit.h"

#include <cctype>

namespace ImageReader {

double SecondsPerUnit(const std::string& unit)
{
    std::string u;
    for (char c : unit)
        if (!std::isspace(static_cast<unsigned char>(c)))
            u += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // Micro as the micro sign or the Greek letter, in UTF-8.
    for (const char* micro : {"\xc2\xb5", "\xce\xbc"})
        if (u.rfind(micro, 0) == 0)
            u.replace(0, std::char_traits<char>::length(micro), "u");
    if (u.size() > 1 && u.back() == 's' && u != "ms" && u != "us" && u != "ns" && u != "ps")
        u.pop_back(); // plurals: "seconds", "mins", "hrs"
    static const struct { const char* unit; double seconds; } table[] = {
        {"s", 1.0},        {"sec", 1.0},      {"second", 1.0},      {"ms", 1e-3},     {"msec", 1e-3},
        {"millisecond", 1e-3}, {"us", 1e-6},  {"usec", 1e-6},       {"microsecond", 1e-6},
        {"ns", 1e-9},      {"nanosecond", 1e-9}, {"ps", 1e-12},     {"picosecond", 1e-12},
        {"min", 60.0},     {"minute", 60.0},  {"h", 3600.0},        {"hr", 3600.0},   {"hour", 3600.0},
        {"d", 86400.0},    {"day", 86400.0},
    };
    for (const auto& e : table)
        if (u == e.unit)
            return e.seconds;
    return 0.0;
}

} // namespace ImageReader
