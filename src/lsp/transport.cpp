// The protocol's framing over a Reader (see transport.hpp).
#include "lsp/transport.hpp"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::size_t READ_CHUNK = 64 * 1024;

// Past this a Content-Length is taken as malformed rather than skipped.
constexpr unsigned long long LENGTH_MAX = 1ull << 48;

// Makes sure at least one unread byte is buffered; false at the end.
bool fill(FrameReader& in) {
    if (in.next < in.buffer.size()) return true;
    if (in.at_end) return false;
    in.buffer.resize(READ_CHUNK);
    in.next = 0;
    std::size_t got = read_bytes(in.from, in.buffer.data(), READ_CHUNK);
    in.buffer.resize(got);
    if (got == 0) in.at_end = true;
    return got != 0;
}

// One header line without its CR LF (a bare LF ends it too), at most
// HEADER_LINE_MAX bytes kept; false at the end of the input.
bool header_line(FrameReader& in, std::string& line) {
    line.clear();
    while (fill(in)) {
        char c = in.buffer[in.next++];
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
        if (line.size() < HEADER_LINE_MAX) line.push_back(c);
    }
    return false;
}

// Takes n body bytes into `body`, or drops them when it is null.
bool take(FrameReader& in, std::size_t n, std::string* body) {
    while (n > 0) {
        if (!fill(in)) return false;
        std::size_t part = std::min(n, in.buffer.size() - in.next);
        if (body != nullptr) body->append(in.buffer, in.next, part);
        in.next += part;
        n -= part;
    }
    return true;
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

} // namespace

long long content_length(std::string_view line) {
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return -1;
    if (!same_ignoring_case(line.substr(0, colon), "Content-Length")) return -1;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    if (value.empty()) return -1;
    unsigned long long n = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + static_cast<unsigned>(c - '0');
        if (n > LENGTH_MAX) return -1;
    }
    return static_cast<long long>(n);
}

FrameStatus next_frame(FrameReader& in, std::string& body) {
    body.clear();
    std::string line;
    long long length = -1;
    bool any = false;
    for (;;) {
        if (!header_line(in, line)) return FrameStatus::end;
        if (line.empty()) {
            if (any) break;
            continue; // blank lines between messages
        }
        any = true;
        long long n = content_length(line);
        if (n >= 0) length = n;
    }
    if (length < 0) return FrameStatus::bad_header;
    if (static_cast<unsigned long long>(length) > FRAME_MAX) {
        if (!take(in, static_cast<std::size_t>(length), nullptr)) return FrameStatus::end;
        return FrameStatus::too_large;
    }
    body.reserve(static_cast<std::size_t>(length));
    if (!take(in, static_cast<std::size_t>(length), &body)) return FrameStatus::end;
    return FrameStatus::message;
}

std::string frame(std::string_view body) {
    std::string out = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    out.append(body);
    return out;
}

BodyStatus parse_body(std::string_view body, nlohmann::json& message) {
    using nlohmann::json;
    bool too_deep = false;
    // `depth` counts the arrays and objects around the one that opens.
    json::parser_callback_t keep = [&too_deep](int depth, json::parse_event_t event, json&) {
        bool opens =
            event == json::parse_event_t::object_start || event == json::parse_event_t::array_start;
        if (!opens || depth < JSON_DEPTH_MAX) return true;
        too_deep = true;
        return false;
    };
    message = json::parse(body, keep, false);
    if (message.is_discarded()) return BodyStatus::not_json;
    return too_deep ? BodyStatus::too_deep : BodyStatus::ok;
}

std::string too_deep_text() {
    return "nests deeper than " + std::to_string(JSON_DEPTH_MAX) + " levels of arrays and objects";
}
