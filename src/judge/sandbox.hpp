// What a submission may do to the machine it is judged on: the limits of
// the processes that compile and run it.
//
// Every submission is compiled in a worker process of its own (on a thread
// under the runs' system-call filter), and every run of it in a run
// process forked from that worker, so that nothing a
// program does can reach another run or the judge.  Both kinds of process
// die with their parent, leave no core file, may not grow a file, and have
// a bounded address space (not under AddressSanitizer, which maps more
// than any bound) and bounded processor time, the back stop behind the
// instruction budget.  A run process also gives up every file descriptor
// but standard error, and a seccomp filter lets it make no system call but
// those the machine needs: memory, writing to standard error, ending.
#pragma once

#include <cstddef>
#include <cstdint>

// The address space of a worker and of its runs: room for the compiler's
// 2 GiB stack and the tables beside it.
inline constexpr std::uint64_t PROCESS_MEMORY_BYTES = std::uint64_t{4} << 30;

// Processor time a compile may take (a ten-megabyte file of nesting takes
// some seconds).
inline constexpr unsigned COMPILE_CPU_SECONDS = 60;

// Processor time a run may take: far more than its instruction budget can
// use on any machine, so that only a fault of the judge itself meets it.
unsigned run_cpu_seconds(std::uint64_t steps);

// The wall-clock seconds a run may take before its worker kills it: twice
// its processor time, so that only a run that waits (never one that
// computes, on however loaded a machine) meets it.
unsigned run_wall_seconds(std::uint64_t steps);

// The wall-clock seconds a worker may take for a compile and `cases` runs
// before the judge kills it, the back stop behind the runs' own deadlines.
unsigned worker_wall_seconds(std::uint64_t steps, std::size_t cases);

// Waits for the child `pid` to end, at most `seconds`; false when it did
// not, and then it is killed and reaped.  `status` as waitpid gives it.
bool wait_for(int pid, unsigned seconds, int& status);

// In a new worker process: its own process group, the limits, and a soft
// processor-time limit for the compile.
void confine_worker();

// In the worker, once the compile is over: no soft limit on processor time
// any more (its own work is bounded by its cases).
void end_compile_limit();

// In a new run process, just before it runs: the run's processor time,
// no descriptors but standard error, and the system-call filter (where the
// kernel has one: elsewhere the rest still holds).
void confine_run(unsigned cpu_seconds);

// On a thread of the worker that compiles, before the compile: the same
// system-call filter as a run's, for this thread alone (the worker's own
// thread goes on to start the runs).  False where the kernel has none.
bool filter_this_thread();

// Whether the filter was put in place in this process.
bool run_filter_active();
