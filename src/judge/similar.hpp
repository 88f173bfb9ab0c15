// Similar submissions, for a teacher to look at: two programs are compared
// by their compiled code with the names and the constants abstracted away,
// so that a copy with every identifier renamed and every constant changed
// is the same code, and a copy whose routines are declared in another order
// is the same routines.
//
// The code of each routine is a stream of tokens, one per instruction:
// the opcode with only the operands that say what the code does, not what
// it was called:
//   LDC n       the number dropped (every constant is one token)
//   OPR, COP    the operation kept
//   LOD, STR, LDA, MST  the level difference kept, the cell dropped (a
//               variable's cell changes with the order of the declarations)
//   CUP n,x     the cells passed kept, the routine's address dropped (it
//               changes with the order the routines are declared in)
//   UJP, FJP    only whether the jump goes forwards or backwards
//   ENT, IND    the frame's size and the cell dropped
// Routines are kept apart: no run of tokens crosses from one to another,
// so their order does not matter.
//
// The comparison is the one plagiarism detectors use on token streams
// (greedy string tiling over k-grams): every run of at least K tokens that
// is the same in both programs is found through a hash of its first K
// (each gram looked up at 16 places of the other program at most), the
// longest runs are taken first, and a token is taken once on each side, so
// that a statement repeated ten times in one program matches one copy in
// the other only once; a run that overlaps one taken already counts with
// what is left of it, when that is K tokens or more.  A routine shorter
// than K matches only a routine the same from end to end.  The score is
// the share of both programs' tokens that lie in such tiles.  All K-grams
// are hashed, not a winnowed sample of them: a program has at most
// CODE_MAX instructions and a class a few hundred programs, so the exact
// comparison is affordable and gives exact regions.  A pair is tiled only
// when a cheap bound (the tokens that lie in some K-gram the other program
// has too) reaches the threshold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The shortest run of tokens taken as a match.
inline constexpr std::size_t SIMILAR_K = 5;

// The score a pair must reach to be shown, in percent, unless --threshold
// says otherwise.
inline constexpr unsigned SIMILAR_DEFAULT_THRESHOLD = 70;

// A program's code as the comparison sees it.
struct SimilarCode {
    // The tokens of every routine, one routine after another.
    std::vector<std::uint32_t> tokens;
    // Per token, the source lines of the construct its instruction was
    // compiled for (0 when unknown).
    std::vector<int> first_line, last_line;
    // Where each routine's tokens begin; routine r holds the tokens from
    // routine_start[r] to routine_start[r+1] (the last to the end).
    std::vector<std::size_t> routine_start;
    // Each K-gram's hash (a whole routine's for one shorter than K) with
    // the position of its first token, sorted by hash then position.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> grams;
};

// A compiled program's instructions as the comparison reads them.
struct SimilarInstruction {
    unsigned op;    // the Opcode
    std::int32_t l; // the operands
    std::int32_t a;
    int routine;    // the innermost routine it belongs to (any number; -1 none)
    int first_line; // the source lines it was compiled for (0 unknown)
    int last_line;
};

// The code of a program from its instructions, in the order of the store.
SimilarCode similar_code(const std::vector<SimilarInstruction>& instructions);

// Compiles `source` (a file's bytes) and makes its code.  False, with the
// compiler's message (UTF-8, one line, its place first) in `error`, when it
// does not compile.
bool similar_code_of(std::string_view source, SimilarCode& code, std::string& error);

// A stretch of code the same in both programs: the tokens from a_first
// (b_first) on, `length` of them.
struct SimilarTile {
    std::size_t a_first, b_first, length;
};

struct SimilarPair {
    std::size_t a = 0, b = 0;       // the programs compared (their indexes)
    unsigned score = 0;             // percent, 0 to 100
    std::vector<SimilarTile> tiles; // in the order of a's tokens
};

// The share, in percent rounded down, of the tokens of `a` and `b` that lie
// in some K-gram that the other has too: never less than compare_codes'
// score, and quick.
unsigned similar_bound(const SimilarCode& a, const SimilarCode& b);

// Tiles the two programs and scores them.
SimilarPair compare_codes(const SimilarCode& a, const SimilarCode& b);

// Every pair of `codes` (a null one, a program left out, is in none) whose
// score is at least `threshold`, highest first, then in the order of the
// programs.
std::vector<SimilarPair> similar_pairs(const std::vector<const SimilarCode*>& codes,
                                       unsigned threshold);
