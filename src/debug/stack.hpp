// The machine as a debugger shows it, read from the registers and the
// stack as they stand: the call stack from the dynamic links, the names
// each frame can see, what each cell is, and the value of a name or of an
// element.  Nothing here changes the machine.
//
// A hostile program may have written anything into its links; the walks
// stop where a link leads nowhere sensible, and a cell outside the stack is
// never read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "debug/program.hpp"

// A frame on the call stack, innermost first.
struct Frame {
    std::int32_t base = 0; // its b
    int routine = -1;      // its routine (a declaration), -1 unknown
    // Frame 0: p, the next instruction; every other: the CUP that called
    // the frame inside it.
    std::int32_t pc = -1;
    Place place;
    // Its header: the static link, the dynamic link and the return address
    // (the main program's hold 0).
    std::int32_t static_link = 0;
    std::int32_t dynamic_link = 0;
    std::int32_t return_address = 0;
    int static_frame = -1; // the frame the static link leads to, -1 none on the stack
};

std::vector<Frame> stack_frames(const ProgramMap& map);

// What a cell of the stack is.
enum class CellRole : unsigned char {
    static_link,
    dynamic_link,
    return_address,
    result,    // a function's result cell
    variable,  // a variable or a parameter
    element,   // an element of an array
    temporary, // an operand, or the start of a call being made
    unused,    // above t, in no frame
};

struct CellLabel {
    CellRole role = CellRole::unused;
    int frame = -1;       // the frame it belongs to (index in the list)
    int declaration = -1; // variable, element: the name; result: the function
    std::int32_t index = 0; // element: its index
};

CellLabel label_cell(const ProgramMap& map, const std::vector<Frame>& frames, std::int64_t cell);

// A name and its value, as seen from a frame.
struct NameValue {
    int declaration = -1; // the variable, parameter or array; for a result, the function
    bool result = false;  // a function's result cell
    int owner = -1;       // the routine whose frame holds it
    bool enclosing = false; // an enclosing routine's, seen through the static chain
    bool shadowed = false;  // hidden from the statement by a nearer name
    int frame = -1;         // the frame holding it, -1 when the chain leads to none listed
    bool reachable = false; // the static chain leads to a frame base
    std::int64_t cell = 0;  // its cell (an array: its first element's)
    bool in_stack = false;
    std::int32_t value = 0; // a var parameter: the address it holds
    // var parameters: where the address leads.
    bool target_in_stack = false;
    std::int32_t target_value = 0;
    CellLabel target;
};

// The names a frame's statement can see: the frame's own routine first,
// then each enclosing routine out to the program, marked enclosing.
struct Scope {
    int routine = -1;
    bool enclosing = false;
    std::int64_t base = -1; // its frame's base as the static chain gives it, -1 unreachable
    std::vector<NameValue> names;
};

std::vector<Scope> frame_scopes(const ProgramMap& map, const std::vector<Frame>& frames, int frame);

// The number of elements of an array, and the value of element `index`
// (false when its cell lies outside the stack).
std::int64_t array_length(const Declaration& array);
bool element_value(const NameValue& array, const Declaration& d, std::int64_t index,
                   std::int32_t& value);

// The cell the machine would use for element `index` of an array whose
// first element is at `first`: first - (low - index), in 32 bits.
std::int32_t element_cell(std::int64_t first, std::int32_t low, std::int32_t index);

// `NAME`, `NAME[NUMBER]` or `NAME[NAME]`, by the scope rules of the
// statement where frame `frame` stands.
struct Evaluation {
    bool ok = false;
    Msg error = MSG_COUNT;  // why not: a text of the message table ...
    std::string argument;   // ... with this argument
    NameValue name;         // the name (for an element, its array)
    bool element = false;
    std::int32_t index = 0;
    bool in_bounds = true;  // element: within the declared bounds
    std::int64_t cell = 0;  // element: the cell the machine would use
    bool in_stack = false;
    std::int32_t value = 0; // a scalar's or an element's value (a var parameter's target's)
};

Evaluation evaluate(const ProgramMap& map, const std::vector<Frame>& frames, int frame,
                    std::string_view text);
