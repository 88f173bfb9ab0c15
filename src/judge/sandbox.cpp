#include "judge/sandbox.hpp"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstddef>
#include <ctime>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define JUDGE_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define JUDGE_UNDER_ASAN 1
#endif
#endif

namespace {

bool filter_active = false;

void set_limit(int resource, rlim_t soft, rlim_t hard) {
    rlimit limit{soft, hard};
    setrlimit(resource, &limit);
}

void common_limits() {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    set_limit(RLIMIT_CORE, 0, 0);
    set_limit(RLIMIT_FSIZE, 0, 0);
#ifndef JUDGE_UNDER_ASAN
    set_limit(RLIMIT_AS, PROCESS_MEMORY_BYTES, PROCESS_MEMORY_BYTES);
#endif
}

#if defined(__x86_64__)
#define JUDGE_FILTER_ARCH AUDIT_ARCH_X86_64
#elif defined(__aarch64__)
#define JUDGE_FILTER_ARCH AUDIT_ARCH_AARCH64
#endif

#ifdef JUDGE_FILTER_ARCH
// The system calls a run may make: what malloc, a C++ exception, the
// sanitizers' reports and the end of a process need, and nothing that
// opens, starts, signals or looks at anything else.
const int allowed_calls[] = {
    SYS_brk,      SYS_mmap,        SYS_munmap,     SYS_mremap,       SYS_madvise,
    SYS_mprotect, SYS_exit,        SYS_exit_group, SYS_rt_sigreturn, SYS_rt_sigprocmask,
    SYS_futex,    SYS_sched_yield, SYS_getpid,     SYS_gettid,       SYS_clock_gettime,
};

bool install_filter() {
    constexpr std::size_t allowed = sizeof allowed_calls / sizeof allowed_calls[0];
    // Load the architecture; kill on a foreign one.  Load the call number;
    // on x86-64 the x32 calls (bit 30) are foreign too.  write goes
    // through only to standard error; each allowed call is let through;
    // everything else kills the process (SIGSYS).
    sock_filter program[8 + 2 * allowed + 3];
    std::size_t n = 0;
    auto at = [&](sock_filter f) { program[n++] = f; };
    constexpr std::uint32_t KILL = SECCOMP_RET_KILL_PROCESS;
    at(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
    at(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, JUDGE_FILTER_ARCH, 1, 0));
    at(BPF_STMT(BPF_RET | BPF_K, KILL));
    at(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    at(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000u, 0, 1));
    at(BPF_STMT(BPF_RET | BPF_K, KILL));
    for (int call : allowed_calls) {
        at(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(call), 0, 1));
        at(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    }
    // write(2, ...): the first argument's low word.
    at(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_write, 0, 3));
    at(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])));
    at(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, STDERR_FILENO, 0, 1));
    at(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    at(BPF_STMT(BPF_RET | BPF_K, KILL));
    sock_fprog filter{static_cast<unsigned short>(n), program};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) == 0;
}
#else
bool install_filter() {
    return false;
}
#endif

} // namespace

unsigned run_cpu_seconds(std::uint64_t steps) {
    std::uint64_t seconds = 10 + steps / 5'000'000;
    return seconds > UINT_MAX / 2 ? UINT_MAX / 2 : static_cast<unsigned>(seconds);
}

unsigned run_wall_seconds(std::uint64_t steps) {
    return 2 * run_cpu_seconds(steps);
}

unsigned worker_wall_seconds(std::uint64_t steps, std::size_t cases) {
    std::uint64_t seconds = 2 * std::uint64_t{COMPILE_CPU_SECONDS} + 10 +
                            std::uint64_t{cases} * (run_wall_seconds(steps) + 1);
    return seconds > UINT_MAX / 2 ? UINT_MAX / 2 : static_cast<unsigned>(seconds);
}

bool wait_for(int pid, unsigned seconds, int& status) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::seconds(seconds);
    // A descriptor that becomes readable when the child ends (Linux 5.3);
    // without one, a look every millisecond.
#ifdef SYS_pidfd_open
    long fd = syscall(SYS_pidfd_open, pid, 0);
#else
    long fd = -1;
#endif
    for (;;) {
        pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid) break;
        if (ended < 0 && errno != EINTR) break;
        auto now = Clock::now();
        if (now >= deadline) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            if (fd >= 0) close(static_cast<int>(fd));
            return false;
        }
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        if (fd >= 0) {
            pollfd ready{static_cast<int>(fd), POLLIN, 0};
            poll(&ready, 1, static_cast<int>(std::min<long long>(left, 60'000)));
        } else {
            timespec pause{0, 1'000'000};
            nanosleep(&pause, nullptr);
        }
    }
    if (fd >= 0) close(static_cast<int>(fd));
    return true;
}

void confine_worker() {
    setpgid(0, 0);
    common_limits();
    set_limit(RLIMIT_CPU, COMPILE_CPU_SECONDS, RLIM_INFINITY);
}

void end_compile_limit() {
    set_limit(RLIMIT_CPU, RLIM_INFINITY, RLIM_INFINITY);
}

void confine_run(unsigned cpu_seconds) {
    common_limits();
    // SIGXCPU at the limit, SIGKILL a second later if that is caught.
    set_limit(RLIMIT_CPU, cpu_seconds, cpu_seconds + 1);
    close_range(0, STDERR_FILENO - 1, 0);
    close_range(STDERR_FILENO + 1, ~0u, 0);
    set_limit(RLIMIT_NOFILE, 0, 0);
    set_limit(RLIMIT_NPROC, 0, 0);
    filter_active = install_filter();
}

bool filter_this_thread() {
    return install_filter();
}

bool run_filter_active() {
    return filter_active;
}
