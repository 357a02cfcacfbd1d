#pragma once

#include <clocale>
#include <string>

namespace ImageReader {

// libics switches the global locale to "C" while it reads or writes a header, then restores
// the name it got from setlocale(LC_ALL, NULL). A composite locale name (as a Qt program
// has) is freed by that switch, so libics would restore from freed memory. Holding one of
// these around IcsOpen/IcsClose enters "C" first, with a private copy of the name, which
// makes libics's save/restore harmless and also keeps numbers in the header in C format.
class IcsLocaleScope
{
public:
    IcsLocaleScope()
    {
        const char* current = std::setlocale(LC_ALL, nullptr);
        m_saved = current ? current : "C";
        if (m_saved != "C")
            std::setlocale(LC_ALL, "C");
    }
    ~IcsLocaleScope()
    {
        if (m_saved != "C")
            std::setlocale(LC_ALL, m_saved.c_str());
    }
    IcsLocaleScope(const IcsLocaleScope&) = delete;
    IcsLocaleScope& operator=(const IcsLocaleScope&) = delete;

private:
    std::string m_saved;
};

} // namespace ImageReader
