#include "KeyboardTable.h"

#include <QAction>
#include <QKeySequence>
#include <QStringList>
#include <QWidget>

namespace ImageViewer {

const std::vector<KeyEntry>& KeyboardTable()
{
    static const std::vector<KeyEntry> table = {
        {"openToolStripMenuItem", "Ctrl+O", "Open an image file, or a folder (a TIFF series or a Zarr image)"},
        {"openUrlToolStripMenuItem", "Ctrl+Shift+O", "Open a Zarr image on a web server"},
        {"reloadToolStripMenuItem", "F5", "Open the image again (asks a server again for what failed)"},
        {"exportViewToolStripMenuItem", "Ctrl+E", "Export the XY view with its scale and colour bars"},
        {"exportViewsToolStripMenuItem", "Ctrl+Shift+E", "Export all three views"},
        {"exitToolStripMenuItem", "Ctrl+Q", "Quit"},
        {"copyViewToolStripMenuItem", "Ctrl+C", "Copy the XY view"},
        {"fitToolStripMenuItem", "F", "Fit the views to the window"},
        {"actualPixelsToolStripMenuItem", "1", "One screen pixel per image pixel"},
        {"zoomInToolStripMenuItem", "+; =; Ctrl++", "Zoom in"},
        {"zoomOutToolStripMenuItem", "-; Ctrl+-", "Zoom out"},
        {"autoRangeToolStripMenuItem", "Ctrl+Shift+A", "Auto contrast: every visible channel's range from the picture"},
        {"colourBarToolStripMenuItem", "Ctrl+B", "Show or hide the colour bar"},
        {"sideViewsToolStripMenuItem", "Ctrl+Shift+V", "Show or hide the side views"},
        {"regionsToolStripMenuItem", "Ctrl+Shift+R", "Show or hide the regions and measurements"},
        {"playToolStripMenuItem", "Space", "Play or pause the dimension last used"},
        {"keyboardHelpToolStripMenuItem", "F1", "This list"},
        {nullptr, "Esc", "Cancel the views being computed, or the open under way"},
        {nullptr, "Left, Right or , and .", "Step the dimension last used by one"},
        {nullptr, "Page Up, Page Down", "Step the dimension last used by ten"},
        {nullptr, "Home, End", "Go to the first or last index of the dimension last used"},
        {nullptr, "Alt + Left, Alt + Right", "Step the next dimension"},
        {nullptr, "Delete", "Remove the selected region"},
        {nullptr, "Left drag in a view", "Move the cursor"},
        {nullptr, "Shift + left drag in XY", "Measure the histogram of a rectangle"},
        {nullptr, "Ctrl + left drag in XY", "Measure a line profile"},
        {nullptr, "Middle drag in XY", "Pan"},
        {nullptr, "Mouse wheel in XY", "Zoom about the mouse"},
        {nullptr, "Drag a histogram marker", "Set the display minimum or maximum"},
        {nullptr, "Double click on the histogram", "Auto contrast for the selected channel"},
        {nullptr, "Click on the colour swatch", "Choose the channel's colour"},
        {nullptr, "Drag the gap between the views", "Resize the side views; double click for their automatic size"},
        {nullptr, "Drop a file or folder on the window", "Open it"},
    };
    return table;
}

void ApplyShortcuts(QWidget& window)
{
    for (const KeyEntry& entry : KeyboardTable()) {
        if (!entry.action)
            continue;
        auto* action = window.findChild<QAction*>(QString::fromLatin1(entry.action));
        if (!action)
            continue;
        action->setShortcuts(QKeySequence::listFromString(QString::fromLatin1(entry.keys), QKeySequence::PortableText));
        // Shortcuts work while the menus are closed.
        if (!window.actions().contains(action))
            window.addAction(action);
    }
}

QString KeyboardHelpHtml()
{
    QString html = QStringLiteral("<table cellspacing=\"4\">");
    for (const KeyEntry& entry : KeyboardTable()) {
        QStringList keys;
        for (const QString& text : QString::fromLatin1(entry.keys).split(QStringLiteral("; ")))
            keys << (entry.action ? QKeySequence::fromString(text, QKeySequence::PortableText).toString(QKeySequence::NativeText)
                                  : text);
        html += QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>")
                    .arg(keys.join(QStringLiteral(" or ")).toHtmlEscaped(), QString::fromLatin1(entry.what).toHtmlEscaped());
    }
    return html + QStringLiteral("</table>");
}

} // namespace ImageViewer
