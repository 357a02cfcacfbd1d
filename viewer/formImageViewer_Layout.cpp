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
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSlider>
#include <QSplitter>
#include <QTabWidget>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QStyle>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>

#include "AnchorPanel.h"
#include "AppIcon.h"
#include "PictureBox.h"
#include "PictureView.h"
#include "TablePanel.h"
#include "ViewMathQt.h"
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

    // The view table fills the left; the panels take a column wide enough for their rows.
    // A splitter between the two lets the user give the views more or less of the window.
    splitterPanels = named(new QSplitter(Qt::Horizontal), "splitterPanels");
    auto* paneViews = named(new AnchorPanel(QSize(476, 525)), "paneViews");
    auto* panePanels = named(new AnchorPanel(QSize(278, 525)), "panePanels");
    paneViews->place(layoutImage, QRect(8, 8, 464, 480), AnchorTop | AnchorBottom | AnchorLeft | AnchorRight);
    paneViews->place(comboDimYZ, QRect(8, 496, 88, 21), AnchorBottom | AnchorLeft);
    paneViews->place(comboDimX, QRect(384, 496, 88, 21), AnchorBottom | AnchorRight);
    panePanels->place(comboDimXZ, QRect(0, 8, 88, 21), AnchorTop | AnchorLeft);
    panePanels->place(splitContainer1, QRect(0, 32, 272, 424), AnchorTop | AnchorBottom | AnchorLeft | AnchorRight);
    panePanels->place(comboDimY, QRect(0, 464, 88, 21), AnchorBottom | AnchorLeft);
    panePanels->place(comboDimP, QRect(0, 496, 88, 21), AnchorBottom | AnchorLeft);
    panePanels->place(lblPixelValue, QRect(96, 496, 176, 21), AnchorBottom | AnchorLeft | AnchorRight);
    paneViews->setMinimumWidth(240);
    panePanels->setMinimumWidth(240);
    splitterPanels->addWidget(paneViews);
    splitterPanels->addWidget(panePanels);
    splitterPanels->setChildrenCollapsible(false);
    splitterPanels->setHandleWidth(4);
    // A wider window widens the views; the panels keep the width they were given.
    splitterPanels->setStretchFactor(0, 1);
    splitterPanels->setStretchFactor(1, 0);
    splitterPanels->setSizes({476, 278});
    clientArea->place(splitterPanels, QRect(0, 24, 758, 525), AnchorTop | AnchorBottom | AnchorLeft | AnchorRight);
    clientArea->place(menuStrip1, QRect(0, 0, 758, 24), AnchorTop | AnchorLeft | AnchorRight);

    // The view table; the margins leave a 6-pixel gap between neighbouring pictures.
    pictureProfile = makePicture("pictureProfile");
    // The three views paint the model's pictures and hand the mouse to the window.
    pictureXZ = named(new PictureView(*this, 1), "pictureXZ");
    pictureYZ = named(new PictureView(*this, 2), "pictureYZ");
    pictureXY = named(new PictureView(*this, 0), "pictureXY");
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
    // Both panels grow with the window, the histogram with the colour panel.
    splitContainer1->setStretchFactor(0, 3);
    splitContainer1->setStretchFactor(1, 2);
    splitContainer1->setSizes({260, 160});

    BuildMenus();
    BuildStatusBar();

    setWindowTitle(QStringLiteral("Lumora"));
    setWindowIcon(AppIcon());
    setMinimumSize(640, 500);
    resize(ToQSize(DefaultWindowSize(ToPixelSize(screen() ? screen()->availableGeometry().size() : QSize(1280, 900)))));
    setAcceptDrops(true);
    WireEvents();
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

    // The pages lay their controls out with Qt's layouts, so that they follow the font and
    // the room the splitter gives them.
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
    {
        auto* grid = new QGridLayout(tabPage3);
        grid->setContentsMargins(8, 8, 8, 8);
        grid->addWidget(checkAutoExpand, 0, 0, 1, 2);
        grid->addWidget(label7, 1, 0);
        grid->addWidget(trackGamma, 1, 1);
        grid->setColumnStretch(1, 1);
        grid->setRowStretch(2, 1);
    }

    tabPage1 = named(new AnchorPanel(page), "tabPage1");
    listChannels = named(new QListWidget, "listChannels");
    {
        // Four rows of channels in view at least.
        const int row = std::max(listChannels->fontMetrics().height(),
                                 listChannels->style()->pixelMetric(QStyle::PM_IndicatorHeight)) + 4;
        listChannels->setMinimumHeight(4 * row + 2 * listChannels->frameWidth() + 2);
    }
    labelChannelColor = makeLabel("labelChannelColor", QString());
    labelChannelColor->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    labelChannelColor->setAutoFillBackground(true);
    labelChannelColor->setFixedWidth(24);
    {
        QPalette pal = labelChannelColor->palette();
        pal.setColor(QPalette::Window, Qt::white);
        labelChannelColor->setPalette(pal);
    }
    textChannel = makeTextBox("textChannel", QString());
    pctHistogram = named(new PictureBox, "pctHistogram");
    pctHistogram->setBackground(palette().color(QPalette::Base));
    pctHistogram->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pctHistogram->setMinimumHeight(48);
    pctHistogram->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    lblMin = makeLabel("lblMin", QString());
    lblMax = makeLabel("lblMax", QString());
    lblMax->setAlignment(Qt::AlignRight | Qt::AlignTop);
    buttonAutoRange = named(new QPushButton(QStringLiteral("Auto")), "buttonAutoRange");
    buttonAutoRange->setToolTip(QStringLiteral("Every visible channel's range from the 0.1 % and 99.9 % percentiles "
                                               "of the picture (Ctrl+Shift+A); double-click the histogram for the "
                                               "selected channel only"));
    {
        auto* grid = new QGridLayout(tabPage1);
        grid->setContentsMargins(6, 6, 6, 6);
        grid->setSpacing(4);
        grid->addWidget(listChannels, 0, 0, 1, 3);
        grid->addWidget(labelChannelColor, 1, 0);
        grid->addWidget(textChannel, 1, 1, 1, 2);
        grid->addWidget(pctHistogram, 2, 0, 1, 3);
        auto* values = new QHBoxLayout;
        values->addWidget(lblMin, 1);
        values->addWidget(buttonAutoRange);
        values->addWidget(lblMax, 1);
        grid->addLayout(values, 3, 0, 1, 3);
        grid->setColumnStretch(1, 1);
        grid->setRowStretch(0, 2);
        grid->setRowStretch(2, 3);
    }

    tabPage2 = named(new AnchorPanel(page), "tabPage2");
    label1 = makeLabel("label1", QStringLiteral("Position"));
    label2 = makeLabel("label2", QStringLiteral("Wavelength (nm)"));
    textSpectrumPos1 = makeTextBox("textSpectrumPos1", QStringLiteral("367"));
    textSpectrumWavelength1 = makeTextBox("textSpectrumWavelength1", QStringLiteral("488"));
    textSpectrumPos2 = makeTextBox("textSpectrumPos2", QStringLiteral("646"));
    textSpectrumWavelength2 = makeTextBox("textSpectrumWavelength2", QStringLiteral("658"));
    // Boxes that still show the text given here follow the image's default calibration.
    for (QLineEdit* box : {textSpectrumPos1, textSpectrumWavelength1, textSpectrumPos2, textSpectrumWavelength2})
        box->setProperty("defaultText", box->text());
    {
        auto* grid = new QGridLayout(tabPage2);
        grid->setContentsMargins(8, 8, 8, 8);
        grid->addWidget(label1, 0, 0);
        grid->addWidget(label2, 0, 1);
        grid->addWidget(textSpectrumPos1, 1, 0);
        grid->addWidget(textSpectrumWavelength1, 1, 1);
        grid->addWidget(textSpectrumPos2, 2, 0);
        grid->addWidget(textSpectrumWavelength2, 2, 1);
        grid->setRowStretch(3, 1);
        grid->setColumnStretch(2, 1);
    }

    tabControl1->addTab(tabPage3, QStringLiteral("Gamma"));
    tabControl1->addTab(tabPage1, QStringLiteral("Channels"));
    tabControl1->addTab(tabPage2, QStringLiteral("Spectrum"));
    // The histogram is what a new user looks for first.
    tabControl1->setCurrentIndex(1);
}

void formImageViewer::BuildLocationPanel()
{
    groupLocation = named(new QGroupBox(QStringLiteral("Dimensions")), "groupLocation");
    groupLocation->setMinimumHeight(64);
    auto* layout = new QVBoxLayout(groupLocation);
    layout->setContentsMargins(3, 3, 3, 3);
    panelLocation = named(new QScrollArea, "panelLocation");
    panelLocation->setFrameShape(QFrame::NoFrame);
    panelLocation->setWidgetResizable(true);
    panelLocationContent = named(new QWidget, "panelLocationContent");
    layout->addWidget(panelLocation);

    label3 = makeLabel("label3", QStringLiteral("Name"));
    label4 = makeLabel("label4", QStringLiteral("Position"));
    label5 = makeLabel("label5", QStringLiteral("Proj."));
    comboProj = makeList("comboProj");
    comboProj->addItems({QStringLiteral("none"), QStringLiteral("max")});
    // A grid: the rows (BuildDimensionRows) share the header's columns, so nothing overlaps.
    auto* grid = new QGridLayout(panelLocationContent);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    grid->addWidget(label3, 0, 0);
    grid->addWidget(label4, 0, 1);
    auto* proj = new QHBoxLayout;
    proj->addStretch(1);
    proj->addWidget(label5);
    proj->addWidget(comboProj);
    grid->addLayout(proj, 0, 2, 1, 2);
    grid->setColumnStretch(2, 1);
    panelLocation->setWidget(panelLocationContent);
    AdjustLocationContentSize();
}

void formImageViewer::WireEvents()
{
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

    connect(checkAutoExpand, &QCheckBox::stateChanged, this, [this] { checkAutoExpand_CheckedChanged(); });
    connect(buttonAutoRange, &QPushButton::clicked, this, [this] { buttonAutoRange_Click(); });
    for (QLineEdit* box : {textSpectrumPos1, textSpectrumWavelength1, textSpectrumPos2, textSpectrumWavelength2})
        connect(box, &QLineEdit::textChanged, this, [this] { textSpectrum_TextChanged(); });
    connect(listChannels, &QListWidget::currentRowChanged, this, [this] { listChannels_SelectedIndexChanged(); });
    connect(listChannels, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) { listChannels_ItemCheck(item); });
    connect(textChannel, &QLineEdit::textChanged, this, [this] { textChannel_TextChanged(); });
    listChannels->viewport()->installEventFilter(this);
    layoutImage->installEventFilter(this);
    labelChannelColor->installEventFilter(this);

    pctHistogram->paintHandler = [this](QPainter& g) { pctHistogram_Paint(g); };
    pctHistogram->mouseDownHandler = [this](QMouseEvent* e) { pctHistogram_MouseDown(e); };
    pctHistogram->mouseMoveHandler = [this](QMouseEvent* e) { pctHistogram_MouseMove(e); };
    pctHistogram->mouseUpHandler = [this](QMouseEvent* e) { pctHistogram_MouseUp(e); };
    pctHistogram->doubleClickHandler = [this](QMouseEvent* e) { pctHistogram_DoubleClick(e); };

    WireMenus();
}

bool formImageViewer::eventFilter(QObject* watched, QEvent* event)
{
    // The channel list reports press (click) and release to the panel handlers before the
    // list itself acts on them; the swatch label reports a click.
    if (watched == layoutImage && event->type() == QEvent::Resize) {
        // A fitted view stays fitted however the window is resized; the side tracks follow
        // the table either way.
        if (fitted)
            FitToWindow();
        else
            UpdateLayout();
    } else if (listChannels && watched == listChannels->viewport()) {
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
