#pragma once

#include <QRect>
#include <QWidget>
#include <vector>

namespace ImageViewer {

// A container whose children sit at design positions and keep their distances to the
// edges they are anchored to (ViewMath.h Anchor bits) when the container is resized.
class AnchorPanel : public QWidget
{
public:
    AnchorPanel(const QSize& designSize, QWidget* parent = nullptr);

    // Makes `child` a child of this panel at `design` (design coordinates).
    void place(QWidget* child, const QRect& design, int anchors);
    QSize designSize() const { return m_designSize; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Entry
    {
        QWidget* widget;
        QRect design;
        int anchors;
    };
    void arrange();

    QSize m_designSize;
    std::vector<Entry> m_entries;
};

} // namespace ImageViewer
