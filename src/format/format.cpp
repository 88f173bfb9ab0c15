// The formatter (see format.hpp): the program's words, read again as the
// lexer reads them, and printed by a loop over a stack of the constructs
// open, so that no nesting the compiler accepts can exhaust the native
// stack here.
#include "format/format.hpp"

#include "lexer/lexer.hpp"

namespace {

constexpr int INDENT_WIDTH = 2;

// A word of the program: its code, its spelling (without the carriage
// returns the reader drops) and the bytes of the source it spans.
struct Word {
    TokenKind kind;
    std::string text;
    std::size_t first;
    std::size_t last;
};

bool is_letter(int c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool is_digit(int c) {
    return c >= '0' && c <= '9';
}

// The source as the reader delivers it: carriage returns dropped, the end
// at the first Ctrl-Z.
class Characters {
  public:
    explicit Characters(std::string_view source) : source_(source) {
        std::size_t z = source.find('\x1a');
        end_ = z == std::string_view::npos ? source.size() : z;
        skip_returns();
    }
    bool at_end() const { return at_ >= end_; }
    int current() const { return at_end() ? -1 : static_cast<unsigned char>(source_[at_]); }
    std::size_t offset() const { return at_; }
    void next() {
        ++at_;
        skip_returns();
    }

  private:
    void skip_returns() {
        while (at_ < end_ && source_[at_] == '\r')
            ++at_;
    }
    std::string_view source_;
    std::size_t end_;
    std::size_t at_ = 0;
};

// The two-character words, by their first character.
struct Pair {
    char first;
    char second;
    TokenKind kind;
};
constexpr Pair PAIRS[] = {{'.', '.', WD_RENGE},
                          {':', '=', WD_BECOM},
                          {'<', '>', WD_NEQ},
                          {'<', '=', WD_LEQ},
                          {'>', '=', WD_GEQ}};

struct Single {
    char c;
    TokenKind kind;
};
constexpr Single SINGLES[] = {
    {'(', WD_L_PAREN}, {')', WD_R_PAREN}, {'*', WD_TIM}, {'+', WD_PLUS},   {',', WD_COM},
    {'-', WD_MIN},     {';', WD_SEMI},    {'=', WD_EQ},  {'[', WD_L_BRAC}, {']', WD_R_BRAC},
    {'.', WD_PERIOD},  {'<', WD_LT},      {'>', WD_GT}};

// The words up to the first ".", as the lexer forms them; false when
// something else is met (not in a program that compiled).
bool read_words(std::string_view source, std::vector<Word>& words) {
    Characters in(source);
    for (;;) {
        while (in.current() == ' ' || in.current() == '\n' || in.current() == '\t')
            in.next();
        if (in.at_end()) return false;
        Word w{WD_ID, "", in.offset(), 0};
        const int c = in.current();
        if (is_letter(c)) {
            while (is_letter(in.current()) || is_digit(in.current())) {
                w.text += static_cast<char>(in.current());
                in.next();
            }
            for (int i = 0; i < KEYWORD_COUNT; ++i)
                if (w.text == keywords[i]) w.kind = static_cast<TokenKind>(KEYWORD_FIRST + i);
        } else if (is_digit(c)) {
            w.kind = WD_NUM;
            while (is_digit(in.current())) {
                w.text += static_cast<char>(in.current());
                in.next();
            }
        } else {
            in.next();
            w.text = static_cast<char>(c);
            bool found = false;
            for (const Pair& p : PAIRS) {
                if (p.first == c && in.current() == p.second) {
                    w.kind = p.kind;
                    w.text += p.second;
                    in.next();
                    found = true;
                    break;
                }
            }
            for (const Single& s : SINGLES) {
                if (!found && s.c == c) {
                    w.kind = s.kind;
                    found = true;
                }
            }
            if (!found) return false;
        }
        w.last = in.offset();
        words.push_back(std::move(w));
        if (words.back().kind == WD_PERIOD) return true;
    }
}

// What the printer does next.
enum class Step {
    declarations,    // after a block's heading: its "var" line
    routines,        // its routines, then its "begin"
    statement,       // a statement, placed as `place` says
    statement_ended, // after a statement: what the construct around it does
    finished,
};

// How the next statement is placed.
enum class Place {
    own_line, // on a line of its own, at `indent`
    body,     // the body of "then" or "do" on a line at `indent`
    else_body // the body of "else": an "if" stays on the same line
};

// A construct open around the next statement.
enum class Open { block, compound, if_then, if_else, while_do };

struct Frame {
    Open kind;
    int indent; // of its first line
    int inner;  // a block: the indentation of its routines
};

class Printer {
  public:
    explicit Printer(const std::vector<Word>& words) : words_(words), ends_(words.size(), 0) {}

    // The layout; ends()[i] is where word i ends in it.
    std::string print();
    const std::vector<std::size_t>& ends() const { return ends_; }

  private:
    bool is(TokenKind kind) const { return k_ < words_.size() && words_[k_].kind == kind; }
    bool ends_statement() const {
        return k_ >= words_.size() || is(WD_SEMI) || is(WD_END) || is(WD_ELSE);
    }
    void put();
    void put_through(TokenKind last);
    void put_until(TokenKind stop);
    void newline(int indent);
    void start_statement();
    void end_statement();

    const std::vector<Word>& words_;
    std::vector<std::size_t> ends_;
    std::size_t k_ = 0; // the next word
    std::string out_;
    bool line_start_ = true;
    TokenKind previous_ = WD_PERIOD;
    bool previous_sign_ = false;
    std::vector<Frame> open_;
    Step step_ = Step::declarations;
    Place place_ = Place::own_line;
    int indent_ = 0;
};

// Whether a "+" or "-" after `previous` is a sign: it begins an expression.
bool begins_expression(TokenKind previous) {
    switch (previous) {
    case WD_L_PAREN:
    case WD_L_BRAC:
    case WD_COM:
    case WD_BECOM:
    case WD_EQ:
    case WD_NEQ:
    case WD_LT:
    case WD_LEQ:
    case WD_GT:
    case WD_GEQ:
    case WD_IF:
    case WD_WHILE: return true;
    default: return false;
    }
}

// Whether one blank separates `previous` from `next` on a line.
bool blank_between(TokenKind previous, bool previous_sign, TokenKind next) {
    if (previous_sign || previous == WD_L_PAREN || previous == WD_L_BRAC || previous == WD_RENGE)
        return false;
    switch (next) {
    case WD_R_PAREN:
    case WD_R_BRAC:
    case WD_COM:
    case WD_SEMI:
    case WD_PERIOD:
    case WD_RENGE: return false;
    case WD_L_PAREN:
    case WD_L_BRAC: return previous != WD_ID && previous != WD_READ && previous != WD_WRITE;
    default: return true;
    }
}

void Printer::put() {
    if (k_ >= words_.size()) return;
    const Word& w = words_[k_];
    if (!line_start_ && blank_between(previous_, previous_sign_, w.kind)) out_ += ' ';
    const bool sign = (w.kind == WD_PLUS || w.kind == WD_MIN) && begins_expression(previous_);
    out_ += w.text;
    ends_[k_] = out_.size();
    previous_ = w.kind;
    previous_sign_ = sign;
    line_start_ = false;
    ++k_;
}

// The words up to the next `last`, and that one.
void Printer::put_through(TokenKind last) {
    put_until(last);
    put();
}

// The words up to the next `stop`, or to the end of a statement.
void Printer::put_until(TokenKind stop) {
    while (!is(stop) && !ends_statement() && !is(WD_PERIOD))
        put();
}

void Printer::newline(int indent) {
    while (!out_.empty() && out_.back() == ' ')
        out_.pop_back();
    if (!out_.empty()) out_ += '\n';
    out_.append(static_cast<std::size_t>(indent * INDENT_WIDTH), ' ');
    line_start_ = true;
}

// The statement at the next word, placed as place_ and indent_ say.
void Printer::start_statement() {
    const int indent = place_ == Place::own_line ? indent_ : indent_ + 1;
    if (is(WD_BEGIN)) {
        const int at = indent_;
        newline(at);
        put();
        open_.push_back(Frame{Open::compound, at, 0});
        place_ = Place::own_line;
        indent_ = at + 1;
        return;
    }
    if (is(WD_IF) || is(WD_WHILE)) {
        int at = indent;
        if (place_ == Place::else_body && is(WD_IF))
            at = indent_; // "else if" on one line
        else
            newline(indent);
        const bool loop = is(WD_WHILE);
        put();
        put_through(loop ? WD_DO : WD_THEN);
        open_.push_back(Frame{loop ? Open::while_do : Open::if_then, at, 0});
        place_ = Place::body;
        indent_ = at;
        return;
    }
    step_ = Step::statement_ended;
    if (ends_statement()) return; // the empty statement
    if (place_ == Place::own_line) newline(indent_);
    put_until(WD_SEMI);
}

// After a statement: the construct around it goes on, or ends too.
void Printer::end_statement() {
    if (open_.empty()) {
        step_ = Step::finished;
        return;
    }
    Frame& f = open_.back();
    switch (f.kind) {
    case Open::if_then:
        if (is(WD_ELSE)) {
            newline(f.indent);
            put();
            f.kind = Open::if_else;
            place_ = Place::else_body;
            indent_ = f.indent;
            step_ = Step::statement;
            return;
        }
        open_.pop_back();
        return;
    case Open::if_else:
    case Open::while_do: open_.pop_back(); return;
    case Open::compound:
    case Open::block:
        if (is(WD_SEMI)) {
            put();
            place_ = Place::own_line;
            indent_ = f.indent + 1;
            step_ = Step::statement;
            return;
        }
        newline(f.indent);
        if (is(WD_END)) put();
        if (f.kind == Open::compound) {
            open_.pop_back();
            return;
        }
        open_.pop_back();
        put(); // the routine's ";", the program's "."
        step_ = open_.empty() ? Step::finished : Step::routines;
        return;
    }
}

std::string Printer::print() {
    put_through(WD_SEMI); // "program" name [ params ] ";"
    open_.push_back(Frame{Open::block, 0, 0});
    while (step_ != Step::finished && k_ < words_.size()) {
        switch (step_) {
        case Step::declarations: {
            const Frame& f = open_.back();
            if (is(WD_VAR)) {
                newline(f.indent);
                put_through(WD_SEMI);
            }
            step_ = Step::routines;
            break;
        }
        case Step::routines: {
            const Frame& f = open_.back();
            if (is(WD_PROC) || is(WD_FUNC)) {
                const int at = f.inner;
                newline(at);
                put_through(WD_SEMI);
                open_.push_back(Frame{Open::block, at, at + 1});
                step_ = Step::declarations;
                break;
            }
            newline(f.indent);
            if (is(WD_BEGIN)) put();
            place_ = Place::own_line;
            indent_ = f.indent + 1;
            step_ = Step::statement;
            break;
        }
        case Step::statement: start_statement(); break;
        case Step::statement_ended: end_statement(); break;
        case Step::finished: break;
        }
    }
    // Nothing is left over in a program that compiled; were anything, it
    // would still come out, in order.
    while (k_ < words_.size())
        put();
    return out_;
}

// What follows the final "." (never read by the compiler): from its first
// character that is not a blank or a line break, as it is.
std::string_view tail(std::string_view source, std::size_t period_end) {
    std::string_view rest = source.substr(period_end);
    std::size_t from = rest.find_first_not_of(" \t\r\n");
    return from == std::string_view::npos ? std::string_view{} : rest.substr(from);
}

// The layout of a program that compiled, with its words.
struct Layout {
    std::vector<Word> words;
    std::vector<std::size_t> ends; // where each word ends in `text`
    std::string text;
    bool ok = false;
};

Layout lay_out(std::string_view source) {
    Layout l;
    if (!read_words(source, l.words)) return l;
    Printer printer(l.words);
    l.text = printer.print();
    l.ends = printer.ends();
    l.text += '\n';
    l.text += tail(source, l.words.back().last);
    l.ok = true;
    return l;
}

Formatted compile_first(std::string_view source, const CompileOptions& options) {
    CompileOptions with_positions = options;
    with_positions.positions = true;
    Compiled c = compile_text(source, with_positions);
    Formatted f;
    f.error = c.error;
    f.message = std::move(c.message);
    f.where = c.where;
    f.error_text = c.error_text;
    return f;
}

// The line (from 1) on which each word begins.
std::vector<int> word_lines(std::string_view source, const std::vector<Word>& words) {
    std::vector<int> lines;
    int line = 1;
    std::size_t at = 0;
    for (const Word& w : words) {
        for (; at < w.first; ++at)
            if (source[at] == '\n') ++line;
        lines.push_back(line);
    }
    return lines;
}

} // namespace

Formatted format_source(std::string_view source, const CompileOptions& options) {
    Formatted f = compile_first(source, options);
    if (f.error != ErrorKind::none) return f;
    Layout l = lay_out(source);
    f.text = l.ok ? std::move(l.text) : std::string(source);
    return f;
}

Formatted format_lines(std::string_view source, int first_line, int last_line,
                       const CompileOptions& options) {
    Formatted f = compile_first(source, options);
    if (f.error != ErrorKind::none) return f;
    Layout l = lay_out(source);
    if (!l.ok) {
        f.text = source;
        return f;
    }
    // The words that begin on those lines: i to j - 1.
    const std::vector<int> lines = word_lines(source, l.words);
    std::size_t i = 0;
    while (i < lines.size() && lines[i] < first_line)
        ++i;
    std::size_t j = i;
    while (j < lines.size() && lines[j] <= last_line)
        ++j;
    if (j > i) {
        const std::size_t from = i > 0 ? l.words[i - 1].last : 0;
        const std::size_t to = l.words[j - 1].last;
        const std::size_t out_from = i > 0 ? l.ends[i - 1] : 0;
        std::string text = l.text.substr(out_from, l.ends[j - 1] - out_from);
        if (source.substr(from, to - from) != text)
            f.edits.push_back(FormatEdit{from, to, std::move(text)});
    }
    f.text = std::move(l.text);
    return f;
}
