#include "diag/diag.hpp"

#include <cstdlib>

namespace {

struct MessageText {
    const char* utf8;
    const char* cp932;
};

const MessageText message_table[] = {
#define MESSAGE_TEXT(utf8, cp932) {utf8, cp932},
#include "messages.inc"
#undef MESSAGE_TEXT
};
static_assert(sizeof message_table / sizeof message_table[0] == MSG_COUNT,
              "one text for every message name");

#ifdef TSUMIKI_UTF8_MESSAGES
constexpr Encoding build_encoding = Encoding::utf8;
#else
constexpr Encoding build_encoding = Encoding::cp932;
#endif
Encoding encoding_in_use = build_encoding;

ExitHandler exit_handler = nullptr;

[[noreturn]] void report(Msg format, Msg text) {
    std::printf(msg(format), msg(text));
    end_process(1);
}

} // namespace

Encoding default_encoding() {
    return build_encoding;
}

void set_encoding(Encoding encoding) {
    encoding_in_use = encoding;
}
Encoding current_encoding() {
    return encoding_in_use;
}

const char* msg_in(Msg id, Encoding encoding) {
    const MessageText& m = message_table[id];
    return encoding == Encoding::utf8 ? m.utf8 : m.cp932;
}

const char* msg(Msg id) {
    return msg_in(id, encoding_in_use);
}

void lexical_error(Msg text) {
    report(MSG_LEXICAL_ERROR, text);
}
void syntax_error(Msg text) {
    report(MSG_SYNTAX_ERROR, text);
}
void runtime_error(Msg text) {
    report(MSG_RUNTIME_ERROR, text);
}

void set_exit_handler(ExitHandler handler) {
    exit_handler = handler;
}

void end_process(int status) {
    if (exit_handler != nullptr) exit_handler(status);
    std::exit(status);
}
