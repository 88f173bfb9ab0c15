#include "judge/worker.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "driver/large_stack.hpp"
#include "driver/user_file.hpp"
#include "judge/sandbox.hpp"
#include "judge/text.hpp"
#include "judge/verdict.hpp"

namespace {

// The memory a worker shares with each of its run processes: the run's
// result, then its output.
struct RunSlot {
    bool finished;
    bool over_limit;
    RunEnd end;
    std::int32_t pc;
    std::int32_t call_pc; // a stack overflow's call, and how deep the calls went
    std::int32_t call_depth;
    std::int32_t recursion_depth;
    std::uint64_t steps;
    std::uint32_t message_size;
    char message[1024];
    std::uint64_t output_size;
    char output[1]; // output_limit bytes, as allocated
};

struct SlotWriter {
    RunSlot* slot;
    std::uint64_t limit;
};

// Takes what fits under the limit; the first byte past it ends the run.
bool write_to_slot(void* context, const char* bytes, std::size_t n) {
    auto* to = static_cast<SlotWriter*>(context);
    RunSlot* slot = to->slot;
    std::uint64_t room = to->limit - slot->output_size;
    std::size_t taken = n < room ? n : static_cast<std::size_t>(room);
    std::memcpy(slot->output + slot->output_size, bytes, taken);
    slot->output_size += taken;
    if (taken == n) return true;
    slot->over_limit = true;
    return false;
}

// The options of every run of a submission, without its input and output.
RunOptions run_options(const Settings& settings) {
    RunOptions options;
    options.encoding = settings.encoding;
    options.output_by_line = true; // an error's place is the write that went too far
    // Unless the interpreter is asked for, the native tier where it is
    // built, counting the budget exactly as the interpreter does.
    options.budget = settings.steps;
    options.engine = settings.engine;
    return options;
}

// In the run process: one run of the compiled program on `input`.
[[noreturn]] void run_case(RunSlot* slot, const std::string& input, const Settings& settings) {
    confine_run(run_cpu_seconds(settings.steps));
    SlotWriter writer{slot, settings.output_limit};
    std::string_view rest = input;
    RunOptions options = run_options(settings);
    options.input = view_reader(rest);
    options.output = Writer{write_to_slot, &writer};
    RunResult result = run_program(options);
    slot->end = result.end;
    slot->pc = result.pc;
    slot->call_pc = result.call_pc;
    slot->call_depth = result.call_depth;
    slot->recursion_depth = result.recursion_depth;
    slot->steps = result.steps;
    std::size_t size = std::min(result.message.size(), sizeof slot->message);
    std::memcpy(slot->message, result.message.data(), size);
    slot->message_size = static_cast<std::uint32_t>(size);
    slot->finished = true;
    _exit(0);
}

void send_all(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + sent, bytes.size() - sent);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) _exit(3); // the judge is gone
        sent += static_cast<std::size_t>(n);
    }
}

void send(int fd, std::size_t case_index, const Outcome& outcome) {
    std::string record;
    append_record(record, static_cast<std::uint32_t>(case_index), outcome);
    send_all(fd, record);
}

// Runs one case in a process of its own and judges it.
Outcome judge_case(RunSlot* slot, const TestCase& test, const Settings& settings,
                   const std::vector<SourcePos>& code_pos) {
    std::memset(slot, 0, offsetof(RunSlot, output));
    unsigned cpu_seconds = run_cpu_seconds(settings.steps);
    pid_t pid = fork();
    if (pid == 0) run_case(slot, test.input, settings);
    RunReport ending;
    ending.cpu_seconds = cpu_seconds;
    ending.wall_seconds = run_wall_seconds(settings.steps);
    int status = 0;
    bool in_time = pid > 0 && wait_for(pid, ending.wall_seconds, status);
    ending.wall_limit = pid > 0 && !in_time;
    ending.finished = in_time && WIFEXITED(status) && WEXITSTATUS(status) == 0 && slot->finished;
    if (!ending.finished) {
        ending.signal = in_time && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        ending.cpu_limit = ending.signal == SIGXCPU;
    }
    // The slot's bytes are the run's: trusted only within their bounds.
    ending.run.end = slot->end;
    ending.run.pc = slot->pc;
    ending.run.call_pc = slot->call_pc;
    ending.run.call_depth = slot->call_depth;
    ending.run.recursion_depth = slot->recursion_depth;
    ending.run.steps = slot->steps;
    ending.run.message.assign(slot->message,
                              std::min<std::size_t>(slot->message_size, sizeof slot->message));
    ending.over_limit = slot->over_limit;
    std::uint64_t size = std::min<std::uint64_t>(slot->output_size, settings.output_limit);
    ending.output = std::string_view(slot->output, static_cast<std::size_t>(size));
    return judge_run(ending, test, settings, code_pos);
}

void put(std::string& out, const void* bytes, std::size_t n) {
    out.append(static_cast<const char*>(bytes), n);
}

template <class T> bool get(const std::string& in, std::size_t& at, T& value) {
    if (in.size() - at < sizeof value) return false;
    std::memcpy(&value, in.data() + at, sizeof value);
    at += sizeof value;
    return true;
}

void put_text(std::string& out, const std::string& text) {
    auto size = static_cast<std::uint32_t>(text.size());
    put(out, &size, sizeof size);
    out += text;
}

bool get_text(const std::string& in, std::size_t& at, std::string& text) {
    std::uint32_t size = 0;
    if (!get(in, at, size) || in.size() - at < size) return false;
    text.assign(in, at, size);
    at += size;
    return true;
}

// A compile on a thread of its own, under the runs' system-call filter.
struct CompileJob {
    const std::string* source;
    CompileOptions options;
    Compiled result;
};

void* compile_job(void* arg) {
    auto* job = static_cast<CompileJob*>(arg);
    if (!filter_this_thread()) job->options.stack_bytes = 0; // no filter here: stay as before
    job->result = compile_text(*job->source, job->options);
    return nullptr;
}

// Compiles the source as tsumiki does, nesting as deep as its large stack
// allows, on a thread with that stack whose system calls the filter
// bounds.  Where no such thread can be started, the compile runs on the
// worker's own thread with the large stack of the library (unfiltered).
Compiled compile_filtered(const std::string& source, Encoding encoding) {
    CompileJob job{&source, {}, {}};
    job.options.encoding = encoding;
    job.options.positions = true;
    for (std::size_t stack : {COMPILE_STACK_BYTES, COMPILE_STACK_BYTES / 8}) {
        pthread_attr_t attr;
        if (pthread_attr_init(&attr) != 0) break;
        pthread_t thread;
        // Below the stack's top: room for the thread's own start.
        job.options.stack_bytes = stack - (std::size_t{1} << 20);
        bool started = pthread_attr_setstacksize(&attr, stack) == 0 &&
                       pthread_create(&thread, &attr, compile_job, &job) == 0;
        pthread_attr_destroy(&attr);
        if (!started) continue;
        pthread_join(thread, nullptr);
        return std::move(job.result);
    }
    job.options.stack_bytes = 0;
    job.options.large_stack = true;
    return compile_text(source, job.options);
}

// The index that marks a source record.
constexpr std::uint32_t SOURCE_INDEX = 0xFFFFFFFF;

} // namespace

std::string folder_of(const std::string& submission) {
    std::string parent = std::filesystem::path(submission).parent_path().string();
    return parent.empty() ? "." : parent;
}

void append_record(std::string& out, std::uint32_t case_index, const Outcome& outcome) {
    std::string body;
    auto verdict = static_cast<std::uint8_t>(outcome.verdict);
    put(body, &case_index, sizeof case_index);
    put(body, &verdict, sizeof verdict);
    put(body, &outcome.steps, sizeof outcome.steps);
    put(body, &outcome.output_bytes, sizeof outcome.output_bytes);
    put(body, &outcome.line, sizeof outcome.line);
    put(body, &outcome.column, sizeof outcome.column);
    put_text(body, outcome.message);
    put_text(body, outcome.output);
    auto size = static_cast<std::uint32_t>(body.size());
    put(out, &size, sizeof size);
    out += body;
}

void append_source_record(std::string& out, const SourceShown& source) {
    std::string body;
    std::uint32_t index = SOURCE_INDEX;
    std::uint8_t flags = (source.read ? 1 : 0) | (source.utf8 ? 2 : 0);
    put(body, &index, sizeof index);
    put(body, &flags, sizeof flags);
    put(body, &source.size, sizeof source.size);
    put_text(body, source.head);
    auto size = static_cast<std::uint32_t>(body.size());
    put(out, &size, sizeof size);
    out += body;
}

bool take_record(std::string& in, Record& record, bool& broken) {
    std::size_t at = 0;
    std::uint32_t size = 0;
    broken = false;
    if (!get(in, at, size)) return false;
    if (size > MAX_RECORD_BYTES) {
        broken = true;
        return false;
    }
    if (in.size() - at < size) return false;
    std::string body = in.substr(at, size);
    in.erase(0, at + size);
    std::size_t b = 0;
    if (!get(body, b, record.case_index)) {
        broken = true;
        return false;
    }
    record.is_source = record.case_index == SOURCE_INDEX;
    if (record.is_source) {
        std::uint8_t flags = 0;
        broken = !(get(body, b, flags) && flags < 4 && get(body, b, record.source.size) &&
                   get_text(body, b, record.source.head) && b == body.size() &&
                   record.source.head.size() <= SHOWN_SOURCE_BYTES);
        record.source.read = (flags & 1) != 0;
        record.source.utf8 = (flags & 2) != 0;
        return !broken;
    }
    std::uint8_t verdict = 0;
    Outcome& outcome = record.outcome;
    broken = !(get(body, b, verdict) && verdict < VERDICT_COUNT && get(body, b, outcome.steps) &&
               get(body, b, outcome.output_bytes) && get(body, b, outcome.line) &&
               get(body, b, outcome.column) && get_text(body, b, outcome.message) &&
               get_text(body, b, outcome.output) && b == body.size());
    outcome.verdict = static_cast<Verdict>(verdict);
    return !broken;
}

void run_worker(const WorkerTask& task, const std::vector<TestCase>& cases,
                const Settings& settings, int to_judge) {
    confine_worker();
    // The submission is read once, here: a regular file of bounded size,
    // inside its folder.  The page shows what was read.
    std::string source;
    FileRefusal refusal = read_user_file(task.path, SUBMISSION_BYTES, source, task.folder);
    if (settings.keep_output) {
        SourceShown shown;
        shown.read = refusal == FileRefusal::none;
        shown.size = source.size();
        shown.utf8 = is_utf8(source);
        shown.head = source.substr(0, SHOWN_SOURCE_BYTES);
        std::string record;
        append_source_record(record, shown);
        send_all(to_judge, record);
    }
    if (task.cases.empty()) _exit(0); // the source was all it was for
    if (refusal != FileRefusal::none) {
        Outcome outcome = refused_outcome(refusal, SUBMISSION_BYTES);
        for (std::size_t c : task.cases)
            send(to_judge, c, outcome);
        _exit(0);
    }
    Compiled compiled = compile_filtered(source, settings.encoding);
    end_compile_limit();
    if (compiled.error != ErrorKind::none) {
        Outcome outcome = compile_error_outcome(compiled, source, settings.encoding);
        for (std::size_t c : task.cases)
            send(to_judge, c, outcome);
        _exit(0);
    }
    std::size_t bytes = offsetof(RunSlot, output) + settings.output_limit + 1;
    void* shared = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) _exit(4);
    auto* slot = static_cast<RunSlot*>(shared);
    // The native tier's machine code, made once here rather than in every
    // run: read-only and executable, each run process has it as it has the
    // code store.
    prepare_runs(run_options(settings));
    for (std::size_t c : task.cases)
        send(to_judge, c, judge_case(slot, cases[c], settings, compiled.code_pos));
    _exit(0);
}
