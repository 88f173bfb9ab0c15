// The source reader and the lexer: the characters and tokens a source yields,
// and where reading stops with a lexical error.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "lexer/lexer.hpp"
#include "lexer/reader.hpp"
#include "support.hpp"

using namespace std::string_literals;

namespace {

// The three ways reading a source ends, as a reader of the output sees them.
const std::string END_OF_FILE = "| 字句エラー: ファイルの終り\n";
const std::string BAD_TOKEN = "| 字句エラー: 認識できないトークン\n";
const std::string TOO_LONG = "| 字句エラー: 識別子が長すぎます(31文字まで)\n";

// One character as the test texts show it: printable ASCII as itself, any
// other value as \xNN.
std::string show_char(int c) {
    if (c >= 0x20 && c < 0x7F) return std::string(1, static_cast<char>(c));
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(c) & 0xFFu);
    return buf;
}

// Every current character that `text` yields, from the first one on, then
// "| " and the output of the lexical error that ends the reading.
std::string chars_of(const std::string& text) {
    reset_all();
    std::string seen;
    Outcome o = capture([&] {
        open_source_text(text);
        for (int i = 0; i < 1000; ++i) {
            seen += show_char(ch);
            next_char();
        }
    });
    EXPECT_EQ(o.status, 1) << "reading never ended";
    return seen + "| " + o.out;
}

// Every token that `text` yields, each followed by a blank, identifiers and
// keywords with their text and numbers with their value; then "| " and the
// output of the lexical error that ends the reading.
std::string tokens_of(const std::string& text) {
    reset_all();
    std::string seen;
    Outcome o = capture([&] {
        open_source_text(text);
        for (int i = 0; i < 1000; ++i) {
            Token t = get_token(0);
            seen += token_names[t.kind];
            if (t.kind == WD_NUM) {
                seen += '(';
                seen += std::to_string(t.value);
                seen += ')';
            } else if (t.kind == WD_ID || t.kind >= KEYWORD_FIRST) {
                seen += "("s + t.text + ")";
            }
            seen += " ";
        }
    });
    EXPECT_EQ(o.status, 1) << "reading never ended";
    return seen + "| " + o.out;
}

struct Case {
    std::string source;
    std::string expected;
};

void check_cases(const std::vector<Case>& cases, std::string (*run)(const std::string&)) {
    for (const Case& c : cases) {
        std::string shown;
        for (char b : c.source)
            shown += show_char(static_cast<unsigned char>(b));
        EXPECT_EQ(run(c.source), c.expected) << "source: \"" << shown << "\"";
    }
}

// A real file in the test's temporary directory.
std::string temp_file(const std::string& name, const std::string& content) {
    std::string path = ::testing::TempDir() + "tsumiki_lexer_" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    return path;
}

} // namespace

// The reader folds line ends and tabs into blanks, drops carriage returns,
// ends the file at Ctrl-Z and passes every other byte through unchanged.
TEST(Reader, CharactersAsTheLexerSeesThem) {
    check_cases(
        {
            {"", END_OF_FILE}, // the first read, inside open_source, already fails
            {"x", "x" + END_OF_FILE},
            {"a\tb\nc", "a b c" + END_OF_FILE},
            {"a\r\nb\r\n", "a b " + END_OF_FILE},
            {"a\rb", "ab" + END_OF_FILE}, // every carriage return goes, not only before LF
            {"\r\r\r\n", " " + END_OF_FILE},
            {"a\x1a"
             "bcd",
             "a" + END_OF_FILE}, // Ctrl-Z ends the file
            {"\x1a"
             "abc",
             END_OF_FILE},
            {".\n\x1a.", ". " + END_OF_FILE},
            {"\x0c\x0b\x01\x1b\x7f", "\\x0c\\x0b\\x01\\x1b\\x7f" + END_OF_FILE},
            {"a\0b"s, "a\\x00b" + END_OF_FILE},
            {"\xff\xfe\x80\x82\xa0", "\\xff\\xfe\\x80\\x82\\xa0" + END_OF_FILE}, // 0xFF is no end
        },
        chars_of);
}

TEST(Reader, CurrentCharacterIsABlankBeforeTheFileIsOpened) {
    reset_all();
    EXPECT_EQ(ch, ' ');
}

// open_source on real files: a failure to open is reported and returned, an
// empty file ends the process at the first read.
TEST(Reader, OpenSource) {
    reset_all();
    std::string missing = ::testing::TempDir() + "tsumiki_lexer_no_such_file";
    std::remove(missing.c_str());
    int result = 1;
    Outcome o = capture([&] { result = open_source(missing.c_str()); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(o.status, -1); // the driver, not the reader, ends the process
    EXPECT_EQ(o.out, "ファイル" + missing + "がオープンできません\n");

    // A directory opens as a stream here but can't be read as a file.
    std::string dir = ::testing::TempDir() + "tsumiki_lexer_dir";
    mkdir(dir.c_str(), 0700);
    result = 1;
    o = capture([&] { result = open_source(dir.c_str()); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.out, "ファイル" + dir + "がオープンできません\n");

    std::string through_file = temp_file("plain", "x") + "/x";
    o = capture([&] { result = open_source(through_file.c_str()); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(o.out, "ファイル" + through_file + "がオープンできません\n");

    std::string empty = temp_file("empty", "");
    o = capture([&] { open_source(empty.c_str()); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "字句エラー: ファイルの終り\n");

    // A first byte 0xFF is the character 255, not the end of the file.
    std::string high = temp_file("high", "\xff");
    result = 0;
    o = capture([&] { result = open_source(high.c_str()); });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(ch, 255);
    close_source();
}

TEST(Lexer, OperatorsAndAdjacency) {
    check_cases(
        {
            {"x:=x+1 ", "WD_ID(x) WD_BECOM WD_ID(x) WD_PLUS WD_NUM(1) " + END_OF_FILE},
            {"(),;[]*+-= ",
             "WD_L_PAREN WD_R_PAREN WD_COM WD_SEMI WD_L_BRAC WD_R_BRAC WD_TIM WD_PLUS WD_MIN "
             "WD_EQ " +
                 END_OF_FILE},
            {"a<>b ", "WD_ID(a) WD_NEQ WD_ID(b) " + END_OF_FILE},
            {"a< >b ", "WD_ID(a) WD_LT WD_GT WD_ID(b) " + END_OF_FILE},
            {"<= < = ", "WD_LEQ WD_LT WD_EQ " + END_OF_FILE},
            {"=< ", "WD_EQ WD_LT " + END_OF_FILE},
            {"=> ", "WD_EQ WD_GT " + END_OF_FILE},
            {">= > = >< ", "WD_GEQ WD_GT WD_EQ WD_GT WD_LT " + END_OF_FILE},
            {"<<>> ", "WD_LT WD_NEQ WD_GT " + END_OF_FILE},
            {"x : = 1", "WD_ID(x) " + BAD_TOKEN},
            {":x", BAD_TOKEN},
            {"::=", BAD_TOKEN},
            {": ", BAD_TOKEN},
            {":", END_OF_FILE}, // the look-ahead after ":" reaches the end first
            {".. ", "WD_RENGE " + END_OF_FILE},
            {"... ", "WD_RENGE WD_PERIOD " + END_OF_FILE},
            {". . ", "WD_PERIOD WD_PERIOD " + END_OF_FILE},
            {"1..10 ", "WD_NUM(1) WD_RENGE WD_NUM(10) " + END_OF_FILE},
            {"12ab ", "WD_NUM(12) WD_ID(ab) " + END_OF_FILE},
            {"abc12 ", "WD_ID(abc12) " + END_OF_FILE},
            {"a-1 ", "WD_ID(a) WD_MIN WD_NUM(1) " + END_OF_FILE},
        },
        tokens_of);
}

// Reading stops at the end of the file even inside a token, so the last
// token needs one more character after it; Ctrl-Z counts as the end.
TEST(Lexer, EndOfFile) {
    check_cases(
        {
            {" \t\n \r\n  ", END_OF_FILE},
            {"end.", "WD_END(end) " + END_OF_FILE}, // "." as the very last byte
            {"end.\n", "WD_END(end) WD_PERIOD " + END_OF_FILE},
            {"end.x", "WD_END(end) WD_PERIOD " + END_OF_FILE}, // x is read to its end
            {"end.\x1a\n", "WD_END(end) " + END_OF_FILE},
            {"end.\n\x1a"
             "garbage",
             "WD_END(end) WD_PERIOD " + END_OF_FILE},
            {"end\r\n.\r\n", "WD_END(end) WD_PERIOD " + END_OF_FILE},
            {"end", END_OF_FILE},
            {"12", END_OF_FILE},
            {"<", END_OF_FILE},
        },
        tokens_of);
}

// Keywords are lower case and whole words; anything else is a name.
TEST(Lexer, KeywordsAndNames) {
    check_cases(
        {
            {"div begin end if then else while do program procedure function var read write ",
             "WD_DIV(div) WD_BEGIN(begin) WD_END(end) WD_IF(if) WD_THEN(then) WD_ELSE(else) "
             "WD_WHILE(while) WD_DO(do) WD_PROG(program) WD_PROC(procedure) WD_FUNC(function) "
             "WD_VAR(var) WD_READ(read) WD_WRITE(write) " +
                 END_OF_FILE},
            {"Begin BEGIN DIV Div ",
             "WD_ID(Begin) WD_ID(BEGIN) WD_ID(DIV) WD_ID(Div) " + END_OF_FILE},
            {"ifx beginend div2 i d ",
             "WD_ID(ifx) WD_ID(beginend) WD_ID(div2) WD_ID(i) WD_ID(d) " + END_OF_FILE},
            {"if(x)then ", "WD_IF(if) WD_L_PAREN WD_ID(x) WD_R_PAREN WD_THEN(then) " + END_OF_FILE},
        },
        tokens_of);
}

// Numbers are read modulo 2^32 as signed 32-bit values.
TEST(Lexer, Numbers) {
    check_cases(
        {
            {"0 007 ", "WD_NUM(0) WD_NUM(7) " + END_OF_FILE},
            {"2147483647 ", "WD_NUM(2147483647) " + END_OF_FILE},
            {"2147483648 ", "WD_NUM(-2147483648) " + END_OF_FILE},
            {"4294967295 ", "WD_NUM(-1) " + END_OF_FILE},
            {"4294967296 ", "WD_NUM(0) " + END_OF_FILE},
            {"4294967297 ", "WD_NUM(1) " + END_OF_FILE},
            {"99999999999999999999 ", "WD_NUM(1661992959) " + END_OF_FILE},
            {"-2147483648 ", "WD_MIN WD_NUM(-2147483648) " + END_OF_FILE},
        },
        tokens_of);
}

// Every character that starts no token is rejected where it stands.
TEST(Lexer, UnrecognisedCharacters) {
    check_cases(
        {
            {"_x", BAD_TOKEN},
            {"x_y", "WD_ID(x) " + BAD_TOKEN},
            {"a/b", "WD_ID(a) " + BAD_TOKEN},
            {"a\tb ", "WD_ID(a) WD_ID(b) " + END_OF_FILE}, // a tab is a blank
            {"a\fb", "WD_ID(a) " + BAD_TOKEN},
            {"a\vb", "WD_ID(a) " + BAD_TOKEN},
            {"a\0b"s, "WD_ID(a) " + BAD_TOKEN},
            {"\x01", BAD_TOKEN},
            {"\x7f", BAD_TOKEN},
            {"x\xff", "WD_ID(x) " + BAD_TOKEN},
            {"x\x80", "WD_ID(x) " + BAD_TOKEN},
            {"1あ", "WD_NUM(1) " + BAD_TOKEN}, // UTF-8
            {"\x82\xa0", BAD_TOKEN},           // code page 932
            {"\x8e\x9a\x8b\xe5", BAD_TOKEN},
            {"{", BAD_TOKEN},
            {"}", BAD_TOKEN},
            {"'", BAD_TOKEN},
            {"\"", BAD_TOKEN},
            {"!", BAD_TOKEN},
            {"?", BAD_TOKEN},
            {"^", BAD_TOKEN},
            {"#", BAD_TOKEN},
            {"%", BAD_TOKEN},
            {"&", BAD_TOKEN},
            {"@", BAD_TOKEN},
            {"$", BAD_TOKEN},
            {"~", BAD_TOKEN},
            {"|", BAD_TOKEN},
            {"\\", BAD_TOKEN},
            {"`", BAD_TOKEN},
        },
        tokens_of);
}

// A name holds at most 31 characters; the 32nd is an error when it is met,
// whatever follows it.
TEST(Lexer, NameLengthLimit) {
    const std::string n31(31, 'a');
    const std::string n32 = n31 + "b";
    check_cases(
        {
            {n31 + " ", "WD_ID(" + n31 + ") " + END_OF_FILE},
            {n31 + "+ ", "WD_ID(" + n31 + ") WD_PLUS " + END_OF_FILE},
            {std::string("x").append(29, '0').append("9 "),
             std::string("WD_ID(x").append(29, '0').append("9) ") + END_OF_FILE},
            {n32, TOO_LONG}, // no character after the 32nd is needed
            {n32 + " ", TOO_LONG},
            {n31 + "1 ", TOO_LONG},
            {n31 + " " + n32, "WD_ID(" + n31 + ") " + TOO_LONG},
            {std::string(100, 'z') + " ", TOO_LONG},
            {"procedure" + std::string(23, 'x'), TOO_LONG},
        },
        tokens_of);

    // The full 31 characters arrive NUL-terminated in the 32-byte field.
    reset_all();
    Token t{};
    Outcome o = capture([&] {
        open_source_text(n31 + ";");
        t = get_token(0);
    });
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(t.kind, WD_ID);
    EXPECT_EQ(std::strlen(t.text), 31u);
    EXPECT_EQ(t.text[31], '\0');
}

// get_token returns with the first character after the token as the current
// character, not yet consumed.
TEST(Lexer, StopsOneCharacterAfterTheToken) {
    struct Stop {
        const char* source;
        TokenKind kind;
        int next;
    };
    const Stop stops[] = {
        {"<=x", WD_LEQ, 'x'},      {"<>x", WD_NEQ, 'x'},   {"<x", WD_LT, 'x'},
        {"< >", WD_LT, ' '},       {">=x", WD_GEQ, 'x'},   {">x", WD_GT, 'x'},
        {":=x", WD_BECOM, 'x'},    {"..x", WD_RENGE, 'x'}, {".x", WD_PERIOD, 'x'},
        {".\xff", WD_PERIOD, 255}, {"12ab", WD_NUM, 'a'},  {"ab+", WD_ID, '+'},
        {"do(", WD_DO, '('},       {"+\n", WD_PLUS, ' '},  {"  \n\t;\r\n", WD_SEMI, ' '},
    };
    for (const Stop& s : stops) {
        reset_all();
        Token t{};
        Outcome o = capture([&] {
            open_source_text(s.source);
            t = get_token(0);
        });
        EXPECT_EQ(o.status, -1) << s.source;
        EXPECT_EQ(t.kind, s.kind) << s.source;
        EXPECT_EQ(ch, s.next) << s.source;
    }
}

// The token codes, their names and the keyword table.
TEST(Lexer, TokenTables) {
    const char* const names[] = {
        "WD_ID",    "WD_NUM",    "WD_PLUS",  "WD_MIN",    "WD_TIM",     "WD_EQ",      "WD_NEQ",
        "WD_LT",    "WD_LEQ",    "WD_GT",    "WD_GEQ",    "WD_L_PAREN", "WD_R_PAREN", "WD_COM",
        "WD_SEMI",  "WD_PERIOD", "WD_BECOM", "WD_L_BRAC", "WD_R_BRAC",  "WD_RENGE",   "WD_DIV",
        "WD_BEGIN", "WD_END",    "WD_IF",    "WD_THEN",   "WD_ELSE",    "WD_WHILE",   "WD_DO",
        "WD_PROG",  "WD_PROC",   "WD_FUNC",  "WD_VAR",    "WD_READ",    "WD_WRITE",
    };
    static_assert(sizeof names / sizeof names[0] == TOKEN_KIND_COUNT);
    for (int i = 0; i < TOKEN_KIND_COUNT; ++i)
        EXPECT_STREQ(token_names[i], names[i]) << "code " << i;
    EXPECT_EQ(WD_ID, 0);
    EXPECT_EQ(WD_RENGE, 19);
    EXPECT_EQ(WD_WRITE, 33);
    EXPECT_EQ(sizeof(TokenKind), 1u);

    const char* const words[] = {"div",      "begin", "end",  "if",      "then",
                                 "else",     "while", "do",   "program", "procedure",
                                 "function", "var",   "read", "write"};
    static_assert(sizeof words / sizeof words[0] == KEYWORD_COUNT);
    EXPECT_EQ(KEYWORD_FIRST, 20);
    for (int i = 0; i < KEYWORD_COUNT; ++i)
        EXPECT_STREQ(keywords[i], words[i]) << "keyword " << i;
}
