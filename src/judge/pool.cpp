#include "judge/pool.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "judge/sandbox.hpp"
#include "judge/text.hpp"
#include "judge/verdict.hpp"

namespace {

volatile std::sig_atomic_t stop_signal = 0;

// The reports' temporary files, removed when a second signal ends the
// judge at once (unlink may be called from a handler).
const char* temporaries[3] = {};
volatile std::sig_atomic_t temporary_count = 0;

extern "C" void on_stop(int signal) {
    if (stop_signal == 0) {
        stop_signal = signal;
        return;
    }
    // A second one ends the judge at once (it is delivered again when this
    // handler returns), leaving the reports as they were before.
    for (int i = 0; i < temporary_count; ++i)
        unlink(temporaries[i]);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);
}

constexpr int stops[] = {SIGINT, SIGTERM, SIGHUP};

void mask_stops(int how) {
    sigset_t set;
    sigemptyset(&set);
    for (int s : stops)
        sigaddset(&set, s);
    sigprocmask(how, &set, nullptr);
}

using Clock = std::chrono::steady_clock;

// A worker at work.
struct Running {
    pid_t pid;
    int from; // the read end of its pipe
    const Work* work;
    std::string pending;        // bytes of a record not yet whole
    std::vector<bool> judged;   // per case of the task
    unsigned wall_seconds;      // it may take
    Clock::time_point deadline; // its start and wall_seconds
    bool late = false;          // killed at its deadline
};

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
    auto seconds = worker_wall_seconds(settings.steps, work.task.cases.size());
    running.push_back(Running{pid,
                              pipe_ends[0],
                              &work,
                              {},
                              std::vector<bool>(work.task.cases.size()),
                              seconds,
                              Clock::now() + std::chrono::seconds(seconds)});
    return true;
}

// Takes every whole record the worker has sent.  A worker that sends
// what cannot be a record is stopped: its cases are judged by its end.
void take_records(Running& worker, Judgement& judgement, ProgressLine& progress) {
    for (;;) {
        Record record;
        bool broken = false;
        if (!take_record(worker.pending, record, broken)) {
            if (broken) {
                worker.pending.clear();
                kill(-worker.pid, SIGKILL);
                kill(worker.pid, SIGKILL);
            }
            return;
        }
        std::size_t submission = worker.work->submission;
        if (record.is_source) {
            if (submission < judgement.sources.size())
                judgement.sources[submission] = std::move(record.source);
            continue;
        }
        const std::vector<std::size_t>& task_cases = worker.work->task.cases;
        for (std::size_t i = 0; i < task_cases.size(); ++i) {
            if (task_cases[i] != record.case_index || worker.judged[i]) continue;
            worker.judged[i] = true;
            judgement.set(submission, record.case_index, std::move(record.outcome));
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
        if (worker.late) {
            outcome = deadline_outcome(compiled, worker.wall_seconds);
        } else if (compiled) {
            outcome.verdict = Verdict::RE;
            outcome.message = say(MSG_J_RUN_CRASHED, {number(static_cast<unsigned>(signal))});
        } else {
            outcome = compile_crash_outcome(signal, signal == SIGXCPU);
        }
        judgement.set(worker.work->submission, worker.work->task.cases[i], std::move(outcome));
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

void catch_stops() {
    struct sigaction action {};
    action.sa_handler = on_stop;
    sigemptyset(&action.sa_mask);
    for (int s : stops)
        sigaction(s, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void remove_on_stop(const char* path) {
    if (temporary_count < static_cast<int>(std::size(temporaries))) {
        temporaries[temporary_count] = path;
        temporary_count = temporary_count + 1;
    }
}

void hold_stops() {
    mask_stops(SIG_BLOCK);
}

void release_stops() {
    temporary_count = 0;
    for (int s : stops)
        std::signal(s, SIG_DFL);
    mask_stops(SIG_UNBLOCK);
}

PoolEnd do_work(const std::vector<Work>& work, const std::vector<TestCase>& cases,
                const Settings& settings, Judgement& judgement, const Progress& progress) {
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
        auto now = Clock::now();
        for (Running& worker : running) {
            if (worker.late || now < worker.deadline) continue;
            worker.late = true; // its pipe ends now
            kill(-worker.pid, SIGKILL);
            kill(worker.pid, SIGKILL);
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
    return end;
}
