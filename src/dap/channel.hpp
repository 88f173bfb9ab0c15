// The adapter's side of the conversation: every message it writes goes
// through one channel, which numbers it (seq) and writes it whole, framed,
// so that the thread running the program (output events) and the one
// answering requests never interleave their bytes.
//
//   Channel out{write_stdout};
//   out.respond(request, body);            // success
//   out.fail(request, "no program");       // success: false, with a message
//   out.event("stopped", {{"reason", "step"}, {"threadId", 1}});
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

using json = nlohmann::json;

class Channel {
public:
    // `write` takes one framed message; false when it could not be written
    // (the client has gone).
    explicit Channel(std::function<bool(const std::string&)> write) : write_(std::move(write)) {}

    void respond(const json& request, json body = nullptr);
    void fail(const json& request, std::string_view message);
    void event(std::string_view name, json body = nullptr);
    // The body as text: invalid UTF-8 (a program's bytes) is replaced, never
    // thrown on.
    static std::string text(const json& message);
    bool broken() const;

private:
    void send(json message);

    std::function<bool(const std::string&)> write_;
    mutable std::mutex mutex_;
    long long seq_ = 1;
    bool broken_ = false;
};

// The command of a request and its seq, as well as they can be read: ""
// and 0 for anything missing or of the wrong type.
std::string command_of(const json& request);
long long seq_of(const json& request);
