#pragma once

#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QPushButton;
class QScrollArea;
class QSlider;
class QSplitter;
class QTabWidget;
class QWidget;

namespace ImageViewer {

class AnchorPanel;
class PictureBox;
class TablePanel;

// The main window's controls; each one's objectName is its member name.
struct formImageViewerControls
{
    AnchorPanel* clientArea = nullptr;
    QMenuBar* menuStrip1 = nullptr;
    QMenu* fileToolStripMenuItem = nullptr;
    QAction* openToolStripMenuItem = nullptr;
    QAction* openUrlToolStripMenuItem = nullptr;
    QAction* toolStripMenuItem2 = nullptr;
    QAction* propertiesToolStripMenuItem = nullptr;
    QAction* settingsToolStripMenuItem = nullptr;
    QMenu* openRecentToolStripMenuItem = nullptr;
    QAction* exportViewToolStripMenuItem = nullptr;
    QAction* exportViewsToolStripMenuItem = nullptr;
    QAction* saveStateToolStripMenuItem = nullptr;
    QAction* openStateToolStripMenuItem = nullptr;
    QMenu* editToolStripMenuItem = nullptr;
    QAction* copyViewToolStripMenuItem = nullptr;
    QMenu* viewToolStripMenuItem = nullptr;
    QAction* fitToolStripMenuItem = nullptr;
    QAction* actualPixelsToolStripMenuItem = nullptr;
    QAction* zoomInToolStripMenuItem = nullptr;
    QAction* zoomOutToolStripMenuItem = nullptr;
    QAction* autoRangeToolStripMenuItem = nullptr;
    QAction* scaleBarToolStripMenuItem = nullptr;
    QLabel* statusCursor = nullptr;
    QLabel* statusMouse = nullptr;
    QLabel* statusValues = nullptr;
    QAction* toolStripMenuItem1 = nullptr;
    QAction* exitToolStripMenuItem = nullptr;
    QMenuBar* helpMenuBar = nullptr; // holds Help at the right end of the menu bar
    QMenu* helpToolStripMenuItem = nullptr;
    QAction* infoToolStripMenuItem = nullptr;

    TablePanel* layoutImage = nullptr;
    PictureBox* pictureProfile = nullptr;
    PictureBox* pictureXZ = nullptr;
    PictureBox* pictureYZ = nullptr;
    PictureBox* pictureXY = nullptr;
    QComboBox* comboDimXZ = nullptr;
    QSplitter* splitContainer1 = nullptr;
    QSplitter* splitterPanels = nullptr; // the views | the panels
    QComboBox* comboDimY = nullptr;
    QComboBox* comboDimYZ = nullptr;
    QComboBox* comboDimX = nullptr;
    QComboBox* comboDimP = nullptr;
    QLabel* lblPixelValue = nullptr;

    QGroupBox* groupBox1 = nullptr;
    QWidget* tableLayoutPanel3 = nullptr;
    QComboBox* comboDimC = nullptr;
    QTabWidget* tabControl1 = nullptr;
    AnchorPanel* tabPage3 = nullptr;
    QCheckBox* checkAutoExpand = nullptr;
    QLabel* label7 = nullptr;
    QSlider* trackGamma = nullptr;
    AnchorPanel* tabPage1 = nullptr;
    QListWidget* listChannels = nullptr;
    QLabel* labelChannelColor = nullptr;
    QLineEdit* textChannel = nullptr;
    PictureBox* pctHistogram = nullptr;
    QLabel* lblMin = nullptr;
    QLabel* lblMax = nullptr;
    QPushButton* buttonAutoRange = nullptr;
    AnchorPanel* tabPage2 = nullptr;
    QLabel* label1 = nullptr;
    QLabel* label2 = nullptr;
    QLineEdit* textSpectrumPos1 = nullptr;
    QLineEdit* textSpectrumWavelength1 = nullptr;
    QLineEdit* textSpectrumPos2 = nullptr;
    QLineEdit* textSpectrumWavelength2 = nullptr;

    QGroupBox* groupLocation = nullptr;
    QScrollArea* panelLocation = nullptr;
    QWidget* panelLocationContent = nullptr; // the scrolled surface holding the rows
    QLabel* label3 = nullptr;
    QLabel* label4 = nullptr;
    QLabel* label5 = nullptr;
    QComboBox* comboProj = nullptr;
    // One row per image dimension (objectNames textDimName<i>, textDimNum<i>, ...).
    std::vector<QLineEdit*> textDimName;
    std::vector<QLineEdit*> textDimNum;
    std::vector<QSlider*> trackDim;
    std::vector<QCheckBox*> checkDimProj;
};

} // namespace ImageViewer
