#pragma once

#include <QString>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <utility>

#include "Progress.h"
#include "StopToken.h"
#include "ViewState.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QWidget;

namespace ImageViewer {

// One open running on the process's pool: what the window and that thread share. The thread
// counts its progress into `progress`, stops when `stop` asks, and says `finished` once its
// result has been posted to the window (or the window was gone).
struct OpenJob
{
    QString path;
    QString shown; // as titles and messages show it (no query)
    // Reload: the view to put back on the new image where it still fits.
    std::optional<std::pair<ViewState, DisplayState>> keepView;
    ImageReader::StopToken stop;
    ImageReader::OpenProgress progress;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::mutex mutex;
    std::condition_variable finishedChanged;
    bool finished = false;
};

// The status bar's part while an open is under way: what is being opened, how far it got,
// and a Cancel button.
struct OpenIndicator
{
    QWidget* panel = nullptr;
    QLabel* label = nullptr;
    QProgressBar* bar = nullptr;
    QPushButton* cancel = nullptr;
    QTimer* timer = nullptr;
};

} // namespace ImageViewer
