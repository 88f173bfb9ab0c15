// How the terminal debugger (tsumiki-inspect debug) shows what its session
// sees: where it stopped, the call stack, a frame's names and links, the
// registers, the cells of the stack each with what it is, a name's value
// and the source.  Every text is from the message table, in the
// inspector's encoding.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "debug/session.hpp"

// The program's output goes to standard output as it comes, between the
// debugger's own lines; this writer notes whether it ended a line, and
// begin_own_text starts the debugger's next text on a line of its own.
Writer program_output_writer();
void begin_own_text();

// What was shown of the last stop, to show the frame again only when it is
// another one.
struct ShownFrame {
    int routine = -1;
    std::int32_t base = -1;
    std::size_t depth = 0;
};

struct DebugView {
    DebugSession& session;
    const char* path; // the source file, as the user named it
    bool started;     // run (or start) has been given
    int frame = 0;    // the frame that print, info and x look at
    ShownFrame shown;
};

// Where the session stopped after `motion` (or restart, or run).
void show_stop(DebugView& view, const Stop& stop, bool instruction_motion);

// The frame's heading ("add (k=1) nested.tsu:7") and its line.
void show_frame(DebugView& view, int frame);

void show_backtrace(const DebugView& view);
void show_names(const DebugView& view, bool arguments_only);
void show_frame_info(const DebugView& view);
void show_registers(const DebugView& view);
// Cells from `from`, `count` of them, each with what it is.
void show_cells(const DebugView& view, std::int64_t from, std::int64_t count);
// print TEXT.
void show_value(const DebugView& view, std::string_view text);
// Source lines from `from` to `to`, the current one marked; the last
// shown.
int show_lines(const DebugView& view, int from, int to);
void show_breakpoint_made(const DebugView& view, const Breakpoint& made, int asked_line);
void show_breakpoints(const DebugView& view);
