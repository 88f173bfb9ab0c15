// The protocol's framing: each message is a header block ("Content-Length:
// N", other fields ignored, lines ended by CR LF, then an empty line) and N
// bytes of JSON, parsed with a bound on its nesting.  The language server
// and the debug adapter share both.
//
//   FrameReader in{reader};
//   std::string body;
//   while (next_frame(in, body) != FrameStatus::end) ...
//   json message;
//   BodyStatus status = parse_body(body, message);
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "diag/stream.hpp"

// The largest body the server takes; a longer one is read past and answered
// with an error.
inline constexpr std::size_t FRAME_MAX = 64u << 20;

// The longest header line that is read whole; the rest of a longer one is
// dropped (it cannot be a valid Content-Length anyway).
inline constexpr std::size_t HEADER_LINE_MAX = 1024;

enum class FrameStatus {
    message,    // `body` holds one message
    bad_header, // a header block without a usable Content-Length
    too_large,  // a body past FRAME_MAX, read past
    end,        // the input ended (cleanly or inside a message)
};

// Bytes from a Reader, buffered.
struct FrameReader {
    Reader from;
    std::string buffer{};
    std::size_t next = 0; // the first unread byte of `buffer`
    bool at_end = false;
};

// Reads the next message into `body`.
FrameStatus next_frame(FrameReader& in, std::string& body);

// A body with its header, ready to be written.
std::string frame(std::string_view body);

// The Content-Length of a header line (any case, blanks around the
// number), or -1 when the line is no such field or its number is malformed.
long long content_length(std::string_view line);

// How deep the arrays and objects of a message may nest, the message itself
// counting as one level: the protocols' own messages go a handful deep.
// The JSON library copies, compares and prints a value recursively, so a
// part nested deeper is dropped as it is parsed and never built.
inline constexpr int JSON_DEPTH_MAX = 64;

enum class BodyStatus {
    ok,       // `message` holds the whole message
    not_json, // the body is no JSON text
    too_deep, // `message` holds the message without its parts nested past JSON_DEPTH_MAX
};

// Parses a message body into `message`.  A message that nests too deep
// keeps what lies above the limit (its id or seq, its method or command),
// so that it can be answered.
BodyStatus parse_body(std::string_view body, nlohmann::json& message);

// The words for a message refused as too deep: "nests deeper than 64 levels
// of arrays and objects".
std::string too_deep_text();
