#pragma once

#include <fstream>
#include <string>

// A kB line of /proc/self/status (VmRSS:, VmHWM:, ...) in MiB; 0 when absent.
inline double statusMiB(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
            return std::stod(line.substr(std::string(field).size())) / 1024.0;
    return 0.0;
}
