#pragma once

#include <QMargins>
#include <QWidget>
#include <array>

#include "ViewMath.h"

namespace ImageViewer {

// The 2 x 2 view table: column and row styles are absolute pixels or percentages, and
// every cell holds one widget filling it less its margins. Sizes are recomputed on resize
// and when a style changes.
class TablePanel : public QWidget
{
public:
    explicit TablePanel(QWidget* parent = nullptr);

    void setCell(int column, int row, QWidget* widget, const QMargins& margins);
    void setColumnStyle(int column, const TrackStyle& style);
    void setRowStyle(int row, const TrackStyle& style);
    TrackStyle columnStyle(int column) const { return m_columns[static_cast<size_t>(column)]; }
    TrackStyle rowStyle(int row) const { return m_rows[static_cast<size_t>(row)]; }

    // Current pixel sizes of the columns and rows.
    std::vector<int> columnWidths() const;
    std::vector<int> rowHeights() const;

    void arrange();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Cell
    {
        QWidget* widget = nullptr;
        QMargins margins;
    };
    std::array<TrackStyle, 2> m_columns;
    std::array<TrackStyle, 2> m_rows;
    std::array<Cell, 4> m_cells; // index row * 2 + column
};

} // namespace ImageViewer
