#include "cli/interrupt_watch.h"

#include <thread>
#include <utility>

#if !defined(_WIN32)
#include <csignal>
#include <pthread.h>
#endif

namespace tessaline {

void WatchInterrupts(std::function<void(int signal)> onSignal)
{
#if defined(_WIN32)
    // TODO: a console control handler; until then Ctrl+C ends a Windows batch at once.
    (void)onSignal;
#else
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0)
        return;
    std::thread([signals, onSignal = std::move(onSignal)] {
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) == 0)
                onSignal(signal);
        }
    }).detach();
#endif
}

} // namespace tessaline
