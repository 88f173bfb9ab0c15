// The similarity check's reports: the pairs of submissions whose code is
// alike, highest first, each with the stretches of source that the same
// code came from side by side; then the submissions left out because
// they do not compile.  A text for the terminal and a page.
#pragma once

#include <string>
#include <vector>

#include "judge/similar.hpp"

// A submission as the check saw it.
struct SimilarEntry {
    std::string name;               // the path as given, tidied
    bool compiled = false;          // false: left out, for the reason in `why`
    std::string why;                // UTF-8, one line
    SimilarCode code;               // compiled: its code
    std::vector<std::string> lines; // its source lines in UTF-8, tabs made spaces; [0] is line 1
};

// Lines of two programs that the same code came from: a_first to a_last
// of the first, b_first to b_last of the second (from 1).
struct SimilarRegion {
    int a_first, a_last, b_first, b_last;
};

// The regions of a pair's tiles, in the order of the first program's
// lines: tiles whose lines touch or overlap on both sides are one region.
std::vector<SimilarRegion> similar_regions(const SimilarPair& pair, const SimilarCode& a,
                                           const SimilarCode& b);

// What was found, for the terminal and for the page (one self-contained
// page; every name and line of a submission escaped).
std::string similar_text(const std::vector<SimilarEntry>& entries,
                         const std::vector<SimilarPair>& pairs, unsigned threshold);
std::string similar_html(const std::vector<SimilarEntry>& entries,
                         const std::vector<SimilarPair>& pairs, unsigned threshold);
