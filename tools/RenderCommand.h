#pragma once

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

// What lumora-render does, as a function the tests call directly.
namespace ImageViewer {

// The tool's work for the arguments after the program name: a picture, a movie or
// measurements. 0 on success; otherwise 1 with the reason on `err`, where progress also
// goes. --help writes the usage to `out`. Text on pictures (the stamp, the scale bar's
// label, the volume's axis names) needs a QGuiApplication to exist. A movie stops, leaving
// no file behind, once `cancel` is set.
int RunRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const std::atomic<bool>* cancel = nullptr);

} // namespace ImageViewer
