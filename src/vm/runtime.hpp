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

#include "diag/stream.hpp"
#include "vm/code.hpp"

// Starts a run's input and output; `by_line` delivers every line at once.
void begin_io(Writer out, Reader in, bool by_line);

// Ends them: what the output buffer still holds is dropped, and the
// writer and reader are forgotten (the caller's may not outlive the run).
void end_io();

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

// Prints the registers, the stack frame by frame and the instruction (the
// run trace), to text_out.
void trace_machine(std::int32_t pc, const Instruction& in);
