#include "lexer/reader.hpp"

#include <cerrno>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

#include "diag/diag.hpp"
#include "diag/stream.hpp"
#include "diag/trace.hpp"

int ch = ' ';
bool positions_on = false;

namespace {

std::FILE* source = nullptr; // the open source file; owned between open and close
bool source_ended = false;   // a Ctrl-Z was met: nothing after it is read
// The bytes not yet read: of a source held in memory, or of the block read
// from the file last.
const unsigned char* text_next = nullptr;
const unsigned char* text_end = nullptr;
unsigned char file_block[1 << 16];

constexpr int CTRL_Z = 0x1A;

// The next block of the file, as much as one read gives (a terminal or a
// pipe gives what is there); false at its end or without a file.
bool read_block() {
    if (source == nullptr) return false;
    std::size_t n = 0;
    int fd = fileno(source);
    if (fd >= 0) {
        ssize_t got;
        do {
            got = ::read(fd, file_block, sizeof file_block);
        } while (got < 0 && errno == EINTR);
        n = got > 0 ? static_cast<std::size_t>(got) : 0;
    } else {
        int c = std::getc(source);
        if (c != EOF) file_block[n++] = static_cast<unsigned char>(c);
    }
    text_next = file_block;
    text_end = file_block + n;
    return n > 0;
}

// One byte of the file as a text-mode stream of this platform's own
// compilers would deliver it: carriage returns dropped, Ctrl-Z as the end.
int read_byte() {
    if (source_ended) return EOF;
    int c;
    do {
        if (text_next == text_end && !read_block()) return EOF;
        c = *text_next++;
    } while (c == '\r');
    if (c == CTRL_Z) {
        source_ended = true;
        return EOF;
    }
    return c;
}

} // namespace

std::FILE* open_source_file(const char* path) {
    std::FILE* stream = std::fopen(path, "r");
    if (stream == nullptr) return nullptr;
    struct stat info {};
    if (fstat(fileno(stream), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(stream);
        return nullptr;
    }
    return stream;
}

int open_source(const char* path) {
    std::FILE* stream = open_source_file(path);
    if (stream == nullptr) {
        text_printf(msg(MSG_OPEN_FAILED), path);
        return 0;
    }
    open_source_stream(stream);
    return 1;
}

void open_source_memory(const char* bytes, std::size_t n) {
    text_next = reinterpret_cast<const unsigned char*>(bytes);
    text_end = text_next + n;
    open_source_stream(nullptr);
}

void open_source_stream(std::FILE* stream) {
    if (stream != nullptr) text_next = text_end = nullptr;
    source = stream;
    source_ended = false;
    ch = ' ';
    if (positions_on) {
        ch_pos = SourcePos{1, 0};
        ch_ends_line = false;
        token_pos = SourcePos{1, 1};
        token_line_indent = 1;
        token_indent_line = 0;
    }
    next_char();
}

void close_source() {
    if (source != nullptr) std::fclose(source);
    source = nullptr;
    text_next = text_end = nullptr;
}

void next_char() {
    if (ch != ' ') trace_lex(MSG_T_LEX_CHAR, ch);
    int c = read_byte();
    if (positions_on) {
        // The end of the file after a final line break stays on that line.
        constexpr int most = std::numeric_limits<int>::max();
        if (ch_ends_line && c != EOF) {
            ch_pos.line += ch_pos.line < most ? 1 : 0;
            ch_pos.column = 1;
        } else if (!ch_ends_line) {
            ch_pos.column += ch_pos.column < most ? 1 : 0;
        }
        ch_ends_line = c == '\n';
        if (c == EOF) token_pos = ch_pos;
    }
    ch = (c == '\n' || c == '\t') ? ' ' : c;
    if (c == EOF) lexical_error(MSG_END_OF_FILE);
}
