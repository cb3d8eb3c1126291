#pragma once
// app/background_task.h: one piece of work at a time on a thread of its own, with a completion
// step run afterwards on the UI thread (through a queued call), so that preparing a large
// picture never holds the window still. UI thread only, but for the work itself.

#include <functional>
#include <thread>

#include <QObject>

namespace tessaline {

class CBackgroundTask : public QObject
{
    Q_OBJECT

public:
    explicit CBackgroundTask(QObject* parent = nullptr) : QObject(parent) {}
    /// Waits for work still running; its completion step is dropped.
    ~CBackgroundTask() override { Wait(); }

    /// Runs `work` on a new thread (it must not throw), then `done` on this object's thread.
    /// False, starting nothing, while other work runs or when no thread can be started.
    bool Start(std::function<void()> work, std::function<void()> done);
    /// Joins the thread of work that has been started (the work's owner calls this before the
    /// data the work reads goes away).
    void Wait();
    bool Busy() const { return busy; }

private:
    std::thread worker;
    bool busy = false;
};

} // namespace tessaline
