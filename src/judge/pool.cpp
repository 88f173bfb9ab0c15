#include "judge/pool.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "judge/text.hpp"
#include "judge/verdict.hpp"

namespace {

volatile std::sig_atomic_t stop_signal = 0;

extern "C" void on_stop(int signal) {
    stop_signal = signal;
}

// A worker at work.
struct Running {
    pid_t pid;
    int from; // the read end of its pipe
    const Work* work;
    std::string pending;      // bytes of a record not yet whole
    std::vector<bool> judged; // per case of the task
};

using Clock = std::chrono::steady_clock;

class ProgressLine {
  public:
    explicit ProgressLine(const Progress& progress) : progress_(progress) {}
    void count() { ++done_; }
    // Shows the count when it changed, ten times a second at most.
    void refresh() {
        auto now = Clock::now();
        if (!progress_.shown || done_ == shown_ || now - last_ < std::chrono::milliseconds(100))
            return;
        last_ = now;
        shown_ = done_;
        show();
    }
    void clear() const {
        if (progress_.shown) std::fputs("\r\x1b[K", stderr);
    }

  private:
    void show() const {
        std::size_t percent = progress_.total == 0 ? 100 : done_ * 100 / progress_.total;
        std::string text =
            number(done_) + "/" + number(progress_.total) + " (" + number(percent) + "%)";
        std::fprintf(stderr, "\r%s\x1b[K", say(MSG_J_PROGRESS, {text}).c_str());
        std::fflush(stderr);
    }
    const Progress& progress_;
    std::size_t done_ = 0;
    std::size_t shown_ = 0;
    Clock::time_point last_{};
};

void catch_stops() {
    struct sigaction action {};
    action.sa_handler = on_stop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND; // a second Ctrl-C ends the judge at once
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void release_stops() {
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        std::signal(s, SIG_DFL);
}

// Starts a worker for `work`, its records to come through a pipe.
bool start(const Work& work, const std::vector<TestCase>& cases, const Settings& settings,
           std::vector<Running>& running) {
    int pipe_ends[2];
    if (pipe2(pipe_ends, O_CLOEXEC) != 0) return false;
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = fork();
    if (pid < 0) {
        close(pipe_ends[0]);
        close(pipe_ends[1]);
        return false;
    }
    if (pid == 0) {
        // The worker: default signals, nothing open but its pipe, standard
        // error, and /dev/null for standard input and output.
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
            std::signal(s, SIG_DFL);
        int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
        }
        if (dup2(pipe_ends[1], 3) != 3) _exit(5);
        close_range(4, ~0u, 0);
        run_worker(work.task, cases, settings, 3);
    }
    setpgid(pid, pid); // as the worker does itself: Ctrl-C reaches the judge alone
    close(pipe_ends[1]);
    running.push_back(
        Running{pid, pipe_ends[0], &work, {}, std::vector<bool>(work.task.cases.size())});
    return true;
}

// Takes every whole record the worker has sent.
void take_records(Running& worker, Judgement& judgement, ProgressLine& progress) {
    for (;;) {
        std::uint32_t index = 0;
        Outcome outcome;
        bool broken = false;
        if (!take_record(worker.pending, index, outcome, broken)) {
            if (broken) worker.pending.clear();
            return;
        }
        const std::vector<std::size_t>& task_cases = worker.work->task.cases;
        for (std::size_t i = 0; i < task_cases.size(); ++i) {
            if (task_cases[i] != index || worker.judged[i]) continue;
            worker.judged[i] = true;
            judgement.at(worker.work->submission, index) = std::move(outcome);
            progress.count();
            break;
        }
    }
}

// After the worker's end: the cases it left unjudged get the outcome of
// its end (a compile that failed, or a worker that died).
void finish(Running& worker, int status, Judgement& judgement, ProgressLine& progress) {
    int signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    bool compiled = false;
    for (bool judged : worker.judged)
        compiled = compiled || judged;
    for (std::size_t i = 0; i < worker.judged.size(); ++i) {
        if (worker.judged[i]) continue;
        Outcome outcome;
        if (compiled) {
            outcome.verdict = Verdict::RE;
            outcome.message = say(MSG_J_RUN_CRASHED, {number(static_cast<unsigned>(signal))});
        } else {
            outcome = compile_crash_outcome(signal, signal == SIGXCPU);
        }
        judgement.at(worker.work->submission, worker.work->task.cases[i]) = std::move(outcome);
        progress.count();
    }
}

void stop_all(std::vector<Running>& running) {
    for (Running& worker : running)
        kill(-worker.pid, SIGKILL);
    for (Running& worker : running) {
        kill(worker.pid, SIGKILL);
        while (waitpid(worker.pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        close(worker.from);
    }
    running.clear();
}

} // namespace

int interrupting_signal() {
    return stop_signal;
}

PoolEnd do_work(const std::vector<Work>& work, const std::vector<TestCase>& cases,
                const Settings& settings, Judgement& judgement, const Progress& progress) {
    catch_stops();
    ProgressLine line(progress);
    std::vector<Running> running;
    std::size_t next = 0;
    PoolEnd end = PoolEnd::done;
    while (next < work.size() || !running.empty()) {
        if (stop_signal != 0) {
            end = PoolEnd::interrupted;
            break;
        }
        while (running.size() < settings.jobs && next < work.size()) {
            if (!start(work[next], cases, settings, running)) break;
            ++next;
        }
        if (running.empty()) {
            end = PoolEnd::failed;
            break;
        }
        line.refresh();
        std::vector<pollfd> fds;
        for (const Running& worker : running)
            fds.push_back(pollfd{worker.from, POLLIN, 0});
        int ready = poll(fds.data(), fds.size(), 100);
        if (ready < 0 && errno != EINTR) {
            end = PoolEnd::failed;
            break;
        }
        for (std::size_t i = running.size(); i-- > 0;) {
            if (fds[i].revents == 0) continue;
            Running& worker = running[i];
            char buffer[65536];
            ssize_t n = read(worker.from, buffer, sizeof buffer);
            if (n > 0) {
                worker.pending.append(buffer, static_cast<std::size_t>(n));
                take_records(worker, judgement, line);
                continue;
            }
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            // The end of the pipe: the worker is done, or dead.
            int status = 0;
            while (waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
            }
            kill(-worker.pid, SIGKILL); // a run it may have left behind
            close(worker.from);
            finish(worker, status, judgement, line);
            running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    stop_all(running);
    line.clear();
    release_stops();
    return end;
}
