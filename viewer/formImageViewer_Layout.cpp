// The control tree of the main window: positions, sizes, anchoring, texts and menus, and
// the attachment of the handlers to control events.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScrollArea>
#include <QSlider>
#include <QSplitter>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "AnchorPanel.h"
#include "AppIcon.h"
#include "PictureBox.h"
#include "TablePanel.h"
#include "formImageViewer.h"

namespace ImageViewer {

namespace {

template <class W>
W* named(W* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QComboBox* makeList(const char* name)
{
    QComboBox* combo = named(new QComboBox, name);
    combo->setEditable(false);
    return combo;
}

QLabel* makeLabel(const char* name, const QString& text)
{
    return named(new QLabel(text), name);
}

QLineEdit* makeTextBox(const char* name, const QString& text)
{
    return named(new QLineEdit(text), name);
}

PictureBox* makePicture(const char* name)
{
    PictureBox* box = named(new PictureBox, name);
    box->setBackground(Qt::black);
    return box;
}

} // namespace

void formImageViewer::InitializeComponent()
{
    setObjectName(QStringLiteral("formImageViewer"));
    // The design sizes assume a small dialog font (6 x 13 pixel cells).
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);

    clientArea = named(new AnchorPanel(QSize(758, 549)), "clientArea");
    clientArea->setAutoFillBackground(true);
    setCentralWidget(clientArea);

    lblPixelValue = makeLabel("lblPixelValue", QString());
    lblPixelValue->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    lblPixelValue->setAlignment(Qt::AlignCenter);
    comboDimP = makeList("comboDimP");
    comboDimXZ = makeList("comboDimXZ");
    splitContainer1 = named(new QSplitter(Qt::Vertical), "splitContainer1");
    layoutImage = named(new TablePanel, "layoutImage");
    comboDimYZ = makeList("comboDimYZ");
    comboDimY = makeList("comboDimY");
    comboDimX = makeList("comboDimX");
    menuStrip1 = named(new QMenuBar, "menuStrip1");
    menuStrip1->setNativeMenuBar(false);

    clientArea->place(lblPixelValue, QRect(632, 520, 120, 21), AnchorBottom | AnchorRight);
    clientArea->place(comboDimP, QRect(536, 520, 88, 21), AnchorBottom | AnchorRight);
    clientArea->place(comboDimXZ, QRect(536, 32, 88, 21), AnchorTop | AnchorRight);
    clientArea->place(splitContainer1, QRect(536, 56, 216, 424), AnchorTop | AnchorBottom | AnchorRight);
    clientArea->place(layoutImage, QRect(8, 32, 520, 480), AnchorTop | AnchorBottom | AnchorLeft | AnchorRight);
    clientArea->place(comboDimYZ, QRect(8, 520, 88, 21), AnchorBottom | AnchorLeft);
    clientArea->place(comboDimY, QRect(536, 488, 88, 21), AnchorBottom | AnchorRight);
    clientArea->place(comboDimX, QRect(440, 520, 88, 21), AnchorBottom | AnchorRight);
    clientArea->place(menuStrip1, QRect(0, 0, 758, 24), AnchorTop | AnchorLeft | AnchorRight);

    // The view table; the margins leave a 6-pixel gap between neighbouring pictures.
    pictureProfile = makePicture("pictureProfile");
    pictureXZ = makePicture("pictureXZ");
    pictureYZ = makePicture("pictureYZ");
    pictureXY = makePicture("pictureXY");
    layoutImage->setAutoFillBackground(true);
    layoutImage->setColumnStyle(0, TrackStyle{false, 23.28431f});
    layoutImage->setColumnStyle(1, TrackStyle{false, 76.71568f});
    layoutImage->setRowStyle(0, TrackStyle{false, 18.05556f});
    layoutImage->setRowStyle(1, TrackStyle{false, 81.94444f});
    layoutImage->setCell(0, 0, pictureProfile, QMargins(0, 0, 3, 3));
    layoutImage->setCell(1, 0, pictureXZ, QMargins(3, 0, 0, 3));
    layoutImage->setCell(0, 1, pictureYZ, QMargins(0, 3, 3, 0));
    layoutImage->setCell(1, 1, pictureXY, QMargins(3, 3, 0, 0));

    BuildColorPanel();
    BuildLocationPanel();
    splitContainer1->addWidget(groupBox1);
    splitContainer1->addWidget(groupLocation);
    splitContainer1->setChildrenCollapsible(false);
    splitContainer1->setHandleWidth(4);
    splitContainer1->setStretchFactor(0, 0);
    splitContainer1->setStretchFactor(1, 1);
    splitContainer1->setSizes({200, 220});

    BuildMenus();

    setWindowTitle(QStringLiteral("Lumora"));
    setWindowIcon(AppIcon());
    setMinimumSize(405, 421);
    resize(758, 549);
    setAcceptDrops(true);
    WireEvents();
}

void formImageViewer::BuildMenus()
{
    fileToolStripMenuItem = named(new QMenu(QStringLiteral("&File"), menuStrip1), "fileToolStripMenuItem");
    openToolStripMenuItem = named(new QAction(QStringLiteral("&Open..."), this), "openToolStripMenuItem");
    openToolStripMenuItem->setShortcut(QKeySequence::Open);
    toolStripMenuItem2 = named(new QAction(this), "toolStripMenuItem2");
    toolStripMenuItem2->setSeparator(true);
    propertiesToolStripMenuItem =
        named(new QAction(QStringLiteral("Image &properties..."), this), "propertiesToolStripMenuItem");
    propertiesToolStripMenuItem->setEnabled(false);
    settingsToolStripMenuItem = named(new QAction(QStringLiteral("&Settings..."), this), "settingsToolStripMenuItem");
    toolStripMenuItem1 = named(new QAction(this), "toolStripMenuItem1");
    toolStripMenuItem1->setSeparator(true);
    exitToolStripMenuItem = named(new QAction(QStringLiteral("E&xit"), this), "exitToolStripMenuItem");
    exitToolStripMenuItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    fileToolStripMenuItem->addActions({openToolStripMenuItem, toolStripMenuItem2, propertiesToolStripMenuItem,
                                       settingsToolStripMenuItem, toolStripMenuItem1, exitToolStripMenuItem});
    menuStrip1->addMenu(fileToolStripMenuItem);

    // Help sits at the right end of the bar: a second bar in the corner.
    helpMenuBar = named(new QMenuBar(menuStrip1), "helpMenuBar");
    helpMenuBar->setNativeMenuBar(false);
    helpToolStripMenuItem = named(new QMenu(QStringLiteral("&Help"), helpMenuBar), "helpToolStripMenuItem");
    infoToolStripMenuItem = named(new QAction(QStringLiteral("&About"), this), "infoToolStripMenuItem");
    helpToolStripMenuItem->addAction(infoToolStripMenuItem);
    helpMenuBar->addMenu(helpToolStripMenuItem);
    menuStrip1->setCornerWidget(helpMenuBar, Qt::TopRightCorner);

    // The shortcuts must work while the menus are closed.
    addAction(openToolStripMenuItem);
    addAction(exitToolStripMenuItem);
}

void formImageViewer::BuildColorPanel()
{
    groupBox1 = named(new QGroupBox(QStringLiteral("Color")), "groupBox1");
    groupBox1->setMinimumHeight(200);
    tableLayoutPanel3 = named(new QWidget(groupBox1), "tableLayoutPanel3");
    auto* groupLayout = new QVBoxLayout(groupBox1);
    groupLayout->setContentsMargins(3, 3, 3, 3);
    groupLayout->addWidget(tableLayoutPanel3);
    auto* table = new QVBoxLayout(tableLayoutPanel3);
    table->setContentsMargins(0, 0, 0, 0);
    table->setSpacing(4);

    comboDimC = makeList("comboDimC");
    comboDimC->setFixedSize(85, 21);
    tabControl1 = named(new QTabWidget, "tabControl1");
    // The three page titles fit the design width only with compact tabs.
    tabControl1->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 3px 5px; }"));
    table->addWidget(comboDimC, 0, Qt::AlignLeft);
    table->addWidget(tabControl1, 1);

    const QSize page(196, 124);
    tabPage3 = named(new AnchorPanel(page), "tabPage3");
    checkAutoExpand = named(new QCheckBox(QStringLiteral("Automatically expand scale")), "checkAutoExpand");
    checkAutoExpand->setChecked(true);
    label7 = makeLabel("label7", QStringLiteral("Gamma"));
    trackGamma = named(new QSlider(Qt::Horizontal), "trackGamma");
    trackGamma->setRange(-10, 10);
    trackGamma->setValue(0);
    trackGamma->setTickInterval(2);
    trackGamma->setTickPosition(QSlider::TicksBelow);
    // Sized to its text, as the design font would give it.
    tabPage3->place(checkAutoExpand, QRect(8, 8, std::max(154, checkAutoExpand->sizeHint().width()), 17),
                    AnchorTop | AnchorLeft);
    tabPage3->place(label7, QRect(8, 40, std::max(43, label7->sizeHint().width()), 13), AnchorTop | AnchorLeft);
    tabPage3->place(trackGamma, QRect(56, 32, 112, 42), AnchorTop | AnchorLeft);

    tabPage1 = named(new AnchorPanel(page), "tabPage1");
    listChannels = named(new QListWidget, "listChannels");
    labelChannelColor = makeLabel("labelChannelColor", QString());
    labelChannelColor->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    labelChannelColor->setAutoFillBackground(true);
    {
        QPalette pal = labelChannelColor->palette();
        pal.setColor(QPalette::Window, Qt::white);
        labelChannelColor->setPalette(pal);
    }
    textChannel = makeTextBox("textChannel", QString());
    pctHistogram = named(new PictureBox, "pctHistogram");
    pctHistogram->setBackground(palette().color(QPalette::Base));
    pctHistogram->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    lblMin = makeLabel("lblMin", QStringLiteral("998"));
    lblMax = makeLabel("lblMax", QStringLiteral("3945"));
    lblMax->setAlignment(Qt::AlignRight | Qt::AlignTop);
    tabPage1->place(listChannels, QRect(8, 8, 176, 34), AnchorTop | AnchorBottom | AnchorLeft);
    tabPage1->place(labelChannelColor, QRect(8, 50, 24, 20), AnchorBottom | AnchorLeft);
    tabPage1->place(textChannel, QRect(40, 50, 144, 20), AnchorBottom | AnchorLeft);
    tabPage1->place(pctHistogram, QRect(8, 74, 176, 32), AnchorBottom | AnchorLeft);
    tabPage1->place(lblMin, QRect(8, 106, 80, 16), AnchorBottom | AnchorLeft);
    tabPage1->place(lblMax, QRect(105, 106, 80, 16), AnchorBottom | AnchorLeft);

    tabPage2 = named(new AnchorPanel(page), "tabPage2");
    label1 = makeLabel("label1", QStringLiteral("Position"));
    label2 = makeLabel("label2", QStringLiteral("Wavelength"));
    textSpectrumPos1 = makeTextBox("textSpectrumPos1", QStringLiteral("367"));
    textSpectrumWavelength1 = makeTextBox("textSpectrumWavelength1", QStringLiteral("488"));
    textSpectrumPos2 = makeTextBox("textSpectrumPos2", QStringLiteral("646"));
    textSpectrumWavelength2 = makeTextBox("textSpectrumWavelength2", QStringLiteral("658"));
    tabPage2->place(label1, QRect(8, 8, 60, 13), AnchorTop | AnchorLeft);
    tabPage2->place(label2, QRect(80, 8, 70, 13), AnchorTop | AnchorLeft);
    tabPage2->place(textSpectrumPos1, QRect(8, 24, 64, 20), AnchorTop | AnchorLeft);
    tabPage2->place(textSpectrumWavelength1, QRect(80, 24, 64, 20), AnchorTop | AnchorLeft);
    tabPage2->place(textSpectrumPos2, QRect(8, 48, 64, 20), AnchorTop | AnchorLeft);
    tabPage2->place(textSpectrumWavelength2, QRect(80, 48, 64, 20), AnchorTop | AnchorLeft);

    tabControl1->addTab(tabPage3, QStringLiteral("Gamma"));
    tabControl1->addTab(tabPage1, QStringLiteral("Channels"));
    tabControl1->addTab(tabPage2, QStringLiteral("Spectrum"));
    tabControl1->setCurrentIndex(0);
}

void formImageViewer::BuildLocationPanel()
{
    groupLocation = named(new QGroupBox(QStringLiteral("Dimensions")), "groupLocation");
    groupLocation->setMinimumHeight(64);
    auto* layout = new QVBoxLayout(groupLocation);
    layout->setContentsMargins(3, 3, 3, 3);
    panelLocation = named(new QScrollArea, "panelLocation");
    panelLocation->setFrameShape(QFrame::NoFrame);
    panelLocation->setWidgetResizable(false);
    panelLocationContent = named(new QWidget, "panelLocationContent");
    layout->addWidget(panelLocation);

    label3 = makeLabel("label3", QStringLiteral("Name"));
    label4 = makeLabel("label4", QStringLiteral("Position"));
    label5 = makeLabel("label5", QStringLiteral("Proj."));
    comboProj = makeList("comboProj");
    comboProj->addItems({QStringLiteral("none"), QStringLiteral("max")});
    const std::pair<QWidget*, QRect> header[] = {{label3, QRect(4, 0, 35, 13)},
                                                 {label4, QRect(36, 0, 44, 13)},
                                                 {label5, QRect(112, 0, 28, 13)},
                                                 {comboProj, QRect(144, 0, std::clamp(comboProj->sizeHint().width(), 48, 58), 21)}};
    for (const auto& [widget, rect] : header) {
        widget->setParent(panelLocationContent);
        widget->setGeometry(rect);
    }
    panelLocation->setWidget(panelLocationContent);
    AdjustLocationContentSize();
}

void formImageViewer::WireEvents()
{
    pictureXY->paintHandler = [this](QPainter& g) { pictureXY_Paint(g); };
    pictureXY->mouseDownHandler = [this](QMouseEvent* e) { pictureXY_MouseDown(e); };
    pictureXY->mouseMoveHandler = [this](QMouseEvent* e) { pictureXY_MouseMove(e); };
    pictureXY->enterHandler = [this] { pictureXY_MouseEnter(); };
    pictureXY->wheelHandler = [this](QWheelEvent* e) { pictureXY_MouseWheel(e); };
    pictureYZ->paintHandler = [this](QPainter& g) { pictureYZ_Paint(g); };
    pictureYZ->mouseDownHandler = [this](QMouseEvent* e) { pictureYZ_MouseMove(e); };
    pictureYZ->mouseMoveHandler = [this](QMouseEvent* e) { pictureYZ_MouseMove(e); };
    pictureXZ->paintHandler = [this](QPainter& g) { pictureXZ_Paint(g); };
    pictureXZ->mouseDownHandler = [this](QMouseEvent* e) { pictureXZ_MouseMove(e); };
    pictureXZ->mouseMoveHandler = [this](QMouseEvent* e) { pictureXZ_MouseMove(e); };
    pictureProfile->paintHandler = [this](QPainter& g) { pictureProfile_Paint(g); };

    const auto onIndex = [](QComboBox* combo, auto handler) {
        QObject::connect(combo, &QComboBox::currentIndexChanged, combo, handler);
    };
    onIndex(comboDimX, [this] { comboDimX_SelectedIndexChanged(); });
    onIndex(comboDimY, [this] { comboDimY_SelectedIndexChanged(); });
    onIndex(comboDimXZ, [this] { comboDimXZ_SelectedIndexChanged(); });
    onIndex(comboDimYZ, [this] { comboDimYZ_SelectedIndexChanged(); });
    onIndex(comboDimC, [this] { comboDimC_SelectedIndexChanged(); });
    onIndex(comboDimP, [this] { comboDimP_SelectedIndexChanged(); });
    onIndex(comboProj, [this] { comboProj_SelectedIndexChanged(); });

    connect(checkAutoExpand, &QCheckBox::toggled, this, [this] { checkAutoExpand_CheckedChanged(); });
    connect(listChannels, &QListWidget::currentRowChanged, this, [this] { listChannels_SelectedIndexChanged(); });
    connect(listChannels, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) { listChannels_ItemCheck(item); });
    connect(textChannel, &QLineEdit::textChanged, this, [this] { textChannel_TextChanged(); });
    listChannels->viewport()->installEventFilter(this);
    labelChannelColor->installEventFilter(this);

    pctHistogram->paintHandler = [this](QPainter& g) { pctHistogram_Paint(g); };
    pctHistogram->mouseDownHandler = [this](QMouseEvent* e) { pctHistogram_MouseDown(e); };
    pctHistogram->mouseMoveHandler = [this](QMouseEvent* e) { pctHistogram_MouseMove(e); };
    pctHistogram->mouseUpHandler = [this](QMouseEvent* e) { pctHistogram_MouseUp(e); };

    connect(fileToolStripMenuItem, &QMenu::aboutToShow, this, [this] { fileToolStripMenuItem_DropDownOpening(); });
    connect(openToolStripMenuItem, &QAction::triggered, this, [this] { openToolStripMenuItem_Click(); });
    connect(propertiesToolStripMenuItem, &QAction::triggered, this, [this] { propertiesToolStripMenuItem_Click(); });
    connect(exitToolStripMenuItem, &QAction::triggered, this, [this] { exitToolStripMenuItem_Click(); });
    connect(infoToolStripMenuItem, &QAction::triggered, this, [this] { infoToolStripMenuItem_Click(); });
}

bool formImageViewer::eventFilter(QObject* watched, QEvent* event)
{
    // The channel list reports press (click) and release to the panel handlers before the
    // list itself acts on them; the swatch label reports a click.
    if (listChannels && watched == listChannels->viewport()) {
        if (event->type() == QEvent::MouseButtonPress)
            listChannels_MouseClick(static_cast<QMouseEvent*>(event));
        else if (event->type() == QEvent::MouseButtonRelease)
            listChannels_MouseUp(static_cast<QMouseEvent*>(event));
    } else if (watched == labelChannelColor && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && labelChannelColor->rect().contains(mouse->position().toPoint()))
            labelChannelColor_Click();
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace ImageViewer
