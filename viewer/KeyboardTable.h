#pragma once

#include <QString>
#include <vector>

class QWidget;

namespace ImageViewer {

// One keyboard shortcut or mouse gesture. A shortcut names the menu action it triggers
// (its objectName); its keys are in portable text, alternatives separated by "; ".
struct KeyEntry
{
    const char* action; // nullptr for a gesture
    const char* keys;   // portable key text, or how the gesture is made
    const char* what;
};

// Every shortcut and gesture of the main window, in the order Help lists them.
const std::vector<KeyEntry>& KeyboardTable();

// Gives every action of `window` the table names its shortcuts: the table is the one place
// they are set, and what Help lists is what the keys do.
void ApplyShortcuts(QWidget& window);

// The table as an HTML page for Help > Keyboard and mouse.
QString KeyboardHelpHtml();

} // namespace ImageViewer
