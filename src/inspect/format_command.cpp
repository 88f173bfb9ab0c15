// tsumiki-inspect format (see format_command.hpp).
#include "inspect/format_command.hpp"

#include <cstdio>
#include <string>

#include "diag/diag.hpp"
#include "driver/api.hpp"
#include "driver/hints.hpp"
#include "driver/place.hpp"
#include "driver/user_file.hpp"
#include "format/format.hpp"

namespace {

// As large a source as tsumiki itself reads.
constexpr std::size_t USER_FILE_MAX = std::size_t{64} << 20;

void say(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
}

// Reads the file at `path` into `source`; false, with the reason said,
// when it can't be read.
bool read_program(const char* path, std::string& source) {
    switch (read_user_file(path, USER_FILE_MAX, source)) {
    case FileRefusal::none: return true;
    case FileRefusal::not_regular: std::fprintf(stderr, msg(MSG_I_NOT_REGULAR), path); break;
    case FileRefusal::too_large:
        std::fprintf(stderr, msg(MSG_I_TOO_LARGE), path, USER_FILE_MAX);
        break;
    case FileRefusal::missing:
    case FileRefusal::outside:
    case FileRefusal::unreadable: std::fprintf(stderr, msg(MSG_OPEN_FAILED), path); break;
    }
    return false;
}

} // namespace

void run_format(const std::vector<const char*>& paths, bool check) {
    int status = 0;
    std::string out;
    for (const char* path : paths) {
        std::string source;
        if (!read_program(path, source)) {
            status = 1;
            continue;
        }
        CompileOptions options;
        options.encoding = current_encoding();
        options.large_stack = true;
        Formatted f = format_source(source, options);
        if (f.error != ErrorKind::none) {
            // The message, then on the next line where it was found and
            // the hint, as check shows them.
            std::string_view message = f.message;
            while (message.size() > 1 && message.substr(message.size() - 2) == "\n\n")
                message.remove_suffix(1);
            say(std::string(message));
            say(show_place(path, f.where, MSG_I_POSITION, source, current_encoding()));
            say(hint_for(source, f.error, f.error_text, f.where, current_encoding()));
            status = 1;
        } else if (!check) {
            out += f.text;
        } else if (f.text != source) {
            out += path;
            out += '\n';
            status = 1;
        }
    }
    std::fflush(stderr);
    finish_process(out, status);
}
