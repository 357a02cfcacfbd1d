#include "formSettings.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>

namespace ImageViewer {

namespace {

const char* const kBudgetKey = "cacheBudgetMB";
const char* const kColorsKey = "channelColors";

} // namespace

std::vector<QColor> formSettings::BuiltInColors()
{
    return {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::magenta, Qt::cyan};
}

std::vector<QColor> formSettings::ChannelColors()
{
    std::vector<QColor> colors = BuiltInColors();
    const QStringList stored = QSettings().value(QString::fromLatin1(kColorsKey)).toStringList();
    for (int k = 0; k < kChannelColors && k < stored.size(); ++k) {
        const QColor c = QColor::fromString(stored[k]);
        if (c.isValid())
            colors[static_cast<size_t>(k)] = c;
    }
    return colors;
}

formSettings::formSettings(QWidget* parent) : QDialog(parent), m_colors(ChannelColors())
{
    setWindowTitle(QStringLiteral("Settings"));
    auto* form = new QFormLayout;

    spinCacheBudget = new QSpinBox;
    spinCacheBudget->setObjectName(QStringLiteral("spinCacheBudget"));
    spinCacheBudget->setRange(0, 1 << 20);
    spinCacheBudget->setSingleStep(256);
    spinCacheBudget->setSuffix(QStringLiteral(" MiB"));
    spinCacheBudget->setSpecialValueText(QStringLiteral("Default (a quarter of memory)"));
    spinCacheBudget->setValue(QSettings().value(QString::fromLatin1(kBudgetKey), 0).toInt());
    form->addRow(QStringLiteral("Slice cache memory:"), spinCacheBudget);

    auto* swatches = new QHBoxLayout;
    for (int k = 0; k < kChannelColors; ++k) {
        auto* button = new QPushButton;
        button->setObjectName(QStringLiteral("buttonChannelColor%1").arg(k));
        button->setToolTip(QStringLiteral("Channel %1").arg(k));
        button->setFixedSize(button->fontMetrics().height() * 2, button->fontMetrics().height() + 8);
        connect(button, &QPushButton::clicked, this, [this, k] {
            const QColor chosen = QColorDialog::getColor(m_colors[static_cast<size_t>(k)], this);
            if (chosen.isValid()) {
                m_colors[static_cast<size_t>(k)] = chosen;
                ShowColor(k);
            }
        });
        buttonChannelColor.push_back(button);
        swatches->addWidget(button);
        ShowColor(k);
    }
    auto* reset = new QPushButton(QStringLiteral("Reset"));
    reset->setObjectName(QStringLiteral("buttonResetColors"));
    connect(reset, &QPushButton::clicked, this, [this] {
        m_colors = BuiltInColors();
        for (int k = 0; k < kChannelColors; ++k)
            ShowColor(k);
    });
    swatches->addWidget(reset);
    swatches->addStretch(1);
    form->addRow(QStringLiteral("Channel colours:"), swatches);

    auto* note = new QLabel(QStringLiteral("Changes apply to images opened afterwards."));
    note->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->setObjectName(QStringLiteral("buttonBox"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(buttons);
}

void formSettings::ShowColor(int k)
{
    const QColor c = m_colors[static_cast<size_t>(k)];
    buttonChannelColor[static_cast<size_t>(k)]->setStyleSheet(
        QStringLiteral("background-color: %1; border: 1px solid palette(dark);").arg(c.name()));
}

void formSettings::Save() const
{
    QSettings settings;
    settings.setValue(QString::fromLatin1(kBudgetKey), spinCacheBudget->value());
    QStringList names;
    for (const QColor& c : m_colors)
        names << c.name();
    settings.setValue(QString::fromLatin1(kColorsKey), names);
}

} // namespace ImageViewer
