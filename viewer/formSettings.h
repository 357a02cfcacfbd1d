#pragma once

#include <QColor>
#include <QDialog>
#include <vector>

class QPushButton;
class QSpinBox;

namespace ImageViewer {

// Preferences kept with QSettings: the memory budget of the slice cache ("cacheBudgetMB",
// MiB, 0 = a quarter of physical memory) and the colours new images give their channels.
class formSettings : public QDialog
{
public:
    explicit formSettings(QWidget* parent = nullptr);

    // Writes the dialog's values to the settings.
    void Save() const;

    // The channel colours from the settings; the built-in ones where none are stored.
    static std::vector<QColor> ChannelColors();
    static std::vector<QColor> BuiltInColors();
    static constexpr int kChannelColors = 6;

    QSpinBox* spinCacheBudget = nullptr;
    std::vector<QPushButton*> buttonChannelColor;

private:
    void ShowColor(int k);
    std::vector<QColor> m_colors;
};

} // namespace ImageViewer
