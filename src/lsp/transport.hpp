// The protocol's framing: each message is a header block ("Content-Length:
// N", other fields ignored, lines ended by CR LF, then an empty line) and N
// bytes of JSON.
//
//   FrameReader in{reader};
//   std::string body;
//   while (next_frame(in, body) != FrameStatus::end) ...
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

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
