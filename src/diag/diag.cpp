#include "diag/diag.hpp"

#include <cstdio>
#include <strings.h>

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

} // namespace

Encoding default_encoding() {
    return build_encoding;
}

bool encoding_named(const char* name, Encoding& encoding) {
    for (const char* sjis : {"sjis", "shift_jis", "cp932"})
        if (strcasecmp(name, sjis) == 0) {
            encoding = Encoding::cp932;
            return true;
        }
    for (const char* utf8 : {"utf-8", "utf8"})
        if (strcasecmp(name, utf8) == 0) {
            encoding = Encoding::utf8;
            return true;
        }
    return false;
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
    throw Fatal{FatalKind::lexical, text};
}
void syntax_error(Msg text) {
    throw Fatal{FatalKind::syntax, text};
}
void runtime_error(Msg text) {
    throw Fatal{FatalKind::runtime, text};
}
void end_run(FatalKind kind, Msg text) {
    throw Fatal{kind, text};
}

std::string format_message(const char* format, const char* argument) {
    int n = std::snprintf(nullptr, 0, format, argument);
    std::string text(static_cast<std::size_t>(n > 0 ? n : 0) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, argument);
    text.pop_back();
    return text;
}

std::string fatal_message(const Fatal& fatal, Encoding encoding) {
    Msg format = MSG_RUNTIME_ERROR;
    switch (fatal.kind) {
    case FatalKind::lexical: format = MSG_LEXICAL_ERROR; break;
    case FatalKind::syntax: format = MSG_SYNTAX_ERROR; break;
    case FatalKind::runtime: format = MSG_RUNTIME_ERROR; break;
    case FatalKind::budget_spent:
    case FatalKind::stopped:
    case FatalKind::output_failed:
    case FatalKind::check_failed: return msg_in(fatal.text, encoding);
    }
    return format_message(msg_in(format, encoding), msg_in(fatal.text, encoding));
}
