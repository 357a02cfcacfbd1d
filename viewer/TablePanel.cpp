#include "TablePanel.h"

#include <QResizeEvent>

namespace ImageViewer {

TablePanel::TablePanel(QWidget* parent) : QWidget(parent)
{
    m_columns = {TrackStyle{false, 50}, TrackStyle{false, 50}};
    m_rows = {TrackStyle{false, 50}, TrackStyle{false, 50}};
}

void TablePanel::setCell(int column, int row, QWidget* widget, const QMargins& margins)
{
    widget->setParent(this);
    m_cells[static_cast<size_t>(row * 2 + column)] = {widget, margins};
    arrange();
}

void TablePanel::setColumnStyle(int column, const TrackStyle& style)
{
    m_columns[static_cast<size_t>(column)] = style;
    arrange();
}

void TablePanel::setRowStyle(int row, const TrackStyle& style)
{
    m_rows[static_cast<size_t>(row)] = style;
    arrange();
}

std::vector<int> TablePanel::columnWidths() const
{
    return ComputeTrackSizes({m_columns[0], m_columns[1]}, width());
}

std::vector<int> TablePanel::rowHeights() const
{
    return ComputeTrackSizes({m_rows[0], m_rows[1]}, height());
}

void TablePanel::arrange()
{
    const std::vector<int> w = columnWidths();
    const std::vector<int> h = rowHeights();
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < 2; ++column) {
            const Cell& cell = m_cells[static_cast<size_t>(row * 2 + column)];
            if (!cell.widget)
                continue;
            const QRect r(column == 0 ? 0 : w[0], row == 0 ? 0 : h[0], w[static_cast<size_t>(column)],
                          h[static_cast<size_t>(row)]);
            cell.widget->setGeometry(r.marginsRemoved(cell.margins));
        }
    }
}

void TablePanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    arrange();
}

} // namespace ImageViewer
