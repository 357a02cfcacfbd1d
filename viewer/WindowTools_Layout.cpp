// The view table's tracks, the side views' own depth zoom, and the splitters between the
// views and between the views and the panels, remembered in the settings.
#include <QMouseEvent>
#include <QSettings>
#include <QSplitter>
#include <QVariantList>
#include <cmath>
#include <functional>
#include <limits>

#include "PictureBox.h"
#include "TablePanel.h"
#include "WindowTools.h"
#include "formImageViewer.h"

namespace ImageViewer {

namespace {

const char* const kViewsKey = "splitterViews";
const char* const kPanelsKey = "splitterPanels";
constexpr int kGap = 6; // between neighbouring pictures (their cells' margins)

bool inside(int v, int extent)
{
    return v >= 0 && v < extent;
}

// A handle on a gap of the view table. Dragging it moves the edge of a side track; a double
// click gives the track back to the automatic rule.
class SplitHandle : public QWidget
{
public:
    SplitHandle(QWidget* table, bool column, std::function<void(double)> moved, std::function<void()> done)
        : QWidget(table), m_column(column), m_moved(std::move(moved)), m_done(std::move(done))
    {
        setCursor(column ? Qt::SplitHCursor : Qt::SplitVCursor);
        setToolTip(QStringLiteral("Drag to resize the side view; double-click for the automatic size"));
    }

protected:
    void mousePressEvent(QMouseEvent* e) override
    {
        m_dragging = e->button() == Qt::LeftButton;
        e->accept();
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        if (!m_dragging)
            return;
        const QPointF at = mapToParent(e->position());
        m_moved(m_column ? at.x() : at.y());
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        if (m_dragging && e->button() == Qt::LeftButton) {
            m_dragging = false;
            m_done();
        }
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override
    {
        m_dragging = false;
        m_moved(std::numeric_limits<double>::quiet_NaN());
        m_done();
        e->accept();
    }

private:
    bool m_column;
    bool m_dragging = false;
    std::function<void(double)> m_moved;
    std::function<void()> m_done;
};

} // namespace

void WindowTools::BuildSplitters()
{
    QSettings settings;
    w.splitterPanels->restoreState(settings.value(QString::fromLatin1(kPanelsKey)).toByteArray());
    QObject::connect(w.splitterPanels, &QSplitter::splitterMoved, &w, [this] {
        QSettings().setValue(QString::fromLatin1(kPanelsKey), w.splitterPanels->saveState());
    });
    const QVariantList shares = settings.value(QString::fromLatin1(kViewsKey)).toList();
    if (shares.size() == 2) {
        // Only what a drag can give is taken back: anything else is the automatic rule.
        const auto valid = [](double v) { return std::isfinite(v) && v >= 0.05 && v <= 0.5 ? v : 0.0; };
        shareColumn = valid(shares[0].toDouble());
        shareRow = valid(shares[1].toDouble());
    }
    const auto save = [this] { QSettings().setValue(QString::fromLatin1(kViewsKey), QVariantList{shareColumn, shareRow}); };
    auto* column = new SplitHandle(w.layoutImage, true, [this](double at) { SplitViews(true, at); }, save);
    column->setObjectName(QStringLiteral("splitterViews"));
    auto* row = new SplitHandle(w.layoutImage, false, [this](double at) { SplitViews(false, at); }, save);
    row->setObjectName(QStringLiteral("splitterViewsRow"));
    column->hide();
    row->hide();
}

TableFit WindowTools::Fit() const
{
    const ViewAxes a = w.CurrentAxes();
    const int n = w.DimensionCount();
    if (!w.image || !inside(a.x, n) || !inside(a.y, n))
        return TableFit{};
    ImageProperties unit = w.properties;
    unit.m_zoom = 1.0;
    const std::vector<double> zooms = unit.GetPixelZooms();
    const ImageReader::Vector size = w.image->GetSize();
    // Hidden side views (View > Side views) take no room.
    const bool sides = SideViews();
    const auto length = [&](int d, bool side) {
        return inside(d, n) && (!side || sides) ? size[d] * zooms[static_cast<size_t>(d)] : 0.0;
    };
    return FitTable(length(a.x, false), length(a.y, false), length(a.yz, true), length(a.xz, true),
                    w.layoutImage->width(), w.layoutImage->height(), shareColumn, shareRow);
}

void WindowTools::LayOutTable()
{
    if (!w.image)
        return;
    const TableFit fit = Fit();
    TablePanel* table = w.layoutImage;
    table->setColumnStyle(0, TrackStyle{true, fit.column});
    table->setColumnStyle(1, TrackStyle{false, 100});
    table->setRowStyle(0, TrackStyle{true, fit.row});
    table->setRowStyle(1, TrackStyle{false, 100});
    // The handles lie on the gaps, between the pictures' margins.
    const int columnEdge = table->columnWidths()[0], rowEdge = table->rowHeights()[0];
    if (auto* handle = table->findChild<QWidget*>(QStringLiteral("splitterViews"), Qt::FindDirectChildrenOnly)) {
        handle->setGeometry(columnEdge - kGap / 2, 0, kGap, table->height());
        handle->setVisible(fit.column > 0);
        handle->raise();
    }
    if (auto* handle = table->findChild<QWidget*>(QStringLiteral("splitterViewsRow"), Qt::FindDirectChildrenOnly)) {
        handle->setGeometry(0, rowEdge - kGap / 2, table->width(), kGap);
        handle->setVisible(fit.row > 0);
        handle->raise();
    }
}

void WindowTools::SplitViews(bool column, double position)
{
    const int table = column ? w.layoutImage->width() : w.layoutImage->height();
    (column ? shareColumn : shareRow) = std::isfinite(position) ? SideShare(position, table) : 0.0;
    if (w.fitted) {
        w.FitToWindow();
        return;
    }
    w.UpdateLayout();
    for (PictureBox* view : {w.pictureXY, w.pictureXZ, w.pictureYZ, w.pictureProfile})
        view->update();
}

std::pair<double, double> WindowTools::ViewZooms(int index) const
{
    const std::vector<double> zooms = w.properties.GetPixelZooms();
    const ViewAxes a = w.CurrentAxes();
    const int n = std::min(w.DimensionCount(), static_cast<int>(zooms.size()));
    const auto zoom = [&](int d) { return inside(d, n) ? zooms[static_cast<size_t>(d)] : w.properties.m_zoom; };
    if (!w.image)
        return {zoom(a.x), zoom(a.y)};
    const ImageReader::Vector size = w.image->GetSize();
    const auto extent = [&](int d) { return inside(d, n) ? size[d] : 0; };
    if (index == 1)
        return {zoom(a.x), SideDepthZoom(zoom(a.xz), extent(a.xz), w.pictureXZ->height())};
    if (index == 2)
        return {SideDepthZoom(zoom(a.yz), extent(a.yz), w.pictureYZ->width()), zoom(a.y)};
    return {zoom(a.x), zoom(a.y)};
}

std::vector<double> WindowTools::FileWavelengths() const
{
    const int cd = w.ChannelDimension();
    if (!w.image || !w.reader || cd < 0 || cd >= w.DimensionCount())
        return {};
    std::vector<double> nm = w.reader->GetIndexWavelengths(static_cast<unsigned>(cd));
    if (nm.size() != static_cast<size_t>(w.image->GetSize()[cd]))
        return {};
    return nm;
}

} // namespace ImageViewer
