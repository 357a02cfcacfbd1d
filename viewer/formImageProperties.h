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

    // Reads every size box, in micrometres ('.' or ',' as the decimal point): text that is
    // no positive finite number is stored as 0 (not given); a box left as shown keeps its
    // size exactly. Returns the object.
    ImageProperties& GetProperties();

    // How a size box's text becomes a pixel size in nm, and a size in nm the box's text.
    static double ParsePixelSize(const QString& text);
    static QString FormatPixelSize(double nm);

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
