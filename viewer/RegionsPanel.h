#pragma once

#include <QObject>
#include <QPointF>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "LiveRegions.h"

class QComboBox;
class QDockWidget;
class QListWidget;
class QMouseEvent;
class QPainter;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace ImageViewer {

class formImageViewer;

// Regions on the XY view: the tool that draws them (the Shift- and Ctrl-drags make
// rectangles and lines as well), their outlines and handles, the dock with their list and
// measurements, copying and saving the table, measuring through z/t, and region files.
// The regions themselves are the model's (its view state); this is their window.
class RegionsPanel : public QObject
{
public:
    // The tool list's entries; Cursor moves the cursor as before.
    enum Tool { Cursor = 0, Point, Line, Polyline, Rectangle, Ellipse, Polygon, Freehand };

    explicit RegionsPanel(formImageViewer& window);
    ~RegionsPanel() override;

    LiveRegions& Live() { return *m_live; }
    // The model's regions while they belong to the image shown, else none.
    RegionList Regions() const;
    // Takes `list` as the regions (a state file being applied).
    void Adopt(const RegionList& list);
    // The table shown: the live one, or the last measurement through z/t.
    const Measure::MeasureTable& ShownTable() const;

    void CopyTable() const;
    QString SaveCsv(const QString& path) const;
    // Region files by extension (.roi, .zip, .geojson, .json); empty on success, else why.
    QString Import(const QString& path);
    QString Export(const QString& path) const;
    void DeleteSelected();
    // Moves the cursor to region k: its centre and the planes it is pinned to.
    void JumpTo(int k);
    void MeasureThrough();

    QComboBox* comboTool = nullptr;
    QDockWidget* dock = nullptr;
    QListWidget* list = nullptr;
    QTableWidget* table = nullptr;
    QPushButton* buttonThrough = nullptr;
    QPushButton* buttonCancel = nullptr;
    QProgressBar* progress = nullptr;

private:
    bool mouseDown(QMouseEvent* e);
    bool mouseMove(QMouseEvent* e);
    void mouseUp(QMouseEvent* e);
    bool doubleClick(QMouseEvent* e);
    void paint(QPainter& g);
    // Plane coordinates under a point of the XY view, and back; false when the XY view does
    // not show x and y (regions live on that plane).
    bool toPlane(QPointF screen, Measure::PointF& plane) const;
    QPointF toScreen(const Measure::PointF& p) const;
    bool onPlane(const Measure::Region& r) const;
    void setRegions(const RegionList& list);
    void add(Measure::Region region);
    void finishDrawing();
    void showRegions();
    void showTable();
    void buildDock();
    void buildMenus();

    formImageViewer& m_window;
    std::unique_ptr<LiveRegions> m_live;
    std::uint64_t m_serial = 0; // the image the model's regions were drawn on
    RegionList m_shownList;     // what the list widget shows
    bool m_filling = false;
    // The region being drawn (kind set while drawing) and the handle being dragged.
    bool m_drawing = false;
    Measure::Region m_draft;
    int m_handle = -1;
    int m_shortcut = 0; // 1: a Shift-drag, 2: a Ctrl-drag under way
    bool m_showThrough = false;
    Measure::MeasureTable m_through;
    std::function<void(QPainter&)> m_oldPaint;
    std::function<void(QMouseEvent*)> m_oldDown, m_oldMove, m_oldUp, m_oldDouble;
};

} // namespace ImageViewer
