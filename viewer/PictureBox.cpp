#include "PictureBox.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

namespace ImageViewer {

PictureBox::PictureBox(QWidget* parent) : QFrame(parent)
{
    setFocusPolicy(Qt::NoFocus);
    // Everything visible is drawn in paintEvent; skip Qt's own background pass.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureBox::setBackground(const QColor& color)
{
    m_background = color;
    update();
}

void PictureBox::paintEvent(QPaintEvent* event)
{
    ++paintCount;
    {
        QPainter painter(this);
        painter.fillRect(rect(), m_background);
        if (paintHandler)
            paintHandler(painter);
    }
    QFrame::paintEvent(event);
}

void PictureBox::mousePressEvent(QMouseEvent* event)
{
    if (mouseDownHandler)
        mouseDownHandler(event);
}

void PictureBox::mouseMoveEvent(QMouseEvent* event)
{
    if (mouseMoveHandler)
        mouseMoveHandler(event);
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event)
{
    if (mouseUpHandler)
        mouseUpHandler(event);
}

void PictureBox::wheelEvent(QWheelEvent* event)
{
    if (wheelHandler)
        wheelHandler(event);
    else
        event->ignore();
}

void PictureBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (doubleClickHandler)
        doubleClickHandler(event);
    else if (mouseDownHandler)
        mouseDownHandler(event);
}

void PictureBox::leaveEvent(QEvent* event)
{
    QFrame::leaveEvent(event);
    if (leaveHandler)
        leaveHandler();
}

void PictureBox::enterEvent(QEnterEvent* event)
{
    QFrame::enterEvent(event);
    if (enterHandler)
        enterHandler();
}

} // namespace ImageViewer
