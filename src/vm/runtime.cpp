#include "vm/runtime.hpp"

#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "diag/diag.hpp"
#include "diag/trace.hpp"
#include "vm/machine.hpp"

namespace {

char out_buffer[1 << 16];
std::size_t out_length = 0;
bool out_by_line = false;
Writer out_to;

// Standard input of GET, read in blocks: bytes[next, length) are read
// and not used yet.  The end of input, once seen, stays seen for the rest
// of the run.  peek() is the next character without taking it, or EOF.
struct RunInput {
    unsigned char bytes[1 << 16];
    std::size_t next = 0;
    std::size_t length = 0;
    bool ended = false;
    Reader from;
    int peek();
};
RunInput run_input;

// The number each GET took is told to it (RunSetup::echo).
ReadEcho echo;

// The events of the run so far; the numbers read while they are kept,
// and the replay.
std::uint64_t events = 0;

// The numbers read while they are kept, in blocks that never move: a run
// that reads a million numbers on the optimising tier keeps 4 MB, written
// once.  Only the last can be a read that failed (the tier stops there).
class KeptReads {
  public:
    std::size_t size() const { return size_; }
    void push(bool ok, std::int32_t value) {
        std::size_t block = size_ / BLOCK;
        if (block == blocks_.size()) // not cleared: each number is written before it is read
            blocks_.push_back(std::unique_ptr<std::int32_t[]>(new std::int32_t[BLOCK]));
        blocks_[block][size_ % BLOCK] = value;
        if (!ok) failed_ = size_;
        ++size_;
    }
    // The read numbered k: false when it failed, else its number in value.
    bool get(std::size_t k, std::int32_t& value) const {
        if (k >= size_ || k == failed_) return false;
        value = blocks_[k / BLOCK][k % BLOCK];
        return true;
    }
    // Forgets the reads from the one numbered n on.
    void truncate(std::size_t n) {
        if (n >= size_) return;
        size_ = n;
        if (failed_ >= n) failed_ = NONE;
    }
    void clear() {
        blocks_.clear();
        size_ = 0;
        failed_ = NONE;
    }

  private:
    static constexpr std::size_t BLOCK = std::size_t{1} << 18;
    static constexpr std::size_t NONE = ~std::size_t{0};
    std::vector<std::unique_ptr<std::int32_t[]>> blocks_;
    std::size_t size_ = 0;
    std::size_t failed_ = NONE;
};
KeptReads reads;
bool keeping = false;
bool replaying = false;
std::uint64_t replay_end = 0;    // the first event not replayed
std::size_t replay_read = 0;     // the next kept read to give back
std::exception_ptr replay_ended; // what ends the run at event replay_end

// Whether this event is replayed (counted and answered from the log)
// rather than made.  At the end of the replay an ending is thrown again.
bool replayed() {
    if (!replaying) return false;
    if (events < replay_end) {
        ++events;
        return true;
    }
    replaying = false;
    if (replay_ended) {
        std::exception_ptr ended = replay_ended;
        replay_ended = nullptr;
        std::rethrow_exception(ended);
    }
    return false;
}

std::uint32_t u32(std::int32_t v) {
    return static_cast<std::uint32_t>(v);
}

void deliver(const char* bytes, std::size_t n) {
    if (!write_bytes(out_to, bytes, n) || !flush_bytes(out_to))
        end_run(FatalKind::output_failed, MSG_OUTPUT_FAILED);
}

} // namespace

void begin_io(Writer out, Reader input, bool by_line) {
    out_to = out;
    out_length = 0;
    out_by_line = by_line;
    run_input.from = input;
    run_input.next = run_input.length = 0;
    run_input.ended = false;
    echo = ReadEcho{};
    end_io_log();
    events = 0;
}

IoMark io_mark() {
    return IoMark{events, reads.size()};
}

void keep_reads(IoMark from) {
    reads.truncate(from.reads);
    keeping = true;
}

void replay_io(IoMark from, IoMark to, std::exception_ptr ended) {
    events = from.events;
    replay_end = to.events;
    replay_read = from.reads;
    reads.truncate(to.reads);
    replay_ended = std::move(ended);
    replaying = events < replay_end || replay_ended != nullptr;
    keeping = false;
}

bool replaying_io() {
    return replaying;
}

void end_io_log() {
    keeping = replaying = false;
    reads.clear();
    replay_ended = nullptr;
}

void end_io() {
    begin_io(Writer{}, Reader{}, false);
}

void flush_output() {
    std::size_t n = out_length;
    out_length = 0;
    if (n != 0) deliver(out_buffer, n);
}

void put_bytes(const char* bytes, std::size_t n) {
    if (n > sizeof out_buffer - out_length) {
        flush_output();
        if (n > sizeof out_buffer) {
            deliver(bytes, n);
            return;
        }
    }
    std::memcpy(out_buffer + out_length, bytes, n);
    out_length += n;
}

void put_prompt() {
    if (replayed()) return;
    ++events;
    const char* prompt = msg(MSG_PROMPT);
    put_bytes(prompt, std::strlen(prompt));
}

// "%d\n": the digits are made two at a time, from the right, into a small
// buffer that then goes to the output buffer.
void write_number(std::int32_t v) {
    static constexpr char pairs[] = "00010203040506070809101112131415161718192021222324"
                                    "25262728293031323334353637383940414243444546474849"
                                    "50515253545556575859606162636465666768697071727374"
                                    "75767778798081828384858687888990919293949596979899";
    if (replayed()) return;
    ++events;
    char buf[16];
    char* const end = buf + sizeof buf;
    char* q = end;
    *--q = '\n';
    std::uint32_t m = v < 0 ? 0u - u32(v) : u32(v);
    while (m >= 100u) {
        std::uint32_t r = m % 100u;
        m /= 100u;
        q -= 2;
        q[0] = pairs[2 * r];
        q[1] = pairs[2 * r + 1];
    }
    if (m >= 10u) {
        q -= 2;
        q[0] = pairs[2 * m];
        q[1] = pairs[2 * m + 1];
    } else {
        *--q = static_cast<char>('0' + m);
    }
    if (v < 0) *--q = '-';
    if (sizeof out_buffer - out_length < sizeof buf) flush_output();
    while (q != end)
        out_buffer[out_length++] = *q++;
    if (out_by_line) flush_output();
}

namespace {

int RunInput::peek() {
    if (next < length) return bytes[next];
    if (ended) return EOF;
    // The read may wait: whatever was written so far must be visible, the
    // traces on standard output included.
    flush_output();
    if (!flush_bytes(text_out)) end_run(FatalKind::output_failed, MSG_OUTPUT_FAILED);
    next = 0;
    length = read_bytes(from, reinterpret_cast<char*>(bytes), sizeof bytes);
    if (length == 0) {
        ended = true;
        return EOF;
    }
    return bytes[0];
}

// The whole input at once, as numbers_in reads it.
struct TextInput {
    const unsigned char* bytes;
    std::size_t next;
    std::size_t length;
    int peek() const { return next < length ? bytes[next] : EOF; }
};

bool is_digit(int c) {
    return c >= '0' && c <= '9';
}

bool is_blank(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// read_number's "%d", made on an input with the members of RunInput.
template <class Input> bool scan_number(Input& in, std::int32_t& cell);

} // namespace

bool read_number(std::int32_t& cell) {
    if (replayed()) {
        return reads.get(replay_read++, cell);
    }
    ++events;
    bool ok = scan_number(run_input, cell);
    // Told before the number is kept: an exception from the echo ends the
    // read as one from the reader would.
    if (ok && echo.call != nullptr) {
        flush_output();
        echo.call(echo.context, cell);
    }
    if (keeping) reads.push(ok, cell);
    return ok;
}

void echo_reads(ReadEcho to) {
    echo = to;
}

std::vector<std::int32_t> numbers_in(std::string_view input, std::size_t most) {
    TextInput text{reinterpret_cast<const unsigned char*>(input.data()), 0, input.size()};
    std::vector<std::int32_t> numbers;
    std::int32_t number = 0;
    while (numbers.size() < most && scan_number(text, number))
        numbers.push_back(number);
    return numbers;
}

namespace {

template <class Input> bool scan_number(Input& in, std::int32_t& cell) {
    // Each loop runs through the buffer and looks further only when it has
    // used the buffer up.
    int c;
    for (;;) {
        std::size_t k = in.next;
        while (k < in.length && is_blank(in.bytes[k]))
            ++k;
        in.next = k;
        c = in.peek();
        if (!is_blank(c)) break;
    }
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        ++in.next;
        c = in.peek();
    }
    if (!is_digit(c)) return false;
    std::uint32_t value = 0;
    for (;;) {
        std::size_t k = in.next;
        while (k < in.length && is_digit(in.bytes[k])) {
            value = value * 10u + static_cast<std::uint32_t>(in.bytes[k] - '0');
            ++k;
        }
        in.next = k;
        if (!is_digit(in.peek())) break;
    }
    cell = static_cast<std::int32_t>(negative ? 0u - value : value);
    return true;
}

} // namespace

std::size_t input_held() {
    return run_input.length - run_input.next;
}

void forget_held_input() {
    run_input.next = run_input.length = 0;
    run_input.ended = false;
}

// Prints the registers, the stack frame by frame and the instruction.
void trace_machine(std::int32_t pc, const Instruction& in) {
    if constexpr (!trace_built) return;
    flush_output();
    trace_print(MSG_T_REGISTERS, pc, b, t);
    // The frames are found by following static links from b down to cell 0.
    bool starts_frame[STACK_SIZE] = {};
    starts_frame[0] = true;
    for (std::int32_t x = b; x > 0 && x < STACK_SIZE && !starts_frame[x]; x = s[x])
        starts_frame[x] = true;
    for (std::int32_t i = 0; i <= t && i < STACK_SIZE; ++i) {
        if (starts_frame[i]) trace_print(MSG_T_FRAME);
        trace_print(MSG_T_CELL, s[i]);
    }
    trace_print(MSG_T_STACK_END);
    trace_print(MSG_T_EXECUTE, mnemonic(in.op), in.l, in.a);
}
