#include "lexer/reader.hpp"

#include <limits>
#include <sys/stat.h>

#include "diag/diag.hpp"
#include "diag/trace.hpp"

int ch = ' ';

namespace {

std::FILE* source = nullptr; // the open source file; owned between open and close
bool source_ended = false;   // a Ctrl-Z was met: nothing after it is read

constexpr int CTRL_Z = 0x1A;

// One byte of the file as a text-mode stream of this platform's own
// compilers would deliver it: carriage returns dropped, Ctrl-Z as the end.
int read_byte() {
    if (source_ended) return EOF;
    int c;
    do {
        c = std::getc(source);
    } while (c == '\r');
    if (c == CTRL_Z) {
        source_ended = true;
        return EOF;
    }
    return c;
}

// Opens a file for reading.  A directory opens as a stream on this
// platform but can't be read: it counts as a file that cannot be opened.
std::FILE* open_file(const char* path) {
    std::FILE* stream = std::fopen(path, "r");
    if (stream == nullptr) return nullptr;
    struct stat info {};
    if (fstat(fileno(stream), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(stream);
        return nullptr;
    }
    return stream;
}

} // namespace

int open_source(const char* path) {
    std::FILE* stream = open_file(path);
    if (stream == nullptr) {
        std::printf(msg(MSG_OPEN_FAILED), path);
        return 0;
    }
    open_source_stream(stream);
    return 1;
}

void open_source_stream(std::FILE* stream) {
    source = stream;
    source_ended = false;
    ch = ' ';
    if constexpr (trace_built) {
        ch_pos = SourcePos{1, 0};
        ch_ends_line = false;
        token_pos = SourcePos{1, 1};
    }
    next_char();
}

void close_source() {
    if (source != nullptr) std::fclose(source);
    source = nullptr;
}

void next_char() {
    if (ch != ' ') trace_lex(MSG_T_LEX_CHAR, ch);
    int c = read_byte();
    if constexpr (trace_built) {
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
