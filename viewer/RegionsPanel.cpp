#include "RegionsPanel.h"
#include "KeyboardTable.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QPixmap>
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <fstream>

#include "PictureBox.h"
#include "RegionFiles.h"
#include "WindowPoster.h"
#include "formImageViewer.h"

namespace ImageViewer {

namespace {

// Screen pixels within which a press takes a handle.
constexpr double kHandleReach = 6.0;

Measure::RegionKind kindOf(int tool)
{
    using K = Measure::RegionKind;
    static const K kinds[] = {K::Point, K::Point, K::Line, K::Polyline, K::Rectangle, K::Ellipse, K::Polygon, K::Freehand};
    return kinds[std::clamp(tool, 0, 7)];
}

// Areas take whole pixel corners, lines and points pixel centres (as the drags always did).
Measure::PointF snap(Measure::PointF p, bool area)
{
    if (area)
        return {std::round(p.x), std::round(p.y)};
    return {std::floor(p.x) + 0.5, std::floor(p.y) + 0.5};
}

// Drops repeated consecutive points (a double click adds its point twice).
void dropRepeats(std::vector<Measure::PointF>& points)
{
    points.erase(std::unique(points.begin(), points.end()), points.end());
}

Measure::ImageJAxes axesOf(const formImageViewer& w)
{
    return Measure::ImageJAxes::FromNames(w.properties.m_dimname);
}

} // namespace

RegionsPanel::RegionsPanel(formImageViewer& window) : QObject(&window), m_window(window)
{
    m_live = std::make_unique<LiveRegions>(*window.model, std::make_shared<WindowPoster>(&window));
    m_live->onTable = [this] {
        // A new plane or new regions: the live table replaces a measurement through z/t.
        showRegions();
        m_showThrough = false;
        showTable();
    };
    buildDock();
    buildMenus();
    PictureBox* xy = window.pictureXY;
    m_oldPaint = xy->paintHandler;
    m_oldDown = xy->mouseDownHandler;
    m_oldMove = xy->mouseMoveHandler;
    m_oldUp = xy->mouseUpHandler;
    m_oldDouble = xy->doubleClickHandler;
    xy->paintHandler = [this](QPainter& g) {
        if (m_oldPaint)
            m_oldPaint(g);
        paint(g);
    };
    xy->mouseDownHandler = [this](QMouseEvent* e) {
        if (!mouseDown(e) && m_oldDown)
            m_oldDown(e);
    };
    xy->mouseMoveHandler = [this](QMouseEvent* e) {
        if (!mouseMove(e) && m_oldMove)
            m_oldMove(e);
    };
    xy->mouseUpHandler = [this](QMouseEvent* e) {
        mouseUp(e);
        if (m_oldUp)
            m_oldUp(e);
    };
    xy->doubleClickHandler = [this](QMouseEvent* e) {
        if (!doubleClick(e) && m_oldDouble)
            m_oldDouble(e);
    };
    auto* del = new QShortcut(QKeySequence::Delete, xy, nullptr, nullptr, Qt::WidgetShortcut);
    connect(del, &QShortcut::activated, this, [this] { DeleteSelected(); });
    auto* delList = new QShortcut(QKeySequence::Delete, list, nullptr, nullptr, Qt::WidgetShortcut);
    connect(delList, &QShortcut::activated, this, [this] { DeleteSelected(); });
}

RegionsPanel::~RegionsPanel()
{
    PictureBox* xy = m_window.pictureXY;
    xy->paintHandler = m_oldPaint;
    xy->mouseDownHandler = m_oldDown;
    xy->mouseMoveHandler = m_oldMove;
    xy->mouseUpHandler = m_oldUp;
    xy->doubleClickHandler = m_oldDouble;
}

void RegionsPanel::buildDock()
{
    dock = new QDockWidget(QStringLiteral("Regions"), &m_window);
    dock->setObjectName(QStringLiteral("dockRegions"));
    auto* body = new QWidget(dock);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(4, 4, 4, 4);

    comboTool = new QComboBox(body);
    comboTool->setObjectName(QStringLiteral("comboRegionTool"));
    comboTool->addItems({QStringLiteral("Cursor"), QStringLiteral("Point"), QStringLiteral("Line"),
                         QStringLiteral("Polyline"), QStringLiteral("Rectangle"), QStringLiteral("Ellipse"),
                         QStringLiteral("Polygon"), QStringLiteral("Freehand")});
    comboTool->setToolTip(QStringLiteral("What a left drag draws on the XY view (Shift: rectangle, Ctrl: line). "
                                         "Polygons and polylines end with a double click."));
    layout->addWidget(comboTool);

    list = new QListWidget(body);
    list->setObjectName(QStringLiteral("listRegions"));
    list->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    layout->addWidget(list, 1);

    auto* row = new QHBoxLayout();
    auto* jump = new QPushButton(QStringLiteral("Go to"), body);
    jump->setObjectName(QStringLiteral("buttonJumpRegion"));
    auto* remove = new QPushButton(QStringLiteral("Delete"), body);
    remove->setObjectName(QStringLiteral("buttonDeleteRegion"));
    row->addWidget(jump);
    row->addWidget(remove);
    layout->addLayout(row);

    table = new QTableWidget(body);
    table->setObjectName(QStringLiteral("tableMeasurements"));
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->setVisible(false);
    layout->addWidget(table, 2);

    auto* row2 = new QHBoxLayout();
    auto* copy = new QPushButton(QStringLiteral("Copy"), body);
    copy->setObjectName(QStringLiteral("buttonCopyMeasurements"));
    auto* save = new QPushButton(QStringLiteral("Save CSV..."), body);
    save->setObjectName(QStringLiteral("buttonSaveMeasurements"));
    row2->addWidget(copy);
    row2->addWidget(save);
    layout->addLayout(row2);

    auto* row3 = new QHBoxLayout();
    buttonThrough = new QPushButton(QStringLiteral("Measure through z/t"), body);
    buttonThrough->setObjectName(QStringLiteral("buttonMeasureThrough"));
    progress = new QProgressBar(body);
    progress->setObjectName(QStringLiteral("progressMeasureThrough"));
    progress->setRange(0, 100);
    progress->setVisible(false);
    buttonCancel = new QPushButton(QStringLiteral("Cancel"), body);
    buttonCancel->setObjectName(QStringLiteral("buttonCancelThrough"));
    buttonCancel->setVisible(false);
    row3->addWidget(buttonThrough);
    row3->addWidget(progress, 1);
    row3->addWidget(buttonCancel);
    layout->addLayout(row3);

    dock->setWidget(body);
    m_window.addDockWidget(Qt::RightDockWidgetArea, dock);
    // Shown from the View menu: the views keep the whole window until regions are wanted.
    dock->hide();
    if (QMenu* view = m_window.viewToolStripMenuItem) {
        QAction* toggle = dock->toggleViewAction();
        toggle->setObjectName(QStringLiteral("regionsToolStripMenuItem"));
        view->addAction(toggle);
        ApplyShortcuts(m_window); // its keys come from the keyboard table
    }

    connect(list, &QListWidget::currentRowChanged, this, [this](int row) {
        if (m_filling)
            return;
        RegionList l = Regions();
        if (row >= static_cast<int>(l.regions.size()))
            return;
        l.selected = row;
        setRegions(l);
    });
    connect(list, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (m_filling)
            return;
        const int k = list->row(item);
        RegionList l = Regions();
        if (k < 0 || k >= static_cast<int>(l.regions.size()))
            return;
        l.regions[static_cast<size_t>(k)].name = item->text().toStdString();
        l.SetHidden(static_cast<size_t>(k), item->checkState() != Qt::Checked);
        setRegions(l);
    });
    connect(jump, &QPushButton::clicked, this, [this] { JumpTo(list->currentRow()); });
    connect(remove, &QPushButton::clicked, this, [this] { DeleteSelected(); });
    connect(copy, &QPushButton::clicked, this, [this] { CopyTable(); });
    connect(save, &QPushButton::clicked, this, [this] {
        QString path = QFileDialog::getSaveFileName(&m_window, QStringLiteral("Save measurements"),
                                                    formImageViewer::OpenFolder(), QStringLiteral("CSV (*.csv)"));
        if (path.isEmpty())
            return;
        if (!path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive))
            path += QStringLiteral(".csv");
        const QString why = SaveCsv(path);
        if (!why.isEmpty())
            QMessageBox::warning(&m_window, QStringLiteral("Save measurements"), why);
    });
    connect(buttonThrough, &QPushButton::clicked, this, [this] { MeasureThrough(); });
    connect(buttonCancel, &QPushButton::clicked, this, [this] {
        m_live->CancelThrough();
        progress->setVisible(false);
        buttonCancel->setVisible(false);
    });
}

void RegionsPanel::buildMenus()
{
    QMenu* file = m_window.fileToolStripMenuItem;
    if (!file)
        return;
    auto* importAction = new QAction(QStringLiteral("Import regions..."), &m_window);
    importAction->setObjectName(QStringLiteral("importRegionsToolStripMenuItem"));
    auto* exportAction = new QAction(QStringLiteral("Export regions..."), &m_window);
    exportAction->setObjectName(QStringLiteral("exportRegionsToolStripMenuItem"));
    QAction* before = file->actions().size() > 1 ? file->actions().at(file->actions().size() - 1) : nullptr;
    file->insertActions(before, {importAction, exportAction});
    const QString filter = QStringLiteral("Regions (*.roi *.zip *.geojson *.json);;ImageJ ROI set (*.zip);;"
                                          "ImageJ selection (*.roi);;GeoJSON (*.geojson)");
    connect(importAction, &QAction::triggered, this, [this, filter] {
        if (!m_window.image)
            return;
        const QString path = QFileDialog::getOpenFileName(&m_window, QStringLiteral("Import regions"),
                                                          formImageViewer::OpenFolder(), filter);
        if (path.isEmpty())
            return;
        const QString why = Import(path);
        if (!why.isEmpty())
            QMessageBox::warning(&m_window, QStringLiteral("Import regions"), why);
    });
    connect(exportAction, &QAction::triggered, this, [this, filter] {
        if (!m_window.image)
            return;
        QString selected;
        QString path = QFileDialog::getSaveFileName(&m_window, QStringLiteral("Export regions"),
                                                    formImageViewer::OpenFolder(), filter, &selected);
        if (path.isEmpty())
            return;
        if (QFileInfo(path).suffix().isEmpty())
            path += selected.contains(QStringLiteral("*.roi)")) ? QStringLiteral(".roi")
                    : selected.contains(QStringLiteral("*.geojson)")) ? QStringLiteral(".geojson")
                                                                       : QStringLiteral(".zip");
        const QString why = Export(path);
        if (!why.isEmpty())
            QMessageBox::warning(&m_window, QStringLiteral("Export regions"), why);
    });
}

RegionList RegionsPanel::Regions() const
{
    if (!m_window.image || m_serial != m_window.imageSerial)
        return RegionList();
    return m_live->Regions();
}

void RegionsPanel::setRegions(const RegionList& l)
{
    m_serial = m_window.imageSerial;
    m_live->SetRegions(l);
    showRegions();
    m_window.pictureXY->update();
}

void RegionsPanel::Adopt(const RegionList& l)
{
    if (m_window.image)
        setRegions(l);
}

void RegionsPanel::add(Measure::Region region)
{
    RegionList l = Regions();
    if (region.name.empty())
        region.name = l.FreshName(region.kind);
    region.color = RegionColour(l.regions.size());
    l.Add(std::move(region));
    setRegions(l);
}

const Measure::MeasureTable& RegionsPanel::ShownTable() const
{
    return m_showThrough ? m_through : m_live->Table();
}

void RegionsPanel::showRegions()
{
    const RegionList l = Regions();
    if (l == m_shownList && list->count() == static_cast<int>(l.regions.size()))
        return;
    m_shownList = l;
    m_filling = true;
    list->clear();
    for (size_t k = 0; k < l.regions.size(); ++k) {
        auto* item = new QListWidgetItem(QString::fromStdString(l.regions[k].name), list);
        item->setFlags(item->flags() | Qt::ItemIsEditable | Qt::ItemIsUserCheckable);
        item->setCheckState(l.Hidden(k) ? Qt::Unchecked : Qt::Checked);
        // The region's colour as a swatch: light outline colours cannot be read as text.
        QPixmap swatch(10, 10);
        swatch.fill(QColor::fromRgba(l.regions[k].color | 0xff000000u));
        item->setIcon(QIcon(swatch));
    }
    list->setCurrentRow(l.selected);
    m_filling = false;
}

void RegionsPanel::showTable()
{
    const Measure::MeasureTable& t = ShownTable();
    const std::vector<std::string> header = Measure::TableHeader(t);
    const std::vector<std::vector<std::string>> cells = Measure::TableCells(t);
    table->clear();
    table->setColumnCount(static_cast<int>(header.size()));
    table->setRowCount(static_cast<int>(cells.size()));
    QStringList labels;
    for (const std::string& h : header)
        labels << QString::fromStdString(h);
    table->setHorizontalHeaderLabels(labels);
    for (size_t r = 0; r < cells.size(); ++r)
        for (size_t c = 0; c < cells[r].size() && c < header.size(); ++c)
            table->setItem(static_cast<int>(r), static_cast<int>(c),
                           new QTableWidgetItem(QString::fromStdString(cells[r][c])));
}

void RegionsPanel::CopyTable() const
{
    QApplication::clipboard()->setText(QString::fromStdString(Measure::TableToTsv(ShownTable())));
}

QString RegionsPanel::SaveCsv(const QString& path) const
{
    std::ofstream out(QFile::encodeName(path).toStdString(), std::ios::binary);
    out << Measure::TableToCsv(ShownTable());
    out.close();
    return out ? QString() : QStringLiteral("cannot write ") + path;
}

QString RegionsPanel::Import(const QString& path)
{
    if (!m_window.image)
        return QStringLiteral("no image is open");
    std::string why;
    const std::optional<std::vector<Measure::Region>> read =
        Measure::ReadRegions(QFile::encodeName(path).toStdString(), axesOf(m_window), &why);
    if (!read)
        return QString::fromStdString(why);
    RegionList l = Regions();
    for (Measure::Region r : *read) {
        if (r.name.empty())
            r.name = l.FreshName(r.kind);
        l.Add(std::move(r));
    }
    setRegions(l);
    return QString();
}

QString RegionsPanel::Export(const QString& path) const
{
    const RegionList l = Regions();
    if (l.regions.empty())
        return QStringLiteral("there are no regions");
    std::vector<Measure::Region> out = l.regions;
    // One selection file holds one region: the selected one.
    if (path.endsWith(QStringLiteral(".roi"), Qt::CaseInsensitive))
        out = {l.regions[static_cast<size_t>(std::max(0, l.selected))]};
    std::string why;
    if (!Measure::WriteRegions(QFile::encodeName(path).toStdString(), out, axesOf(m_window), &why))
        return QString::fromStdString(why);
    return QString();
}

void RegionsPanel::DeleteSelected()
{
    RegionList l = Regions();
    if (l.selected < 0)
        return;
    l.Remove(static_cast<size_t>(l.selected));
    setRegions(l);
}

void RegionsPanel::JumpTo(int k)
{
    const RegionList l = Regions();
    if (k < 0 || k >= static_cast<int>(l.regions.size()) || m_window.curslice.size() < 2)
        return;
    const Measure::Region& r = l.regions[static_cast<size_t>(k)];
    const ImageReader::Vector size = m_window.image->GetSize();
    double x0, y0, x1, y1;
    r.Bounds(x0, y0, x1, y1);
    m_window.curslice[0] = std::clamp(static_cast<int>(std::floor((x0 + x1) / 2)), 0, size[0] - 1);
    m_window.curslice[1] = std::clamp(static_cast<int>(std::floor((y0 + y1) / 2)), 0, size[1] - 1);
    for (int d = 2; d < static_cast<int>(size.size()); ++d) {
        const int p = r.PositionOf(d);
        if (p != Measure::Region::All && p < size[d])
            m_window.curslice[d] = p;
    }
    RegionList selected = l;
    selected.selected = k;
    setRegions(selected);
    m_window.RefreshPictures(ViewAll);
    m_window.UpdateLocation();
}

void RegionsPanel::MeasureThrough()
{
    if (!m_window.image || Regions().regions.empty())
        return;
    progress->setValue(0);
    progress->setVisible(true);
    buttonCancel->setVisible(true);
    m_live->MeasureThrough(m_live->ThroughDimensions(), [this](Measure::MeasureTable t) {
        m_through = std::move(t);
        m_showThrough = true;
        progress->setVisible(false);
        buttonCancel->setVisible(false);
        showTable();
    });
    auto* timer = new QTimer(this);
    timer->setInterval(100);
    connect(timer, &QTimer::timeout, this, [this, timer] {
        progress->setValue(static_cast<int>(100 * m_live->ThroughProgress()));
        if (!m_live->ThroughRunning()) {
            timer->deleteLater();
            if (!m_showThrough) {
                progress->setVisible(false);
                buttonCancel->setVisible(false);
            }
        }
    });
    timer->start();
}

bool RegionsPanel::toPlane(QPointF screen, Measure::PointF& plane) const
{
    const ViewAxes a = m_window.CurrentAxes();
    if (!m_window.image || a.x != 0 || a.y != 1 || m_window.imagedelta.size() != 2)
        return false;
    const std::vector<double> zooms = m_window.properties.GetPixelZooms();
    if (zooms.size() < 2 || !(zooms[0] > 0) || !(zooms[1] > 0))
        return false;
    plane.x = (screen.x() - m_window.imagedelta[0]) / zooms[0];
    plane.y = (screen.y() - m_window.imagedelta[1]) / zooms[1];
    return true;
}

QPointF RegionsPanel::toScreen(const Measure::PointF& p) const
{
    const std::vector<double> zooms = m_window.properties.GetPixelZooms();
    return QPointF(m_window.imagedelta[0] + p.x * zooms[0], m_window.imagedelta[1] + p.y * zooms[1]);
}

bool RegionsPanel::onPlane(const Measure::Region& r) const
{
    const int cd = m_window.ChannelDimension();
    for (int d = 2; d < static_cast<int>(m_window.curslice.size()); ++d) {
        const int p = r.PositionOf(d);
        if (d != cd && p != Measure::Region::All && p != m_window.curslice[d])
            return false;
    }
    return true;
}

bool RegionsPanel::mouseDown(QMouseEvent* e)
{
    Measure::PointF p;
    if (e->button() != Qt::LeftButton || !toPlane(e->position(), p))
        return false;
    const Qt::KeyboardModifiers mods = e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier);
    m_shortcut = mods == Qt::ShiftModifier ? 1 : mods == Qt::ControlModifier ? 2 : 0;
    if (mods != Qt::NoModifier)
        return false;
    // A handle of the selected region, whatever the tool.
    const RegionList l = Regions();
    if (!m_drawing && l.selected >= 0 && !l.Hidden(static_cast<size_t>(l.selected)) &&
        onPlane(l.regions[static_cast<size_t>(l.selected)])) {
        const Measure::Region& r = l.regions[static_cast<size_t>(l.selected)];
        for (size_t k = 0; k < r.points.size(); ++k) {
            const QPointF d = toScreen(r.points[k]) - e->position();
            if (std::hypot(d.x(), d.y()) <= kHandleReach) {
                m_handle = static_cast<int>(k);
                return true;
            }
        }
    }
    const int tool = comboTool->currentIndex();
    if (tool == Cursor)
        return false;
    const Measure::RegionKind kind = kindOf(tool);
    Measure::Region probe;
    probe.kind = kind;
    const Measure::PointF at = snap(p, probe.IsArea());
    if (kind == Measure::RegionKind::Point) {
        probe.points = {at};
        add(probe);
        return true;
    }
    if (m_drawing && (kind == Measure::RegionKind::Polygon || kind == Measure::RegionKind::Polyline)) {
        m_draft.points.back() = at;
        m_draft.points.push_back(at);
    } else {
        m_drawing = true;
        m_draft = probe;
        m_draft.points = {at, at};
    }
    m_window.pictureXY->update();
    return true;
}

bool RegionsPanel::mouseMove(QMouseEvent* e)
{
    Measure::PointF p;
    if (!toPlane(e->position(), p))
        return false;
    if (m_handle >= 0 && (e->buttons() & Qt::LeftButton)) {
        RegionList l = Regions();
        if (l.selected < 0)
            return false;
        Measure::Region& r = l.regions[static_cast<size_t>(l.selected)];
        if (m_handle < static_cast<int>(r.points.size()))
            r.points[static_cast<size_t>(m_handle)] = snap(p, r.IsArea());
        setRegions(l);
        return true;
    }
    if (!m_drawing)
        return false;
    const Measure::PointF at = snap(p, m_draft.IsArea());
    if (m_draft.kind == Measure::RegionKind::Freehand) {
        if (e->buttons() & Qt::LeftButton)
            if (!(m_draft.points.back() == at))
                m_draft.points.push_back(at);
    } else {
        m_draft.points.back() = at;
    }
    m_window.pictureXY->update();
    return true;
}

void RegionsPanel::mouseUp(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    m_handle = -1;
    const int shortcut = m_shortcut;
    m_shortcut = 0;
    if (m_drawing) {
        const Measure::RegionKind k = m_draft.kind;
        if (k == Measure::RegionKind::Line || k == Measure::RegionKind::Rectangle || k == Measure::RegionKind::Ellipse ||
            k == Measure::RegionKind::Freehand)
            finishDrawing();
        return;
    }
    // The drags that measured before make regions now as well.
    const ViewAxes a = m_window.CurrentAxes();
    const ImageReader::Vector& s = m_window.measstart;
    const ImageReader::Vector& t = m_window.measend;
    if (shortcut == 0 || a.x != 0 || a.y != 1 || s.size() < 2 || t.size() < 2 || s == t)
        return;
    Measure::Region r;
    if (shortcut == 1 && m_window.meastype == 1) {
        r.kind = Measure::RegionKind::Rectangle;
        r.points = {{double(std::min(s[0], t[0])), double(std::min(s[1], t[1]))},
                    {double(std::max(s[0], t[0]) + 1), double(std::max(s[1], t[1]) + 1)}};
    } else if (shortcut == 2 && m_window.meastype == 2) {
        r.kind = Measure::RegionKind::Line;
        r.points = {{s[0] + 0.5, s[1] + 0.5}, {t[0] + 0.5, t[1] + 0.5}};
    } else {
        return;
    }
    add(r);
}

bool RegionsPanel::doubleClick(QMouseEvent* e)
{
    if (!m_drawing || e->button() != Qt::LeftButton)
        return false;
    finishDrawing();
    return true;
}

void RegionsPanel::finishDrawing()
{
    m_drawing = false;
    Measure::Region r = std::move(m_draft);
    m_draft = Measure::Region();
    dropRepeats(r.points);
    if (r.kind == Measure::RegionKind::Polygon || r.kind == Measure::RegionKind::Freehand) {
        if (r.points.size() > 1 && r.points.front() == r.points.back())
            r.points.pop_back();
    }
    const bool box = r.kind == Measure::RegionKind::Rectangle || r.kind == Measure::RegionKind::Ellipse;
    const bool flat = box && (r.points.size() < 2 || r.points[0].x == r.points[1].x || r.points[0].y == r.points[1].y);
    if (r.IsValid() && !flat)
        add(std::move(r));
    m_window.pictureXY->update();
}

void RegionsPanel::paint(QPainter& g)
{
    Measure::PointF probe;
    if (!toPlane(QPointF(0, 0), probe))
        return;
    const RegionList l = Regions();
    g.save();
    g.setRenderHint(QPainter::Antialiasing, true);
    g.setBrush(Qt::NoBrush);
    const auto draw = [&](const Measure::Region& r, bool selected) {
        QColor c = QColor::fromRgba(r.color);
        g.setPen(QPen(c, selected ? 2 : 1));
        QPolygonF shape;
        for (const Measure::PointF& p : r.points)
            shape << toScreen(p);
        switch (r.kind) {
        case Measure::RegionKind::Point:
            for (const QPointF& p : shape) {
                g.drawLine(p - QPointF(4, 0), p + QPointF(4, 0));
                g.drawLine(p - QPointF(0, 4), p + QPointF(0, 4));
            }
            break;
        case Measure::RegionKind::Line:
        case Measure::RegionKind::Polyline:
            g.drawPolyline(shape);
            break;
        case Measure::RegionKind::Rectangle:
        case Measure::RegionKind::Ellipse:
            if (shape.size() >= 2) {
                const QRectF box = QRectF(shape[0], shape[1]).normalized();
                if (r.kind == Measure::RegionKind::Rectangle)
                    g.drawRect(box);
                else
                    g.drawEllipse(box);
            }
            break;
        case Measure::RegionKind::Polygon:
        case Measure::RegionKind::Freehand:
            g.drawPolygon(shape);
            break;
        }
        if (!r.name.empty() && !shape.isEmpty()) {
            g.setFont(QFont(QStringLiteral("Arial"), 8));
            g.drawText(shape.boundingRect().topLeft() + QPointF(2, -3), QString::fromStdString(r.name));
        }
        if (selected) {
            g.setBrush(c);
            for (const QPointF& p : shape)
                g.drawRect(QRectF(p - QPointF(3, 3), QSizeF(6, 6)));
            g.setBrush(Qt::NoBrush);
        }
    };
    for (size_t k = 0; k < l.regions.size(); ++k)
        if (!l.Hidden(k) && onPlane(l.regions[k]))
            draw(l.regions[k], static_cast<int>(k) == l.selected);
    if (m_drawing) {
        Measure::Region d = m_draft;
        d.color = RegionColour(l.regions.size());
        draw(d, false);
    }
    g.restore();
}

} // namespace ImageViewer
