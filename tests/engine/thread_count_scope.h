#pragma once
// tests/engine/thread_count_scope.h: sets the OpenMP team size of the calling thread for a scope, so
// that a test can run one path on one thread and again on two.

#include <omp.h>

namespace tessaline::testing {

class ThreadCountScope
{
public:
    explicit ThreadCountScope(int threads) : saved(omp_get_max_threads()) { omp_set_num_threads(threads); }
    ~ThreadCountScope() { omp_set_num_threads(saved); }
    ThreadCountScope(const ThreadCountScope&) = delete;
    ThreadCountScope& operator=(const ThreadCountScope&) = delete;

private:
    int saved;
};

} // namespace tessaline::testing
