#include "driver/large_stack.hpp"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <pthread.h>
#include <sys/resource.h>
#if defined(__EMSCRIPTEN__)
#include <emscripten/stack.h>
#endif

#include "parser/blocks.hpp"

namespace {

// Room left below the parser's last depth check for the calls it makes
// before the next one and for printing an error.
constexpr std::uintptr_t STACK_RESERVE = 1u << 20;

// The stack assumed where the system tells nothing about it.
constexpr std::size_t UNKNOWN_STACK_BYTES = std::size_t{256} << 10;

struct Job {
    void (*fn)();
    std::size_t stack_bytes;
    std::exception_ptr error;
};

// Lets the parser use `bytes` of stack below `top`, keeping a reserve; a
// stack too small for the whole reserve keeps half of itself in hand.
void set_limit(std::uintptr_t top, std::size_t bytes) {
    std::uintptr_t reserve = std::min<std::uintptr_t>(STACK_RESERVE, bytes / 2);
    parser_stack_limit = top - (bytes - reserve);
}

void run_job(Job& job) {
    set_limit(reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)), job.stack_bytes);
    try {
        job.fn();
    } catch (...) {
        job.error = std::current_exception();
    }
    parser_stack_limit = 0;
}

void* thread_main(void* arg) {
    run_job(*static_cast<Job*>(arg));
    return nullptr;
}

// The stack of the calling thread, when no thread can be started.
std::size_t own_stack_bytes() {
    rlimit limit{};
    constexpr std::size_t assumed = std::size_t{8} << 20;
    if (getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return assumed;
    return static_cast<std::size_t>(limit.rlim_cur);
}

// Starts fn on a thread with a stack of the given size; false if the system
// would not give one that large.
bool start_thread(Job& job, pthread_t& thread) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    bool started = pthread_attr_setstacksize(&attr, job.stack_bytes) == 0 &&
                   pthread_create(&thread, &attr, thread_main, &job) == 0;
    pthread_attr_destroy(&attr);
    return started;
}

// The stack the calling thread has left below `here`, or 0 when unknown.
std::size_t stack_left(std::uintptr_t here) {
#if defined(__EMSCRIPTEN__)
    std::uintptr_t end = emscripten_stack_get_end();
    return here > end ? here - end : 0;
#elif defined(__linux__)
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
    void* low = nullptr;
    std::size_t size = 0;
    int got = pthread_attr_getstack(&attr, &low, &size);
    pthread_attr_destroy(&attr);
    auto bottom = reinterpret_cast<std::uintptr_t>(low);
    return got == 0 && here > bottom ? here - bottom : 0;
#else
    (void)here;
    return 0;
#endif
}

} // namespace

std::size_t limit_nesting_here(std::size_t stack_bytes) {
    auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    std::size_t bytes = stack_bytes != 0 ? stack_bytes : stack_left(here);
    // Nothing known: a small stack's worth, which nests a few thousand deep.
    if (bytes == 0) bytes = UNKNOWN_STACK_BYTES;
    set_limit(here, bytes);
    return bytes;
}

void run_on_large_stack(void (*fn)()) {
    Job job{fn, COMPILE_STACK_BYTES, nullptr};
    pthread_t thread;
    // A machine short of memory may refuse the full size: each smaller
    // stack still nests far deeper than the shell's default one.
    bool started = start_thread(job, thread);
    while (!started && job.stack_bytes / 4 >= COMPILE_STACK_MIN_BYTES) {
        job.stack_bytes /= 4;
        started = start_thread(job, thread);
    }
    if (started) {
        pthread_join(thread, nullptr);
    } else {
        job.stack_bytes = own_stack_bytes();
        run_job(job);
    }
    if (job.error) std::rethrow_exception(job.error);
}
