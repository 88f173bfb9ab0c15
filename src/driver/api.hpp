// The compiler and the machine as a library: the one way in for every front
// end (tsumiki, tsumiki-inspect, the fuzz harness, the tests, the language
// server, the playground).
//
// The system's state stays in its global tables (the symbol table, the code
// store, the machine); these routines are the documented way to use them.
// Every call starts from a clean state, and no error ends the process or
// prints anything by itself: it comes back in the result, with its message
// exactly as tsumiki prints it, for the caller to show.  An exception
// thrown by one of the caller's own writers or readers (a std::bad_alloc
// from a string writer, say) comes back as that exception, on every engine,
// with the compiler and the machine ready for the next call.
//
//   Compiled c = compile_text(source, options);
//   if (c.error == ErrorKind::none) {
//       RunResult r = run_program(run_options);
//       ...
//   }
//
// One program at a time per process: the tables are not shared between
// threads.  A run's stop flag is the one thing another thread may touch.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "diag/diag.hpp"
#include "diag/stream.hpp"
#include "diag/trace.hpp"
#include "lexer/reader.hpp"
#include "symtab/symtab.hpp"
#include "vm/code.hpp"
#include "vm/engine.hpp"
#include "vm/run.hpp"

enum class ErrorKind {
    none,
    open,    // the source file could not be opened
    lexical, // "字句エラー: ..."
    syntax,  // "構文エラー: ..."
};

struct CompileOptions {
    Encoding encoding = default_encoding(); // of the messages
    // The traces to print while compiling (parse, lex, emit); only a build
    // with the trace hooks (tsumiki_traced) prints them.  They go to
    // `trace_out`.
    TraceSwitches traces{};
    Writer trace_out{};
    // Source positions: the place of an error, of every instruction and of
    // every name.  Off, the reader counts nothing.
    bool positions = true;
    // Record every declaration and every use of a name (the language
    // server's outline, definitions and hovers).
    bool names = false;
    // Look for the slips a compiler for learners points at in a program
    // that compiles (parser/warnings.hpp); they come back in
    // Compiled::warnings.  Counts positions, whatever `positions` says.
    bool warnings = false;
    // Note what a checked run (RunOptions::check) looks at: each index with
    // its array's bounds, each read of a variable or an element, each
    // function's return.  Costs the compile a little; the code is the same.
    bool checks = false;
    // Native stack the compiler may use for nesting, in bytes; 0: what the
    // calling thread has left, as far as it can be found out.  Past it a
    // program is the syntax error "入れ子が深すぎます".
    std::size_t stack_bytes = 0;
    // How deep the parser may nest, counted as the parse trace counts its
    // depth (a pair of parentheses three, a nested statement one); 0: as
    // deep as the stack allows.  For callers whose stack the compiler cannot
    // measure, such as a browser's, which runs out long before the module's
    // own.  Past it, the same syntax error at the construct that goes too deep.
    int max_depth = 0;
    // Compile on a thread of its own with a large stack (tsumiki's
    // behaviour: nesting as deep as memory allows) instead of the caller's.
    bool large_stack = false;
};

// The options of a tool that speaks UTF-8 whatever the terminal does (the
// language server's formatting, the fuzz harnesses): messages in UTF-8,
// compiled on the calling thread within its stack, the rest as above.
CompileOptions utf8_compile_options();

// A declared name, as recorded with CompileOptions::names.
struct Declaration {
    std::string name;
    SymbolKind kind;      // SYM_VAR (also value parameters), SYM_ARRAY, SYM_REF, SYM_PROC, SYM_FUNC
    bool parameter;       // a value or var parameter
    int level;            // the level it is declared at (the instructions' l counts from it)
    std::int32_t offset;  // the frame cell; the first element's for an array
    std::int32_t low = 0; // arrays: the bounds as declared
    std::int32_t high = 0;
    std::vector<SymbolKind> params; // routines: SYM_VAR or SYM_REF per parameter
    int parent = -1;                // the routine (index in `declarations`) it belongs to; -1: none
    SourcePos pos{};                // where its name stands
    SourcePos end{};     // routines: where their closing ";" stands (the program: its ".")
    int code_first = -1; // routines: their first instruction
    int code_last = -1;  // routines: their RET, FRT or (the program) HLT
};

// One use of a declared name: where it stands and which declaration the
// language's scope rules resolved it to.
struct NameUse {
    SourcePos pos;
    int length;      // bytes
    int declaration; // index in `declarations`
};

// A warning about a program that compiles: it changes nothing the program
// does.
struct Warning {
    SourcePos where;     // what it points at
    Msg text;            // its message-table entry
    std::string message; // its text, in the options' encoding, without a line break
};

struct Compiled {
    ErrorKind error = ErrorKind::none;
    // The error's text exactly as tsumiki prints it (for an open failure,
    // both of its lines), in the options' encoding; empty without an error.
    std::string message;
    // Where the error was found, as tsumiki-inspect check shows it (positions
    // on).
    SourcePos where{};
    // The message-table entry of a lexical or syntax error, the text inside
    // "字句エラー: ..." or "構文エラー: ..."; MSG_COUNT for none.
    Msg error_text = MSG_COUNT;
    // The code store's size: instructions 0 to code_size-1 (code[], cx).
    int code_size = 0;
    // Per instruction, the place in the source of the construct it was
    // compiled for (positions on).
    std::vector<SourcePos> code_pos;
    // Per instruction, the stretch of source it computes (code_range in
    // vm/code.hpp; positions on).
    std::vector<SourceRange> code_range;
    // The statements compiled, as recorded in statement_spans (positions
    // on).
    std::vector<StatementSpan> statements;
    // With `names`: every declaration in the order written, and every use.
    // Kept up to an error, too.
    std::vector<Declaration> declarations;
    std::vector<NameUse> uses;
    // With `warnings`, when the program compiled: in the order of the source.
    std::vector<Warning> warnings;
};

// Compiles a source text (as if it were a file's bytes) or a file.  The
// code store then holds the program, for run_program and the listing.
Compiled compile_text(std::string_view source, const CompileOptions& options);
Compiled compile_file(const char* path, const CompileOptions& options);

struct RunOptions {
    Encoding encoding = default_encoding(); // of the prompt and the messages
    Reader input{};                         // GET's bytes
    Writer output{};                        // PUT's lines and GET's prompts, as they come
    // Deliver every line as soon as it is written rather than in large
    // pieces (a terminal's standard output always gets its lines at once).
    bool output_by_line = false;
    // Run trace (traced build only), to trace_out, between the output.
    bool trace = false;
    Writer trace_out{};
    // How many instructions the run may execute; 0: no limit.  Honoured by
    // the traced core (tsumiki_traced, the one every front end but tsumiki
    // links): its interpreter looks at it before every instruction, and
    // its native tier, where built, counts it per straight run of
    // instructions and stops at the same instruction.  tsumiki's own core
    // runs without.
    std::uint64_t budget = 0;
    // Set by anyone, at any time, to end the run before the next
    // instruction (the traced core's interpreter).
    const std::atomic<bool>* stop = nullptr;
    // Called every `pulse.every` instructions (the traced core's
    // interpreter), once the output written so far has gone to `output`:
    // for a caller that holds text back to send it on while the run goes
    // on (vm/run.hpp).
    Pulse pulse{};
    // Told the number each read takes, after its prompt has gone to
    // `output` (vm/run.hpp): a page shows it there, as a terminal shows
    // what is typed.  The output itself stays as it is.
    ReadEcho echo{};
    // A checked run (vm/check.hpp; traced core): stops before the first
    // index outside its array's declared bounds, the first read of a
    // routine's local variable or element not given a value since the
    // routine was entered, and the first return of a function that has
    // not assigned its result.  It looks at what the compile noted with
    // CompileOptions::checks (nothing, without), runs on the interpreter
    // whatever `engine` says, and otherwise runs exactly as without it.
    bool check = false;
    Engine engine = Engine::standard;
};

enum class RunEnd {
    halted,        // HLT: tsumiki's exit status 0
    runtime_error, // "実行中にエラーがおきました: ...": status 1
    budget_spent,  // the instruction budget ran out
    stopped,       // the stop flag was seen
    output_failed, // the output writer refused bytes: "出力を書き込めませんでした"
    check_failed,  // a checked run stopped: "検査で実行を止めました: ..."
};

struct RunResult {
    RunEnd end = RunEnd::halted;
    // The error's text exactly as tsumiki prints it (runtime_error), or the
    // message for output_failed or check_failed; empty otherwise.
    std::string message;
    // check_failed: what the stop points at (the index, the variable read,
    // the function); {0, 0} otherwise.
    SourcePos where{};
    // The instruction that was executing when the run ended (for an error,
    // the one that failed); -1 when none had been fetched.
    std::int32_t pc = -1;
    // How many instructions the run began, the one that failed or halted
    // included; a run that spent its budget began exactly the budget.
    // Counted by the traced core where its plain loop runs the whole
    // program (with a stop flag, a pulse or the run trace) and on every
    // engine with a budget; 0 elsewhere (an unwatched run, on whatever
    // engine, goes on a loop that does not count).
    std::uint64_t steps = 0;
    // A stack overflow: the CUP that made the innermost routine frame, whose
    // place in the source is the call that overflowed (-1 when the stack
    // overflowed in the main program); the routine frames on the stack,
    // found by their dynamic links; and how many of them belong to the
    // routine that CUP called (2 or more: a recursion that went on).
    std::int32_t call_pc = -1;
    int call_depth = 0;
    int recursion_depth = 0;
};

// An ending's name as written above ("halted", "runtime_error", ...): what
// a front end that is not C++ keys its texts by (the playground's page).
const char* run_end_name(RunEnd end);

// The language's keywords, in the lexer's order: the one list the language
// server, the page's editor and the editors' grammars follow.
std::span<const char* const> language_keywords();
bool is_keyword(std::string_view word);

// Runs the program compiled last, from instruction 0 on a cleared stack.
// Everything written before the end has been delivered to the output
// writer when it returns.
RunResult run_program(const RunOptions& options);

// Makes ready, once, what every run of the program compiled last made with
// `options` (its engine, and what watches it: its budget, a trace, a stop
// flag, a pulse, a check) would otherwise make at its start, and keeps it
// until the next compile: the native tier's machine code, read-only and
// executable, for a run watched by its budget alone.  Those runs then
// start at once; each still starts from a cleared stack and registers, and
// runs exactly as without.  For a caller that runs one program many times,
// here or in processes forked from this one after the call (which share
// the machine code as they share the code store).  False when there is
// nothing to make ready (the interpreter, a build without the native
// tier, no executable memory): the runs then go as before.
bool prepare_runs(const RunOptions& options);

// How many instructions a run of the program compiled last, made with
// `options` (its input, encoding and budget; its writer and pulse are not
// used), runs before the instruction that writes byte `byte` of its output
// (a PUT's line or a GET's prompt): where a debugger going forward from
// the start stops just before that write.  Counted by the traced core; 0
// in a build without it.  None when the run ends before it writes that
// byte.  The run stops as soon as the byte is written.
std::optional<std::uint64_t> steps_before_output_byte(const RunOptions& options,
                                                      std::uint64_t byte);

// The numbers that the reads of a run given `input` take, in order, up to
// the first read that finds none, and at most `most` of them: the k-th read
// of any program run on `input` takes the k-th number, or ends the run.
// For a report that shows each number after its read's prompt.
std::vector<std::int32_t> numbers_read(std::string_view input, std::size_t most);

// For command-line front ends: writes `text` to standard output after what
// is there already and ends the process with `status`.  When standard
// output can't be written, says "出力を書き込めませんでした" on standard
// error instead and ends with status 1; end_output_failed does only that.
// `note`, once standard output is written, goes to standard error (a
// terminal's view of where an error was found).
[[noreturn]] void finish_process(const std::string& text, int status, std::string_view note = {});
[[noreturn]] void end_output_failed();
