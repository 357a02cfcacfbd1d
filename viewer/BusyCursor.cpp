#include "BusyCursor.h"

#include <QCursor>
#include <QGuiApplication>

namespace ImageViewer {

namespace {
int depth = 0;
}

BusyCursor::BusyCursor()
{
    if (depth++ == 0)
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

BusyCursor::~BusyCursor()
{
    if (--depth == 0)
        QGuiApplication::restoreOverrideCursor();
}

} // namespace ImageViewer
