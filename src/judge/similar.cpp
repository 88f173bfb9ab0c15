#include "judge/similar.hpp"

#include <algorithm>
#include <map>
#include <queue>

#include "debug/program.hpp"
#include "driver/api.hpp"
#include "judge/text.hpp"

namespace {

// The token of one instruction: the opcode in the low byte, what is kept
// of its operands above it (similar.hpp).
std::uint32_t token_of(const SimilarInstruction& in, int index) {
    std::uint32_t kept = 0;
    auto clamp = [](std::int32_t n) {
        return static_cast<std::uint32_t>(std::clamp<std::int32_t>(n, -1, 0xFFFE) + 1);
    };
    switch (in.op) {
    case OPR:
    case COP: kept = clamp(in.a); break;
    case LOD:
    case STR:
    case LDA:
    case MST:
    case CUP: kept = clamp(in.l); break;
    case UJP:
    case FJP: kept = in.a > index ? 1 : 2; break;
    default: break;
    }
    return (kept << 8) | (in.op & 0xFFu);
}

constexpr std::uint64_t FNV_OFFSET = 14695981039346656037ull;
constexpr std::uint64_t FNV_PRIME = 1099511628211ull;

std::uint64_t hash_tokens(const std::uint32_t* tokens, std::size_t n, bool whole) {
    std::uint64_t h = whole ? FNV_OFFSET ^ 0x9E3779B97F4A7C15ull : FNV_OFFSET;
    for (std::size_t i = 0; i < n; ++i)
        for (int shift = 0; shift < 32; shift += 8) {
            h ^= (tokens[i] >> shift) & 0xFFu;
            h *= FNV_PRIME;
        }
    return h;
}

// The end of the routine that token `i` belongs to.
std::size_t routine_end(const SimilarCode& code, std::size_t i) {
    auto next = std::upper_bound(code.routine_start.begin(), code.routine_start.end(), i);
    return next == code.routine_start.end() ? code.tokens.size() : *next;
}

std::size_t routine_begin(const SimilarCode& code, std::size_t i) {
    auto next = std::upper_bound(code.routine_start.begin(), code.routine_start.end(), i);
    return next == code.routine_start.begin() ? 0 : *(next - 1);
}

// The length of gram g: K, or its whole routine's when that is shorter.
std::size_t gram_length(const SimilarCode& code, std::size_t first) {
    return std::min(SIMILAR_K, routine_end(code, first) - first);
}

unsigned percent(std::size_t part, std::size_t whole) {
    return whole == 0 ? 0 : static_cast<unsigned>(part * 100 / whole);
}

// The tokens of `a` that lie in a gram `b` has too, counted.
std::size_t covered(const SimilarCode& a, const SimilarCode& b) {
    std::vector<bool> in(a.tokens.size(), false);
    auto ib = b.grams.begin();
    for (const auto& [hash, first] : a.grams) {
        while (ib != b.grams.end() && ib->first < hash)
            ++ib;
        if (ib == b.grams.end() || ib->first != hash) continue;
        std::size_t n = gram_length(a, first);
        for (std::size_t k = first; k < first + n; ++k)
            in[k] = true;
    }
    return static_cast<std::size_t>(std::count(in.begin(), in.end(), true));
}

// The most places in `b` looked at for one gram of `a`: a program that
// repeats one statement thousands of times is compared as far as they
// allow, and the comparison still ends quickly.
constexpr std::size_t MAX_CANDIDATES = 16;

} // namespace

SimilarCode similar_code(const std::vector<SimilarInstruction>& instructions) {
    SimilarCode code;
    // The routines in the order of their first instruction, each one's
    // instructions in the order of the store.
    std::map<int, std::size_t> rank;
    for (const SimilarInstruction& in : instructions)
        rank.emplace(in.routine, rank.size());
    std::vector<std::size_t> order(instructions.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        return rank[instructions[x].routine] < rank[instructions[y].routine];
    });
    for (std::size_t k = 0; k < order.size(); ++k) {
        const SimilarInstruction& in = instructions[order[k]];
        if (k == 0 || in.routine != instructions[order[k - 1]].routine)
            code.routine_start.push_back(code.tokens.size());
        code.tokens.push_back(token_of(in, static_cast<int>(order[k])));
        code.first_line.push_back(in.first_line);
        code.last_line.push_back(in.last_line);
    }
    for (std::size_t r = 0; r < code.routine_start.size(); ++r) {
        std::size_t begin = code.routine_start[r];
        std::size_t end =
            r + 1 < code.routine_start.size() ? code.routine_start[r + 1] : code.tokens.size();
        if (end - begin < SIMILAR_K) {
            code.grams.emplace_back(hash_tokens(&code.tokens[begin], end - begin, true),
                                    static_cast<std::uint32_t>(begin));
            continue;
        }
        for (std::size_t i = begin; i + SIMILAR_K <= end; ++i)
            code.grams.emplace_back(hash_tokens(&code.tokens[i], SIMILAR_K, false),
                                    static_cast<std::uint32_t>(i));
    }
    std::sort(code.grams.begin(), code.grams.end());
    return code;
}

bool similar_code_of(std::string_view source, SimilarCode& code, std::string& error) {
    CompileOptions options;
    options.encoding = Encoding::utf8;
    options.names = true;
    Compiled compiled = compile_text(source, options);
    if (compiled.error != ErrorKind::none) {
        std::string_view message = compiled.message;
        message = message.substr(0, message.find('\n'));
        error =
            say(MSG_J_PLACE, {number(static_cast<unsigned>(std::max(compiled.where.line, 0))),
                              number(static_cast<unsigned>(std::max(compiled.where.column, 0)))}) +
            ": " + visible(message, 200);
        return false;
    }
    ProgramMap map = map_program(compiled, std::string(source));
    std::vector<SimilarInstruction> instructions;
    for (std::size_t i = 0; i < map.code.size(); ++i) {
        const Instruction& in = map.code[i];
        const SourceRange& range = map.code_range[i];
        instructions.push_back({static_cast<unsigned>(in.op), in.l, in.a, map.routine_of[i],
                                range.first.line, std::max(range.first.line, range.last.line)});
    }
    code = similar_code(instructions);
    return true;
}

unsigned similar_bound(const SimilarCode& a, const SimilarCode& b) {
    return percent(covered(a, b) + covered(b, a), a.tokens.size() + b.tokens.size());
}

SimilarPair compare_codes(const SimilarCode& a, const SimilarCode& b) {
    // Every run the two programs share, found once from where it begins:
    // a gram of `a` with the same gram in `b`, extended while the tokens
    // stay the same within both routines.
    std::vector<SimilarTile> runs;
    auto ib = b.grams.begin();
    for (const auto& [hash, pa] : a.grams) {
        while (ib != b.grams.end() && ib->first < hash)
            ++ib;
        std::size_t n = gram_length(a, pa);
        std::size_t begin_a = routine_begin(a, pa), end_a = routine_end(a, pa);
        std::size_t looked = 0;
        for (auto jb = ib; jb != b.grams.end() && jb->first == hash && looked < MAX_CANDIDATES;
             ++jb, ++looked) {
            std::size_t pb = jb->second;
            std::size_t begin_b = routine_begin(b, pb), end_b = routine_end(b, pb);
            if (gram_length(b, pb) != n ||
                !std::equal(&a.tokens[pa], &a.tokens[pa] + n, &b.tokens[pb]))
                continue;
            // A short routine matches only a whole routine.
            if (n < SIMILAR_K && (pb != begin_b || end_b - begin_b != n)) continue;
            // The run was found from its start already.
            if (pa > begin_a && pb > begin_b && a.tokens[pa - 1] == b.tokens[pb - 1]) continue;
            std::size_t length = n;
            while (pa + length < end_a && pb + length < end_b &&
                   a.tokens[pa + length] == b.tokens[pb + length])
                ++length;
            runs.push_back({pa, pb, length});
        }
    }
    // The longest first, each token once on each side: a run that overlaps
    // tiles taken already goes back as its free stretches that are still
    // at least K long.
    auto shorter = [](const SimilarTile& x, const SimilarTile& y) {
        return x.length != y.length     ? x.length < y.length
               : x.a_first != y.a_first ? x.a_first > y.a_first
                                        : x.b_first > y.b_first;
    };
    std::priority_queue<SimilarTile, std::vector<SimilarTile>, decltype(shorter)> queue(
        shorter, std::move(runs));
    std::vector<bool> used_a(a.tokens.size(), false), used_b(b.tokens.size(), false);
    SimilarPair pair;
    while (!queue.empty()) {
        SimilarTile t = queue.top();
        queue.pop();
        std::size_t k = 0;
        bool whole = true;
        while (k < t.length) {
            while (k < t.length && (used_a[t.a_first + k] || used_b[t.b_first + k])) {
                ++k;
                whole = false;
            }
            std::size_t from = k;
            while (k < t.length && !used_a[t.a_first + k] && !used_b[t.b_first + k])
                ++k;
            if (from == 0 && k == t.length) break;
            whole = false;
            if (k - from >= SIMILAR_K) queue.push({t.a_first + from, t.b_first + from, k - from});
        }
        if (!whole) continue;
        std::fill_n(used_a.begin() + static_cast<std::ptrdiff_t>(t.a_first), t.length, true);
        std::fill_n(used_b.begin() + static_cast<std::ptrdiff_t>(t.b_first), t.length, true);
        pair.tiles.push_back(t);
    }
    std::sort(pair.tiles.begin(), pair.tiles.end(),
              [](const SimilarTile& x, const SimilarTile& y) { return x.a_first < y.a_first; });
    std::size_t tiled = 0;
    for (const SimilarTile& t : pair.tiles)
        tiled += t.length;
    pair.score = percent(2 * tiled, a.tokens.size() + b.tokens.size());
    return pair;
}

std::vector<SimilarPair> similar_pairs(const std::vector<const SimilarCode*>& codes,
                                       unsigned threshold) {
    std::vector<SimilarPair> pairs;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        if (codes[i] == nullptr) continue;
        for (std::size_t j = i + 1; j < codes.size(); ++j) {
            if (codes[j] == nullptr || similar_bound(*codes[i], *codes[j]) < threshold) continue;
            SimilarPair pair = compare_codes(*codes[i], *codes[j]);
            if (pair.score < threshold) continue;
            pair.a = i;
            pair.b = j;
            pairs.push_back(std::move(pair));
        }
    }
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const SimilarPair& x, const SimilarPair& y) { return x.score > y.score; });
    return pairs;
}
