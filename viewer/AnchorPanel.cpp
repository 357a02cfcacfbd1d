#include "AnchorPanel.h"

#include <QResizeEvent>

#include "ViewMath.h"

namespace ImageViewer {

AnchorPanel::AnchorPanel(const QSize& designSize, QWidget* parent) : QWidget(parent), m_designSize(designSize)
{
    resize(designSize);
}

void AnchorPanel::place(QWidget* child, const QRect& design, int anchors)
{
    child->setParent(this);
    m_entries.push_back({child, design, anchors});
    child->setGeometry(AnchoredRect(design, m_designSize, size(), anchors));
}

void AnchorPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    arrange();
}

void AnchorPanel::arrange()
{
    for (const Entry& e : m_entries)
        e.widget->setGeometry(AnchoredRect(e.design, m_designSize, size(), e.anchors));
}

} // namespace ImageViewer
