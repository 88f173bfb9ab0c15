// What the judge is given: the case folder and the submissions.
//
// A case NAME is a file NAME.out, the exact output expected, with NAME.in
// beside it as the standard input (none: empty input).  A submission is a
// source file, or a folder whose .tsu files are each one (not looking into
// its subfolders).  Both are taken in name order: the bytes of the names,
// compared as unsigned.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct TestCase {
    std::string name;     // NAME
    std::string input;    // the bytes of NAME.in
    std::string expected; // the bytes of NAME.out
};

// The most bytes of a case's file the judge reads.
inline constexpr std::size_t CASE_BYTES = std::size_t{256} << 20;

// Reads every case of `folder`, each file opened once: a regular file of
// at most CASE_BYTES, a link followed only inside the folder.  On failure returns false with the
// problem said in `error` (a message for standard error): a folder or a
// file that cannot be read, no case at all, or a NAME.in without its
// NAME.out.  Without `outputs_needed` (the outputs are to be made), a
// NAME.in alone is a case too, expecting nothing.
bool read_cases(const std::string& folder, std::vector<TestCase>& cases, std::string& error,
                bool outputs_needed = true);

// The submissions the arguments name, each once, in name order; a path as
// given, tidied (lexically normal: no "./", no doubled "/").  False with
// `error` when an argument names nothing.
bool find_submissions(const std::vector<std::string>& arguments,
                      std::vector<std::string>& submissions, std::string& error);

// Keeps the K-th (from 1) of N equal shares of `items`, in order: the
// shares' sizes differ by one at most, and the N shares together hold every
// item once.
void keep_share(std::vector<std::string>& items, unsigned k, unsigned n);

// For merge: the folder of `folders` (as given on the command line) that
// a report's submission lies under, or "" when none does.  A name that is
// empty, absolute, holds a NUL or a ".." is under none: merge reads only
// what lies under a folder it was given.
std::string folder_holding(const std::string& submission, const std::vector<std::string>& folders);
