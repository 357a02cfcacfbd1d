#pragma once

namespace ImageViewer {

// Shows the wait cursor for its lifetime; nested guards share one override.
class BusyCursor
{
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

} // namespace ImageViewer
