#include "judge/playground.hpp"

#include "driver/api.hpp"
#include "judge/compare.hpp"
#include "judge/text.hpp"

std::string base64url(std::string_view bytes) {
    static const char DIGITS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t n = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                          static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1]))
                              << 8 |
                          static_cast<unsigned char>(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6)
            out += DIGITS[(n >> shift) & 63];
    }
    std::size_t left = bytes.size() - i;
    if (left > 0) {
        std::uint32_t n = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (left == 2)
            n |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out += DIGITS[(n >> 18) & 63];
        out += DIGITS[(n >> 12) & 63];
        if (left == 2) out += DIGITS[(n >> 6) & 63];
    }
    return out;
}

std::optional<std::uint64_t>
steps_before_difference(std::string_view source, std::string_view input, std::string_view expected,
                        std::string_view actual, const Settings& settings) {
    auto want = output_lines(expected, settings.ignore_trailing_space);
    auto got = output_lines(actual, settings.ignore_trailing_space);
    long line = first_different_line(want, got);
    if (line < 0 || static_cast<std::size_t>(line) >= got.size()) return std::nullopt;
    std::string_view a = got[static_cast<std::size_t>(line)];
    std::string_view b = static_cast<std::size_t>(line) < want.size()
                             ? want[static_cast<std::size_t>(line)]
                             : std::string_view();
    std::size_t same = 0;
    while (same < a.size() && same < b.size() && a[same] == b[same])
        ++same;
    std::uint64_t byte = static_cast<std::uint64_t>(a.data() - actual.data()) + same;
    if (byte >= actual.size()) return std::nullopt;

    CompileOptions compile;
    compile.encoding = Encoding::utf8;
    compile.positions = false;
    compile.large_stack = true;
    if (compile_text(source, compile).error != ErrorKind::none) return std::nullopt;
    std::string_view rest = input;
    RunOptions run;
    run.encoding = Encoding::utf8;
    run.input = view_reader(rest);
    run.budget = settings.steps;
    return steps_before_output_byte(run, byte);
}

PlaygroundLinks::PlaygroundLinks(std::string base, const Settings& settings)
    : base_(std::move(base)), settings_(settings) {
    // The page's own fragment is the link's.
    std::size_t hash = base_.find('#');
    if (hash != std::string::npos) base_.resize(hash);
}

const std::string& PlaygroundLinks::link(const Judgement& j, std::size_t s, std::size_t c,
                                         const TestCase* test) {
    std::uint64_t key = std::uint64_t{s} * j.cases.size() + c;
    auto made = made_.find(key);
    if (made != made_.end()) return made->second;
    std::string& url = made_[key];
    const Outcome* outcome = j.find(s, c);
    if (outcome == nullptr || test == nullptr || s >= j.sources.size()) return url;
    const SourceShown& source = j.sources[s];
    if (!source.read || source.size != source.head.size() || source.size > LINK_SOURCE_BYTES)
        return url;
    std::string text = source_to_utf8(source.head);
    std::string input = to_utf8(test->input, encoding_of_expected(test->input));
    std::uint64_t at = 0;
    const char* why = nullptr;
    switch (outcome->verdict) {
    case Verdict::WA: {
        if (outcome->output.size() != outcome->output_bytes) break; // cut: not seen whole
        std::optional<std::uint64_t> before =
            steps_before_difference(text, input, expected_text(test->expected),
                                    to_utf8(outcome->output, settings_.encoding), settings_);
        at = before ? *before : outcome->steps;
        why = "wa";
        break;
    }
    case Verdict::RE:
        // A run that the machine ended, not one that crashed.
        if (outcome->steps == 0) break;
        at = outcome->steps;
        why = "re";
        break;
    case Verdict::TLE:
        if (outcome->steps != settings_.steps) break; // a process's time limit
        at = outcome->steps;
        why = "tle";
        break;
    case Verdict::AC:
    case Verdict::CE:
    case Verdict::OLE: break;
    }
    if (why == nullptr) return url;
    url = base_ + "#code=" + base64url(text) + "&input=" + base64url(input) +
          "&debug&at=" + number(at) + "&why=" + why;
    return url;
}
