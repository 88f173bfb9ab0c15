// Links from the reports to the playground's debugger: each run that went
// wrong (WA, RE, TLE) opens there with the submission's source, the case's
// input and the run stopped where it went wrong.
//
// The link carries everything in its address, as the playground's share
// links do: BASE#code=SOURCE&input=INPUT&debug&at=N&why=W, SOURCE and
// INPUT base64url of their UTF-8 text, N the instructions the debugger
// runs before it stops, W what the page says there:
//   wa   N runs before the write (PUT, or a read's prompt) of the first
//        byte of the first line that differs (counted again here, on the
//        traced core, by steps_before_output_byte); when the run's output
//        ends before that line, N is the whole run
//   re   N is the run's count, the failing instruction included: the
//        debugger stops just before it, at the error
//   tle  N is the instruction limit (--steps)
// A run the page would not show the same way has no link: a compile
// error, an output over its limit, a run that ended in a crash or a time
// limit of the process rather than the instruction limit, a WA whose
// output was kept only in part, a source the worker did not read whole or
// longer than LINK_SOURCE_BYTES.
//
// The count of a WA is made in the judge's own process, not in a run
// process: the submission is compiled and run again, under the same
// instruction limit, only as far as that write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "judge/inputs.hpp"
#include "judge/judgement.hpp"

// Where the playground is when --playground does not say: where the
// README's `python3 -m http.server -d build/wasm/site` serves it.
inline constexpr const char* DEFAULT_PLAYGROUND = "http://localhost:8000/";

// The most bytes of source a link carries (more: no link).
inline constexpr std::size_t LINK_SOURCE_BYTES = 16 * 1024;

// base64url (RFC 4648, section 5) without padding.
std::string base64url(std::string_view bytes);

// The links of one judgement, each worked out once for every report that
// shows it.
class PlaygroundLinks {
  public:
    PlaygroundLinks(std::string base, const Settings& settings);

    // The link (not escaped) for a submission's run of a case; empty when
    // it has none.
    const std::string& link(const Judgement& judgement, std::size_t submission,
                            std::size_t case_index, const TestCase* test);

  private:
    std::string base_; // the playground's address, without a fragment
    Settings settings_;
    std::unordered_map<std::uint64_t, std::string> made_;
};

// The instructions a run of `source` on `input` (UTF-8 both) runs before
// the write of the first byte where its output (`actual`, UTF-8, as the
// judge saw it) departs from `expected` (UTF-8), by lines as the judge
// compares them; none when the output has no such line.
std::optional<std::uint64_t>
steps_before_difference(std::string_view source, std::string_view input, std::string_view expected,
                        std::string_view actual, const Settings& settings);
