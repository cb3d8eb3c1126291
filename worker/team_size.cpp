#include "worker/team_size.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <pthread.h>

#include "engine/parallel.h"

namespace tessaline {

namespace {

/// The stack size the OpenMP runtime reads from its environment ("512K", "8M", a plain number in
/// KiB); 0 when unset or unreadable, meaning the system's default.
std::size_t RuntimeStackBytes()
{
    for (const char* name : {"OMP_STACKSIZE", "GOMP_STACKSIZE"}) {
        const char* text = std::getenv(name);
        if (text == nullptr)
            continue;
        char* end = nullptr;
        const unsigned long long value = std::strtoull(text, &end, 10);
        if (end == text)
            continue;
        while (std::isspace(static_cast<unsigned char>(*end)))
            ++end;
        std::uint64_t unit = 1024;
        switch (std::toupper(static_cast<unsigned char>(*end))) {
        case 'B':
            unit = 1;
            break;
        case 'M':
            unit = std::uint64_t{1} << 20;
            break;
        case 'G':
            unit = std::uint64_t{1} << 30;
            break;
        default:
            break;
        }
        if (value > 0 && value <= (std::uint64_t{1} << 40) / unit)
            return static_cast<std::size_t>(value * unit);
    }
    return 0;
}

void* Idle(void*)
{
    return nullptr;
}

} // namespace

int StartableTeamSize(int wanted)
{
    if (wanted <= 1)
        return 1;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return 1;
    if (const std::size_t stack = RuntimeStackBytes(); stack > 0)
        pthread_attr_setstacksize(&attributes, stack);
    std::vector<pthread_t> started;
    started.reserve(static_cast<std::size_t>(wanted - 1));
    for (int i = 1; i < wanted; ++i) {
        pthread_t thread;
        if (pthread_create(&thread, &attributes, Idle, nullptr) != 0)
            break;
        started.push_back(thread);
    }
    for (const pthread_t thread : started)
        pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    return static_cast<int>(started.size()) + 1;
}

void LimitTeamToStartableThreads()
{
    // One worker at a time, so two never count the same room; and the team is started right after
    // the count, before this reduction allocates anything, so its later loops reuse those threads
    // instead of starting new ones when the maps have taken the room.
    static std::mutex oneAtATime;
    const std::lock_guard<std::mutex> hold(oneAtATime);
    const int wanted = MaxThreads();
    const int startable = StartableTeamSize(wanted);
    if (startable < wanted)
        SetMaxThreads(startable);
    if (startable > 1)
        StartTeam(startable);
}

} // namespace tessaline
