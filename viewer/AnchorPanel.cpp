#include "AnchorPanel.h"

#include <QResizeEvent>

#include "ViewMathQt.h"

namespace ImageViewer {

AnchorPanel::AnchorPanel(const QSize& designSize, QWidget* parent) : QWidget(parent), m_designSize(designSize)
{
    resize(designSize);
}

void AnchorPanel::place(QWidget* child, const QRect& design, int anchors)
{
    child->setParent(this);
    m_entries.push_back({child, design, anchors});
    child->setGeometry(ToQRect(AnchoredRect(ToPixelRect(design), ToPixelSize(m_designSize), ToPixelSize(size()), anchors)));
}

void AnchorPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    arrange();
}

void AnchorPanel::arrange()
{
    for (const Entry& e : m_entries)
        e.widget->setGeometry(
            ToQRect(AnchoredRect(ToPixelRect(e.design), ToPixelSize(m_designSize), ToPixelSize(size()), e.anchors)));
}

} // namespace ImageViewer
