// The manifest: how a case folder's cases score, in a file manifest.txt
// beside them.  Plain lines; "#" starts a comment, blanks separate words:
//
//   POINTS CASE...   the cases are a group: POINTS (a whole number) when
//                    every one of them is AC, else none (one case: its
//                    weight)
//   hidden CASE...   the student's feedback shows only these cases'
//                    verdicts and messages, never their input or output
//
// A case named by no group is a group of its own worth one point; without
// a manifest every case is.  A case in two groups, a name that is no case,
// or a number too large is an error, with its line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "judge/judgement.hpp"

// The manifest's name in the case folder, and the most bytes of it read.
inline constexpr const char* MANIFEST_NAME = "manifest.txt";
inline constexpr std::size_t MANIFEST_BYTES = std::size_t{1} << 20;
// The most points a group may be worth.
inline constexpr std::uint64_t MAX_GROUP_POINTS = 1'000'000;

// Reads `folder`'s manifest, if it has one, into judgement.groups and
// judgement.hidden (its cases named by judgement.cases): a regular file of
// at most MANIFEST_BYTES inside the folder.  False with `error` (a message
// for standard error) when it cannot be read or says something wrong.
bool read_manifest(const std::string& folder, Judgement& judgement, std::string& error);

// The manifest's bytes (a UTF-8 byte order mark at their start left out);
// `path` names it in complaints.
bool parse_manifest(std::string_view bytes, const std::string& path, Judgement& judgement,
                    std::string& error);
