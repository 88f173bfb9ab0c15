// What a run process may still do once confined: a forked child is
// confined, tries one thing, and its end tells whether it could.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "judge/sandbox.hpp"

namespace {

// Runs `attempt` in a confined child; its exit status, or 1000 + the signal.
template <class F> int confined(F attempt) {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        confine_run(5);
        if (!run_filter_active()) _exit(77);
        _exit(attempt());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? 1000 + WTERMSIG(status) : WEXITSTATUS(status);
}

} // namespace

TEST(Sandbox, ARunCanAllocateThrowAndSayWhatWentWrong) {
    int status = confined([] {
        std::string big(5'000'000, 'x');
        try {
            throw std::runtime_error(big.substr(0, 10));
        } catch (const std::runtime_error& e) {
            if (std::string(e.what()) != "xxxxxxxxxx") return 2;
        }
        return write(STDERR_FILENO, "", 0) == 0 ? 0 : 3;
    });
    if (status == 77) GTEST_SKIP() << "no seccomp on this kernel";
    EXPECT_EQ(status, 0);
}

TEST(Sandbox, ARunCannotOpenStartSignalOrWriteElsewhere) {
    if (confined([] { return 0; }) == 77) GTEST_SKIP() << "no seccomp on this kernel";
    EXPECT_EQ(confined([] { return open("/etc/hostname", O_RDONLY) >= 0 ? 0 : 1; }), 1000 + SIGSYS);
    EXPECT_EQ(confined([] { return fork() >= 0 ? 0 : 1; }), 1000 + SIGSYS);
    EXPECT_EQ(confined([] { return kill(getppid(), 0) == 0 ? 0 : 1; }), 1000 + SIGSYS);
    EXPECT_EQ(confined([] { return write(STDOUT_FILENO, "x", 1) >= 0 ? 0 : 1; }), 1000 + SIGSYS);
    EXPECT_EQ(confined([] { return read(STDIN_FILENO, nullptr, 0) >= 0 ? 0 : 1; }), 1000 + SIGSYS);
}

TEST(Sandbox, ProcessorTimeIsBounded) {
    EXPECT_EQ(run_cpu_seconds(0), 10u);
    EXPECT_EQ(run_cpu_seconds(100'000'000), 30u);
    // A child that spins past its limit is stopped by SIGXCPU.
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        confine_run(1);
        volatile unsigned long spins = 0;
        for (;;)
            spins = spins + 1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGXCPU);
}

// A child that waits for nothing is killed at its wall-clock deadline; one
// that ends is waited for and its status given.
TEST(WallClock, AWaitingChildIsKilledAtItsDeadline) {
    std::fflush(nullptr);
    pid_t waiting = fork();
    if (waiting == 0) {
        pause();
        _exit(0);
    }
    int status = 0;
    EXPECT_FALSE(wait_for(waiting, 1, status));
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    pid_t ending = fork();
    if (ending == 0) _exit(7);
    ASSERT_TRUE(wait_for(ending, 60, status));
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
}

namespace {

void* open_filtered(void*) {
    if (!filter_this_thread()) _exit(77);
    int fd = open("/dev/null", O_RDONLY);
    _exit(fd >= 0 ? 0 : 1);
}

} // namespace

// The thread a worker compiles on is under the runs' filter: opening a file
// there ends the worker.
TEST(Sandbox, TheCompileThreadIsFilteredToo) {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        pthread_t thread;
        if (pthread_create(&thread, nullptr, open_filtered, nullptr) != 0) _exit(2);
        pthread_join(thread, nullptr);
        _exit(3);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no seccomp here";
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGSYS);
}
