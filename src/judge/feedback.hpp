// The students' feedback (--feedback DIR): for each submission a page
// (HTML, self-contained like the class page) and the same in plain text,
// with that student's results only: the score, and per case the verdict
// and message and, for a case the manifest does not hide, the input, the
// expected and the actual output with the first line that differs marked.
// Of a hidden case only the verdict and a message that quotes nothing of
// the case (a WA's message, which quotes the expected line, is replaced).
#pragma once

#include <string>
#include <vector>

#include "judge/inputs.hpp"
#include "judge/judgement.hpp"
#include "judge/playground.hpp"

// The file name (without .html or .txt) of a submission's feedback: its
// row's number from 1, then its file name with every byte that is not an
// ASCII letter, digit, "-", "_" or "." made "_", so that no name a student
// chose can reach outside the folder or collide with another.
std::string feedback_name(const std::string& submission, std::size_t row);

// With `playground`, each WA, RE and TLE run of a case the manifest does not
// hide links to the playground's debugger (judge/playground.hpp).
std::string feedback_html(const Judgement& judgement, std::size_t submission,
                          const std::vector<TestCase>& cases, const Settings& settings,
                          PlaygroundLinks* playground = nullptr);
std::string feedback_text(const Judgement& judgement, std::size_t submission,
                          const std::vector<TestCase>& cases, const Settings& settings);
