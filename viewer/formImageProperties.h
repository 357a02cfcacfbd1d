#pragma once

#include <vector>

#include <QDialog>

#include "ImageProperties.h"

class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QTabWidget;

namespace ImageViewer {

// Shows the dimension names of the loaded image and lets the user correct its pixel sizes
// (nm). Edits stay in the text boxes until GetProperties writes them back, so a cancelled
// dialog leaves the object untouched.
class formImageProperties : public QDialog
{
public:
    explicit formImageProperties(ImageProperties& properties, QWidget* parent = nullptr);

    // Reads every size box in the user's number format: text that is no number, a
    // non-finite value or a negative one is stored as 0 (not given). Returns the object.
    ImageProperties& GetProperties();

    // How a size box's text becomes a pixel size, by the rules above.
    static double ParsePixelSize(const QString& text, const QLocale& locale);
    static QString FormatPixelSize(double size, const QLocale& locale);

protected:
    // OK and Cancel are reached by the mouse or by focus and Space only.
    void keyPressEvent(QKeyEvent* e) override;

private:
    ImageProperties& properties;
    std::vector<QLineEdit*> textDimName;
    std::vector<QLineEdit*> textPixelSize;
    QTabWidget* tabControl1;
    QScrollArea* tabPixelSize;
    QLabel* label1;
    QLabel* label2;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;
};

} // namespace ImageViewer
