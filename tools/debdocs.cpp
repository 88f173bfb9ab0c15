// debdocs: the Debian package's changelog and copyright file, made at build
// time from CHANGELOG.md and LICENSE, so that neither is written twice.
//
//   debdocs changelog CHANGELOG.md PACKAGE MAINTAINER OUTPUT
//   debdocs copyright LICENSE PACKAGE OUTPUT
//
// changelog: every released version of CHANGELOG.md, in Debian's changelog
// format, newest first, each signed by MAINTAINER on the version's date.
// CHANGELOG.md follows Keep a Changelog: a version's heading is
// "## [VERSION] - YYYY-MM-DD", its changes are "- " items (continued on
// lines indented by two blanks) under "### " headings such as "### Added".
// "## [Unreleased]" and what follows it up to the next version are left
// out, as is everything before the first "## " heading and every link
// reference ("[x]: address").  A section becomes "  * Added:" with its
// items below as "    - ", so a line of CHANGELOG.md grows by four
// characters and may have at most 76.
//
// copyright: LICENSE (a title line, the "Copyright (c) YEARS HOLDER" line,
// then the terms) in Debian's machine-readable copyright format, the terms
// under the license name given in the title ("MIT License" is Debian's
// "Expat").
//
// Anything that does not fit these shapes is an error naming the file and
// line, on standard error, with status 1: the build stops there.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

// The widest line a Debian changelog should have.
constexpr std::size_t DEBIAN_LINE_MAX = 80;

std::string source_path; // the file being converted, for errors

[[noreturn]] void fail_at(int line, const std::string& what) {
    std::cerr << source_path;
    if (line > 0) std::cerr << ":" << line;
    std::cerr << ": " << what << "\n";
    std::exit(1);
}

std::vector<std::string> read_lines(const char* path) {
    source_path = path;
    std::ifstream in(path, std::ios::binary);
    if (!in) fail_at(0, "cannot be opened");
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void write_file(const char* path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        std::cerr << path << ": cannot be written\n";
        std::exit(1);
    }
}

// Characters of UTF-8 text, as a reader counts them.
std::size_t width(const std::string& text) {
    std::size_t n = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

bool blank(const std::string& line) {
    return line.find_first_not_of(" \t") == std::string::npos;
}

// ---- changelog ----

struct Date {
    int year, month, day;
};

bool leap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

bool valid(const Date& d) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (d.month < 1 || d.month > 12 || d.day < 1) return false;
    return d.day <= days[d.month - 1] + (d.month == 2 && leap(d.year) ? 1 : 0);
}

// The day of the week, 0 for Sunday (Sakamoto's method).
int weekday(Date d) {
    static const int shift[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (d.month < 3) d.year -= 1;
    return (d.year + d.year / 4 - d.year / 100 + d.year / 400 + shift[d.month - 1] + d.day) % 7;
}

// "Wed, 09 Dec 2026 00:00:00 +0000", as Debian's changelog dates its entries.
std::string rfc2822(const Date& d) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d 00:00:00 +0000", days[weekday(d)], d.day,
                  months[d.month - 1], d.year);
    return text;
}

// Negative, zero or positive as version a is older than, the same as or
// newer than b; both are numbers separated by dots.
int compare_versions(const std::string& a, const std::string& b) {
    std::istringstream x(a), y(b);
    for (;;) {
        long m = 0, n = 0;
        bool more_x = static_cast<bool>(x >> m), more_y = static_cast<bool>(y >> n);
        if (!more_x && !more_y) return 0;
        if (m != n) return m < n ? -1 : 1;
        x.ignore(1);
        y.ignore(1);
    }
}

struct Entry {
    std::string version;
    Date date;
    int line;                       // of its heading
    std::vector<std::string> lines; // its changes, as the Debian changelog shows them
    bool has_item = false;
};

void add_line(Entry& entry, int line, std::string text) {
    if (width(text) > DEBIAN_LINE_MAX)
        fail_at(line, "longer than " + std::to_string(DEBIAN_LINE_MAX - 4) +
                          " characters (the Debian changelog's line would be " +
                          std::to_string(width(text)) + ")");
    entry.lines.push_back(std::move(text));
}

// The entries of a Keep a Changelog file, newest first; Unreleased left out.
std::vector<Entry> read_changelog(const std::vector<std::string>& lines) {
    static const std::regex version_heading(R"(## \[([^\]]*)\] - (\d{4})-(\d{2})-(\d{2}))");
    static const std::regex version_number(R"(\d+(\.\d+)*)");
    static const std::regex unreleased_heading(R"(## \[Unreleased\])");
    static const std::regex link_reference(R"(\[[^\]]+\]: .*)");
    std::vector<Entry> entries;
    Entry* entry = nullptr;
    bool skipping = true; // before the first version, and in Unreleased
    bool in_section = false;
    bool in_item = false;
    std::smatch m;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        int number = static_cast<int>(i) + 1;
        if (line.find('\t') != std::string::npos) fail_at(number, "has a tab: indent with blanks");
        if (std::regex_match(line, link_reference)) continue;
        if (line.rfind("## ", 0) == 0) {
            if (entry != nullptr && !entry->has_item)
                fail_at(entry->line, "version " + entry->version + " lists no changes");
            entry = nullptr;
            in_section = in_item = false;
            skipping = std::regex_match(line, unreleased_heading);
            if (skipping) {
                if (!entries.empty()) fail_at(number, "Unreleased comes before every version");
                continue;
            }
            if (!std::regex_match(line, m, version_heading))
                fail_at(number, "a version's heading is \"## [VERSION] - YYYY-MM-DD\"");
            Entry e{m[1], {std::stoi(m[2]), std::stoi(m[3]), std::stoi(m[4])}, number, {}};
            if (!std::regex_match(e.version, version_number))
                fail_at(number, "a version is numbers separated by dots, such as 1.2.0");
            if (!valid(e.date)) fail_at(number, "no such date");
            if (!entries.empty()) {
                const Entry& newer = entries.back();
                if (compare_versions(e.version, newer.version) >= 0)
                    fail_at(number, "version " + e.version + " is not older than " + newer.version +
                                        " above it: newest first");
                Date a = e.date, b = newer.date;
                if (std::tie(a.year, a.month, a.day) > std::tie(b.year, b.month, b.day))
                    fail_at(number, "dated after " + newer.version + " above it");
            }
            entries.push_back(std::move(e));
            entry = &entries.back();
            continue;
        }
        if (skipping || blank(line)) continue;
        if (line.rfind("### ", 0) == 0) {
            std::string name = line.substr(4);
            if (blank(name)) fail_at(number, "a section without a name");
            add_line(*entry, number, "  * " + name + ":");
            in_section = true;
            in_item = false;
            continue;
        }
        if (line.rfind("#", 0) == 0) fail_at(number, "only \"## \" and \"### \" headings");
        if (!in_section) fail_at(number, "changes are listed under a \"### \" heading");
        if (line.rfind("- ", 0) == 0) {
            entry->has_item = in_item = true;
        } else if (line.rfind("  ", 0) != 0 || !in_item) {
            fail_at(number, "a change is a \"- \" item, continued on lines indented by two blanks");
        }
        add_line(*entry, number, "    " + line);
    }
    if (entry != nullptr && !entry->has_item)
        fail_at(entry->line, "version " + entry->version + " lists no changes");
    if (entries.empty()) fail_at(0, "has no version: \"## [VERSION] - YYYY-MM-DD\"");
    return entries;
}

std::string debian_changelog(const std::vector<Entry>& entries, const std::string& package,
                             const std::string& maintainer) {
    std::string out;
    for (const Entry& e : entries) {
        if (!out.empty()) out += "\n";
        out += package + " (" + e.version + ") unstable; urgency=medium\n\n";
        for (const std::string& line : e.lines)
            out += line + "\n";
        out += "\n -- " + maintainer + "  " + rfc2822(e.date) + "\n";
    }
    return out;
}

// ---- copyright ----

// Debian's short names of the licenses a title may give.
struct LicenseName {
    const char* title;
    const char* debian;
};
constexpr LicenseName LICENSE_NAMES[] = {{"MIT License", "Expat"}};

std::string debian_copyright(const std::vector<std::string>& lines, const std::string& package) {
    static const std::regex copyright_line(R"(Copyright \([cC]\) (\d{4}(?:[-, ]+\d{4})* .+))");
    std::size_t i = 0;
    while (i < lines.size() && blank(lines[i]))
        ++i;
    if (i == lines.size()) fail_at(0, "is empty");
    const char* name = nullptr;
    std::string title = lines[i];
    for (const LicenseName& known : LICENSE_NAMES)
        if (title == known.title) name = known.debian;
    if (name == nullptr) fail_at(static_cast<int>(i) + 1, "not a license title debdocs knows");
    ++i;
    while (i < lines.size() && blank(lines[i]))
        ++i;
    std::smatch m;
    if (i == lines.size() || !std::regex_match(lines[i], m, copyright_line))
        fail_at(static_cast<int>(i) + 1, "expected \"Copyright (c) YEARS HOLDER\"");
    std::string holder = m[1];
    ++i;
    while (i < lines.size() && blank(lines[i]))
        ++i;
    std::size_t end = lines.size();
    while (end > i && blank(lines[end - 1]))
        --end;
    if (i == end) fail_at(0, "has no terms after the copyright line");

    std::string out = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
                      "Upstream-Name: " +
                      package + "\nComment: LICENSE in the source states the " + title +
                      ", whose name here is Debian's.\n\n"
                      "Files: *\n"
                      "Copyright: " +
                      holder + "\nLicense: " + name + "\n\nLicense: " + name + "\n";
    for (; i < end; ++i)
        out += blank(lines[i]) ? std::string(" .\n") : " " + lines[i] + "\n";
    return out;
}

} // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "changelog" && argc == 6) {
        std::string maintainer = argv[4];
        static const std::regex contact(R"([^<>]+ <[^<>@ ]+@[^<>@ ]+>)");
        if (!std::regex_match(maintainer, contact)) {
            std::cerr << "debdocs: the maintainer is \"Name <address>\", not \"" << maintainer
                      << "\"\n";
            return 1;
        }
        auto entries = read_changelog(read_lines(argv[2]));
        write_file(argv[5], debian_changelog(entries, argv[3], maintainer));
        return 0;
    }
    if (command == "copyright" && argc == 5) {
        write_file(argv[4], debian_copyright(read_lines(argv[2]), argv[3]));
        return 0;
    }
    std::cerr << "usage: debdocs changelog CHANGELOG.md PACKAGE MAINTAINER OUTPUT\n"
                 "       debdocs copyright LICENSE PACKAGE OUTPUT\n";
    return 1;
}
