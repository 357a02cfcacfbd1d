#pragma once

#include <QColor>
#include <QFrame>
#include <functional>

class QPainter;

namespace ImageViewer {

// A plain drawing surface: fills its background, lets the window's paint handler draw,
// then draws its own frame. Mouse, wheel and enter events go to the window's handlers,
// so the window keeps all behaviour and this class none.
class PictureBox : public QFrame
{
public:
    explicit PictureBox(QWidget* parent = nullptr);

    void setBackground(const QColor& color);
    QColor background() const { return m_background; }

    std::function<void(QPainter&)> paintHandler;
    std::function<void(QMouseEvent*)> mouseDownHandler;
    std::function<void(QMouseEvent*)> mouseMoveHandler;
    std::function<void(QMouseEvent*)> mouseUpHandler;
    std::function<void(QWheelEvent*)> wheelHandler;
    std::function<void(QMouseEvent*)> doubleClickHandler;
    std::function<void()> enterHandler;
    std::function<void()> leaveHandler;

    // Paints so far; lets tests tell a repaint from a recompute.
    int paintCount = 0;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QColor m_background = Qt::black;
};

} // namespace ImageViewer
