#include "VolumePanel.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QDockWidget>
#include <QEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QWheelEvent>
#include <mutex>

#include "PictureBox.h"
#include "TablePanel.h"
#include "VolumePicture.h"
#include "VolumeView.h"
#include "formImageViewer.h"

namespace ImageViewer {

// Frames come back to the window's thread as queued calls on the window, until the panel goes.
struct VolumePanel::Guard : Poster
{
    explicit Guard(QObject* t) : target(t) {}
    void Post(std::function<void()> task) override
    {
        const std::lock_guard<std::mutex> hold(lock);
        if (alive)
            QMetaObject::invokeMethod(target, std::move(task), Qt::QueuedConnection);
    }
    void Drain() override { QCoreApplication::sendPostedEvents(target, QEvent::MetaCall); }

    std::mutex lock;
    QObject* target;
    bool alive = true;
};

namespace {

QAction* newAction(QObject* parent, const char* name, const QString& text, bool checkable = false)
{
    auto* action = new QAction(text, parent);
    action->setObjectName(QString::fromLatin1(name));
    action->setCheckable(checkable);
    return action;
}

const QMargins kXYMargins(3, 3, 0, 0);

} // namespace

VolumePanel::VolumePanel(formImageViewer& window)
    : m_window(window), m_guard(std::make_shared<Guard>(&window))
{
    m_view = std::make_unique<VolumeView>(*window.model, m_guard);
    picture = new PictureBox(&window);
    picture->setObjectName(QStringLiteral("picture3D"));
    picture->setBackground(Qt::black);
    picture->hide();
    picture->installEventFilter(this);
    comboMode = new QComboBox(picture);
    comboMode->setObjectName(QStringLiteral("comboVolumeMode"));
    comboMode->addItems({QStringLiteral("Maximum"), QStringLiteral("Minimum"), QStringLiteral("Average"),
                         QStringLiteral("Blend")});
    comboMode->setToolTip(QStringLiteral("How the 3-D view combines the voxels along each ray"));
    comboMode->adjustSize();
    comboMode->move(4, 4);
    QObject::connect(comboMode, &QComboBox::currentIndexChanged, this,
                     [this](int i) { m_view->SetMode(static_cast<VolumeMode>(std::clamp(i, 0, 3))); });

    m_dock = new QDockWidget(QStringLiteral("3D"), &window);
    m_dock->setObjectName(QStringLiteral("dock3D"));
    m_dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    window.addDockWidget(Qt::RightDockWidgetArea, m_dock);
    m_dock->hide();

    buildMenu(window.viewToolStripMenuItem);
    wireMouse();
    m_view->onFrame = [this] { frameArrived(); };
    m_listener = window.model->AddListener([this](const ChangeSet& change) {
        if (change.Has(ChangeVolume | ChangeImage | ChangeAxes))
            showState();
    });
}

VolumePanel::~VolumePanel()
{
    {
        const std::lock_guard<std::mutex> hold(m_guard->lock);
        m_guard->alive = false;
    }
    m_window.model->RemoveListener(m_listener);
    m_view.reset();
}

bool VolumePanel::Showing() const
{
    return m_window.model->State().volume.shown;
}

void VolumePanel::buildMenu(QMenu* view)
{
    showAction = newAction(&m_window, "view3DToolStripMenuItem", QStringLiteral("&3D view"), true);
    resetAction = newAction(&m_window, "reset3DToolStripMenuItem", QStringLiteral("&Reset 3D view"));
    clipAction = newAction(&m_window, "clip3DToolStripMenuItem", QStringLiteral("&Clip 3D view to the cursor planes"), true);
    besideAction = newAction(&m_window, "layout3DBesideToolStripMenuItem", QStringLiteral("3D view &beside the XY view"), true);
    insteadAction =
        newAction(&m_window, "layout3DInsteadToolStripMenuItem", QStringLiteral("3D view &instead of the XY view"), true);
    auto* layouts = new QActionGroup(this);
    layouts->addAction(besideAction);
    layouts->addAction(insteadAction);
    insteadAction->setChecked(true);
    view->addSeparator();
    view->addAction(showAction);
    QMenu* options = view->addMenu(QStringLiteral("3D view &options"));
    options->setObjectName(QStringLiteral("view3DOptionsToolStripMenuItem"));
    options->addActions({resetAction, clipAction});
    options->addSeparator();
    options->addActions({besideAction, insteadAction});

    QObject::connect(showAction, &QAction::toggled, this, [this](bool on) { m_view->SetShown(on); });
    QObject::connect(resetAction, &QAction::triggered, this, [this] { m_view->Reset(); });
    QObject::connect(clipAction, &QAction::toggled, this, [this](bool on) { m_view->SetClip(on); });
    QObject::connect(layouts, &QActionGroup::triggered, this, [this](QAction* a) {
        m_instead = a == insteadAction;
        showState();
    });
}

void VolumePanel::wireMouse()
{
    picture->paintHandler = [this](QPainter& g) {
        if (!m_image.isNull())
            g.drawImage(picture->rect(), m_image);
    };
    picture->mouseDownHandler = [this](QMouseEvent* e) {
        m_button = e->button();
        m_last = e->position().toPoint();
        if (m_button == Qt::LeftButton)
            m_view->SetDragging(true);
    };
    picture->mouseMoveHandler = [this](QMouseEvent* e) {
        const QPoint at = e->position().toPoint();
        const QPoint d = at - m_last;
        m_last = at;
        if (m_button == Qt::LeftButton && (e->buttons() & Qt::LeftButton))
            m_view->Drag(d.x(), d.y());
        else if (m_button == Qt::MiddleButton && (e->buttons() & Qt::MiddleButton))
            m_view->Pan(d.x(), d.y());
    };
    picture->mouseUpHandler = [this](QMouseEvent*) {
        m_button = Qt::NoButton;
        m_view->SetDragging(false);
    };
    picture->wheelHandler = [this](QWheelEvent* e) {
        m_view->Wheel(e->angleDelta().y() / 120.0, e->position().x(), e->position().y());
    };
    picture->doubleClickHandler = [this](QMouseEvent*) {
        m_button = Qt::NoButton;
        m_view->SetDragging(false);
        m_view->Reset();
    };
}

bool VolumePanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == picture && event->type() == QEvent::Resize)
        m_view->SetSize(picture->width(), picture->height());
    return QObject::eventFilter(watched, event);
}

void VolumePanel::showState()
{
    const VolumeViewState& vs = m_window.model->State().volume;
    {
        const QSignalBlocker a(showAction), b(clipAction), c(comboMode);
        showAction->setChecked(vs.shown);
        clipAction->setChecked(vs.clip);
        comboMode->setCurrentIndex(static_cast<int>(vs.mode));
    }
    place(vs.shown, m_instead);
}

void VolumePanel::place(bool shown, bool instead)
{
    if (shown == m_placedShown && instead == m_placedInstead)
        return;
    if (m_placedShown && m_placedInstead) {
        m_window.layoutImage->setCell(1, 1, m_window.pictureXY, kXYMargins);
        m_window.pictureXY->show();
    }
    if (m_placedShown && !m_placedInstead)
        m_dock->hide();
    if (shown && instead) {
        m_window.layoutImage->setCell(1, 1, picture, kXYMargins);
        m_window.pictureXY->hide();
    } else if (shown) {
        m_dock->setWidget(picture);
        m_dock->show();
    }
    picture->setVisible(shown);
    m_placedShown = shown;
    m_placedInstead = instead;
    if (shown)
        m_view->SetSize(picture->width(), picture->height());
}

void VolumePanel::frameArrived()
{
    const VolumeFrame& frame = m_view->Frame();
    if (frame.IsNull()) {
        m_image = QImage();
    } else {
        m_image = QImage(frame.picture.pixels.get(), frame.picture.width, frame.picture.height,
                         frame.picture.width * 4, QImage::Format_RGB32)
                      .copy();
        const std::vector<std::string> names = m_window.model->Session().DimensionNames();
        std::array<QString, 3> axes;
        for (size_t i = 0; i < 3; ++i) {
            const auto d = static_cast<size_t>(frame.state.volume.dims[i]);
            axes[i] = d < names.size() && !names[d].empty() ? QString::fromStdString(names[d]) : QString::number(d);
        }
        DrawVolumeBox(m_image, frame.box, axes);
    }
    picture->update();
    const QString status = QString::fromStdString(m_view->Status());
    if (!status.isEmpty() && m_window.statusBar()->currentMessage() != status)
        m_window.statusBar()->showMessage(status, 5000);
}

} // namespace ImageViewer
