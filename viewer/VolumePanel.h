#pragma once

#include <QImage>
#include <QObject>
#include <QPoint>
#include <memory>

class QAction;
class QComboBox;
class QDockWidget;
class QMenu;

namespace ImageViewer {

class formImageViewer;
class PictureBox;
class VolumeView;

// The window's 3-D view: its picture (beside the XY view in a dock, or in the XY view's
// place), the View menu entries and the mode list, the mouse (drag rotates, wheel zooms,
// middle drag pans, double-click resets) and the export picture. The model's VolumeView
// keeps the state and renders on the worker.
class VolumePanel : public QObject
{
public:
    explicit VolumePanel(formImageViewer& window);
    ~VolumePanel() override;

    bool Showing() const;
    // The current frame with its outline and axis names (null without one).
    QImage Image() const { return m_image; }
    VolumeView& View() { return *m_view; }

    PictureBox* picture = nullptr;
    QComboBox* comboMode = nullptr;
    QAction* showAction = nullptr;
    QAction* resetAction = nullptr;
    QAction* clipAction = nullptr;
    QAction* besideAction = nullptr;
    QAction* insteadAction = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Guard;
    void buildMenu(QMenu* view);
    void wireMouse();
    // Shows the model's 3-D state in the menu, the mode list and the layout.
    void showState();
    void place(bool shown, bool instead);
    void frameArrived();

    formImageViewer& m_window;
    std::shared_ptr<Guard> m_guard;
    std::unique_ptr<VolumeView> m_view;
    QDockWidget* m_dock = nullptr;
    int m_listener = -1;
    QImage m_image;
    QPoint m_last;
    Qt::MouseButton m_button = Qt::NoButton;
    bool m_instead = true;
    bool m_placedShown = false;
    bool m_placedInstead = true;
};

} // namespace ImageViewer
