#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <mutex>

namespace bw::host::site {

// What a window shares with the job it started (Qt Concurrent): the cancel flag and, while
// the window lives, the way back to it. A window that goes leaves the relay; the job then
// finishes on its own, reporting nowhere, and nobody waits for it.
class JobRelay {
public:
    explicit JobRelay(QObject* window) : window_(window) {}
    std::atomic_bool cancel{false};

    // Runs call on the window's thread, unless the window has gone (a queued call to a deleted
    // object is dropped): call may use the window.
    void post(std::function<void()> call) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (window_)
            QMetaObject::invokeMethod(window_.data(), std::move(call), Qt::QueuedConnection);
    }
    // From the window's destructor: cancels the job and cuts the way back.
    void leave() {
        cancel = true;
        const std::lock_guard<std::mutex> lock(mutex_);
        window_ = nullptr;
    }

private:
    std::mutex mutex_;
    QPointer<QObject> window_;
};

} // namespace bw::host::site
