#include "app/background_task.h"

#include <new>
#include <system_error>

namespace tessaline {

bool CBackgroundTask::Start(std::function<void()> work, std::function<void()> done)
{
    if (busy)
        return false;
    Wait(); // finished: its completion has run
    try {
        worker = std::thread([this, work = std::move(work), done = std::move(done)]() mutable {
            work();
            QMetaObject::invokeMethod(
                this,
                [this, done = std::move(done)] {
                    Wait(); // its last step was this call: the join is immediate
                    busy = false;
                    done();
                },
                Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    busy = true;
    return true;
}

void CBackgroundTask::Wait()
{
    if (worker.joinable())
        worker.join();
}

} // namespace tessaline
