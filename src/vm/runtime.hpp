// The run-time services both engines share: the output and input buffers
// of a run, the numbers PUT writes and GET reads, and the run trace.
//
// Output: PUT and the prompt of GET collect their bytes in a buffer, which
// goes to the run's writer before anything else is written (an error, a
// trace line), before a read that may wait for a person at a terminal, and
// at the end of the run.  Writing to a terminal, every line goes out as
// PUT writes it.  A writer that refuses bytes ends the run with
// "出力を書き込めませんでした" (FatalKind::output_failed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string_view>
#include <vector>

#include "diag/stream.hpp"
#include "vm/code.hpp"
#include "vm/run.hpp"

// Starts a run's input and output; `by_line` delivers every line at once.
void begin_io(Writer out, Reader in, bool by_line);

// Ends them: what the output buffer still holds is dropped, and the
// writer and reader are forgotten (the caller's may not outlive the run).
void end_io();

// Tells `echo` the number each read_number of the run begun last takes
// (begin_io forgets it).
void echo_reads(ReadEcho echo);

// Appends bytes to the output buffer.
void put_bytes(const char* bytes, std::size_t n);

// Appends "%d\n" for v.
void write_number(std::int32_t v);

// Appends GET's prompt, in the encoding of the run's messages.
void put_prompt();

// Delivers the output buffer to the writer.
void flush_output();

// "%d" input: blanks and line breaks, an optional sign, digits, taken
// modulo 2^32.  False when no number could be read (the end of the input,
// or a character that can't start one, or a sign without a digit after it);
// the cell is then left as it was.
bool read_number(std::int32_t& cell);

// The numbers that the reads of a run given `input` take, in order, as
// read_number reads them: up to the first read that would find none, and
// at most `most` of them.
std::vector<std::int32_t> numbers_in(std::string_view input, std::size_t most);

// --- Speculation and replay ---
//
// Every call of write_number, put_prompt and read_number is one event of
// the run, counted from its start.  While the optimising tier runs, the
// numbers read are also kept.  When its speculation fails, the exact
// tiers run again from the checkpoint it started at and make the same
// events again: those already made are replayed, not made, so that no
// byte is written twice and every number comes back as it was read; the
// event during which a writer or a reader ended the run ends it again
// there, with the same exception.

// Where the services stand: the events made and the numbers kept.
struct IoMark {
    std::uint64_t events;
    std::size_t reads;
};
IoMark io_mark();

// Keeps the numbers read from now on (until end_io_log), from `from`.
void keep_reads(IoMark from);

// Replays the events from `from` to `to`: after them, the run goes on
// with the real writer and reader; `ended`, when not null, is what ended
// the run during event `to`, thrown when the exact tier makes it.
void replay_io(IoMark from, IoMark to, std::exception_ptr ended);

// Whether a replay is still under way (events left to replay).
bool replaying_io();

// Stops keeping and replaying (the end of a run, or of its speculation).
void end_io_log();

// The bytes taken from the run's reader that no GET has used yet.  A
// debugging session that goes back to an earlier read forgets them, and
// that the end of the input was seen, and gives the reader its bytes again
// from where that read stood.
std::size_t input_held();
void forget_held_input();

// Prints the registers, the stack frame by frame and the instruction (the
// run trace), to text_out.
void trace_machine(std::int32_t pc, const Instruction& in);
