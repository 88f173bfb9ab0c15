// Byte sinks and sources: where the text the system prints goes, and where
// the bytes that `read` takes come from.
//
// Every front end chooses its own: tsumiki and tsumiki-inspect write to
// standard output and read standard input; the tests collect into strings;
// the playground and the language server into their own buffers.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

// Where bytes go.  `write` is called with each piece as it is produced and
// returns false when the bytes could not be written.  A Writer without a
// function writes to standard output (through its stdio buffer).
struct Writer {
    bool (*write)(void* context, const char* bytes, std::size_t n) = nullptr;
    void* context = nullptr;
};

// Where bytes come from.  `read` fills at most n bytes and returns how many
// it gave, 0 at the end of the input.  It may block (a person at a
// terminal).  A Reader without a function reads standard input's
// descriptor.
struct Reader {
    std::size_t (*read)(void* context, char* bytes, std::size_t n) = nullptr;
    void* context = nullptr;
};

// Delivers n bytes; false when they could not all be written.
bool write_bytes(const Writer& to, const char* bytes, std::size_t n);

// Sends on whatever the writer holds back (standard output's buffer);
// false when that fails.
bool flush_bytes(const Writer& to);

// Takes at most n bytes; 0 at the end of the input (or on a read error).
std::size_t read_bytes(const Reader& from, char* bytes, std::size_t n);

// A writer that appends to `sink`, and a reader that takes bytes from the
// front of `rest`; both must outlive their use.
Writer string_writer(std::string& sink);
Reader view_reader(std::string_view& rest);

// Where the compiler's and the machine's own text goes: messages printed by
// the front ends, the listing and the traces.  Standard output unless a
// front end says otherwise.
extern Writer text_out;

// printf into text_out.  Returns false when the text could not be written.
bool text_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
bool text_vprintf(const char* format, std::va_list args);
