// Opens under way: their progress and Cancel button in the status bar, Esc, and File > Reload.
#include <QAction>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>

#include "KeyboardTable.h"
#include "OpenJob.h"
#include "formImageViewer.h"

namespace ImageViewer {

void formImageViewer::SetUpOpening()
{
    openIndicator = std::make_unique<OpenIndicator>();
    OpenIndicator& o = *openIndicator;
    o.panel = new QWidget(statusBar());
    o.panel->setObjectName(QStringLiteral("panelOpening"));
    auto* row = new QHBoxLayout(o.panel);
    row->setContentsMargins(0, 0, 0, 0);
    o.label = new QLabel(o.panel);
    o.label->setObjectName(QStringLiteral("labelOpening"));
    // How much is left is not known (a folder is listed, a page table walked): a busy bar.
    o.bar = new QProgressBar(o.panel);
    o.bar->setObjectName(QStringLiteral("progressOpening"));
    o.bar->setRange(0, 0);
    o.bar->setMaximumWidth(120);
    o.cancel = new QPushButton(tr("Cancel"), o.panel);
    o.cancel->setObjectName(QStringLiteral("buttonCancelOpen"));
    o.cancel->setFocusPolicy(Qt::NoFocus);
    row->addWidget(o.label);
    row->addWidget(o.bar);
    row->addWidget(o.cancel);
    statusBar()->addPermanentWidget(o.panel);
    o.panel->hide();
    connect(o.cancel, &QPushButton::clicked, this, [this] { CancelOpen(); });
    o.timer = new QTimer(this);
    o.timer->setInterval(100);
    connect(o.timer, &QTimer::timeout, this, [this] { ShowOpenProgress(); });

    // Esc already cancels the views being computed; the same key stops an open. A second
    // shortcut on the key would make both ambiguous, so the existing one is joined.
    bool joined = false;
    for (QShortcut* shortcut : findChildren<QShortcut*>()) {
        if (shortcut->key() == QKeySequence(Qt::Key_Escape)) {
            connect(shortcut, &QShortcut::activated, this, [this] { CancelOpen(); });
            joined = true;
        }
    }
    if (!joined) {
        auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
        connect(escape, &QShortcut::activated, this, [this] { CancelOpen(); });
    }

    auto* reload = new QAction(tr("Re&load"), this);
    reload->setObjectName(QStringLiteral("reloadToolStripMenuItem"));
    reload->setEnabled(false);
    fileToolStripMenuItem->insertAction(toolStripMenuItem2, reload);
    connect(reload, &QAction::triggered, this, [this] { ReloadImage(); });
    ApplyShortcuts(*this); // the table names its key
}

void formImageViewer::ShowOpenProgress()
{
    OpenIndicator& o = *openIndicator;
    if (auto* reload = findChild<QAction*>(QStringLiteral("reloadToolStripMenuItem")))
        reload->setEnabled(image != nullptr);
    if (!currentOpen) {
        o.timer->stop();
        o.panel->hide();
        return;
    }
    const size_t done = currentOpen->progress.done.load(std::memory_order_relaxed);
    QString text = tr("Opening %1 \u2026").arg(currentOpen->shown);
    if (done > 0)
        text += tr(" %L1 files or pages read").arg(static_cast<qulonglong>(done));
    o.label->setText(text);
    o.panel->show();
    if (!o.timer->isActive())
        o.timer->start();
}

bool formImageViewer::CancelOpen()
{
    if (!currentOpen)
        return false;
    // The thread stops at its next check and its result, whatever it is, is dropped.
    currentOpen->stop.RequestStop();
    currentOpen.reset();
    ShowOpenProgress();
    statusBar()->showMessage(tr("Open cancelled; the image shown stays."), 4000);
    return true;
}

void formImageViewer::ReloadImage()
{
    if (!image || openedPath.isEmpty())
        return;
    // A server that failed is asked again at once: by the image shown, should the new open
    // fail and it stay, and by the new reader anyway (it starts without failures).
    reader->ForgetFailures();
    const auto keep = std::make_pair(ViewStateFromWindow(), DisplayFromWindow());
    StartOpen(openedPath);
    if (currentOpen)
        currentOpen->keepView = keep;
}

} // namespace ImageViewer
