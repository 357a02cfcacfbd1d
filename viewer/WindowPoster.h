#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QObject>
#include <functional>
#include <utility>

#include "Poster.h"

namespace ImageViewer {

// Results of the model's worker reach the window's thread through its event loop; draining
// delivers what was posted to the window so far (tests and scripted use wait with it).
class WindowPoster : public Poster
{
public:
    explicit WindowPoster(QObject* target) : m_target(target) {}
    void Post(std::function<void()> task) override
    {
        QMetaObject::invokeMethod(m_target, std::move(task), Qt::QueuedConnection);
    }
    void Drain() override { QCoreApplication::sendPostedEvents(m_target, QEvent::MetaCall); }

private:
    QObject* m_target;
};

} // namespace ImageViewer
