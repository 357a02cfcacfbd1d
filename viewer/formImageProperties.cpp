#include "formImageProperties.h"

#include <algorithm>
#include <cmath>

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStringList>
#include <QTabWidget>

namespace ImageViewer {

namespace {

constexpr int RowTop = 24;
constexpr int RowStep = 32;

// Wide enough for "lambda" and names of eight characters.
int nameWidth(const QFontMetrics& fm)
{
    return std::max(fm.horizontalAdvance(QStringLiteral("lambda")), 8 * fm.averageCharWidth()) + 12;
}

QLineEdit* makeBox(QWidget* parent, const QString& name, int x, int y, int w)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setGeometry(x, y, w, 20);
    return box;
}

QPushButton* makeButton(QWidget* parent, const QString& name, const QString& text, int x)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(x, 216, 72, 24);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace

formImageProperties::formImageProperties(ImageProperties& properties, QWidget* parent)
    : QDialog(parent), properties(properties)
{
    setWindowTitle("Image properties");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(327, 248);

    tabControl1 = new QTabWidget(this);
    tabControl1->setObjectName("tabControl1");
    tabControl1->setGeometry(8, 8, 312, 200);

    tabPixelSize = new QScrollArea();
    tabPixelSize->setObjectName("tabPixelSize");
    tabPixelSize->setFrameShape(QFrame::NoFrame);
    tabPixelSize->setWidgetResizable(true);
    auto* page = new QWidget();
    page->setObjectName("tabPixelSizeContent");

    label1 = new QLabel("Name", page);
    label1->setObjectName("label1");
    const int nameW = nameWidth(page->fontMetrics());
    const int sizeX = 8 + nameW + 8;
    const int sizeW = std::max(64, page->fontMetrics().horizontalAdvance(QStringLiteral("0000.000")) + 12);
    label1->setGeometry(8, 4, nameW, label1->sizeHint().height());
    label2 = new QLabel(QStringLiteral("Pixel size (\u00b5m)"), page);
    label2->setObjectName("label2");
    label2->setGeometry(sizeX, 4, std::max(sizeW, label2->sizeHint().width()), label2->sizeHint().height());

    const size_t n = properties.m_pixelsize.size();
    for (size_t i = 0; i < n; ++i) {
        const int y = RowTop + RowStep * static_cast<int>(i);
        QLineEdit* name = makeBox(page, QString("textDimName%1").arg(i), 8, y, nameW);
        name->setReadOnly(true);
        if (i < properties.m_dimname.size())
            name->setText(QString::fromStdString(properties.m_dimname[i]));
        QLineEdit* size = makeBox(page, QString("textPixelSize%1").arg(i), sizeX, y, sizeW);
        size->setText(FormatPixelSize(properties.m_pixelsize[i]));
        textDimName.push_back(name);
        textPixelSize.push_back(size);
    }
    // The page scrolls once the rows reach below it.
    const int contentHeight = n == 0 ? RowTop : RowTop + RowStep * static_cast<int>(n - 1) + 20 + 4;
    page->setMinimumSize(sizeX + sizeW + 8, contentHeight);
    tabPixelSize->setWidget(page);
    tabControl1->addTab(tabPixelSize, "Pixel size");

    // What was opened: format, sample type, and each dimension's name and extent.
    QStringList dims;
    for (size_t i = 0; i < properties.m_dimsize.size(); ++i)
        dims << QString("%1 %2").arg(i < properties.m_dimname.size() ? QString::fromStdString(properties.m_dimname[i]) : QString())
                    .arg(properties.m_dimsize[i]);
    auto* info = new QLabel(QString("Format: %1\nSample type: %2\nDimensions: %3")
                                .arg(QString::fromStdString(properties.m_format), QString::fromStdString(properties.m_sampletype),
                                     dims.join(", ")));
    info->setObjectName("labelImageInfo");
    info->setWordWrap(true);
    info->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    info->setTextInteractionFlags(Qt::TextSelectableByMouse);
    tabControl1->addTab(info, "Image");

    cmdOK = makeButton(this, "cmdOK", "OK", 168);
    cmdCancel = makeButton(this, "cmdCancel", "Cancel", 248);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

double formImageProperties::ParsePixelSize(const QString& text)
{
    return ParseMicrons(text.trimmed().toStdString());
}

QString formImageProperties::FormatPixelSize(double nm)
{
    return QString::fromStdString(FormatMicrons(nm));
}

ImageProperties& formImageProperties::GetProperties()
{
    // The boxes show rounded sizes: one the user left alone keeps the file's exact value.
    for (size_t i = 0; i < textPixelSize.size() && i < properties.m_pixelsize.size(); ++i)
        if (textPixelSize[i]->text() != FormatPixelSize(properties.m_pixelsize[i]))
            properties.m_pixelsize[i] = ParsePixelSize(textPixelSize[i]->text());
    return properties;
}

void formImageProperties::keyPressEvent(QKeyEvent* e)
{
    switch (e->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        e->accept();
        return;
    default:
        QDialog::keyPressEvent(e);
    }
}

} // namespace ImageViewer
