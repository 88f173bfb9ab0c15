#include "inspect/line_input.hpp"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#if TSUMIKI_LIBEDIT
#include <editline/readline.h>
#endif

namespace {

bool from_terminal = false;
const char* shown_prompt = "";

bool read_plain(std::string& line) {
    line.clear();
    int c;
    while ((c = std::getchar()) != EOF && c != '\n')
        line += static_cast<char>(c);
    if (c == EOF && line.empty()) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

} // namespace

void begin_line_input(const char* prompt) {
    from_terminal = isatty(STDIN_FILENO) != 0 && isatty(STDOUT_FILENO) != 0;
    shown_prompt = prompt;
#if TSUMIKI_LIBEDIT
    if (from_terminal) {
        rl_readline_name = "tsumiki-inspect";
        using_history();
    }
#endif
}

bool lines_from_terminal() {
    return from_terminal;
}

bool read_command_line(std::string& line) {
    if (!from_terminal) return read_plain(line);
    std::fflush(stdout);
#if TSUMIKI_LIBEDIT
    char* typed = readline(shown_prompt);
    if (typed == nullptr) return false;
    line = typed;
    // An empty line repeats the last command: it is not kept.
    if (!line.empty()) add_history(typed);
    std::free(typed);
    return true;
#else
    std::fputs(shown_prompt, stdout);
    std::fflush(stdout);
    return read_plain(line);
#endif
}
