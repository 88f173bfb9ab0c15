// libFuzzer harness for the language server's message handling: each input
// is read as a stream of framed messages and, whole, as one message body,
// by a freshly initialized server.  Every message must end in an answer or
// nothing; a crash, a sanitizer report, a leak or a hang is a fault.  The
// documents it opens are compiled by the real compiler (on this thread's
// stack, with its nesting guard).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "lsp/server.hpp"
#include "lsp/transport.hpp"

namespace {

void start_server() {
    reset_server();
    handle_message(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{}})");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);

    start_server();
    std::string_view rest = bytes;
    FrameReader in{view_reader(rest)};
    std::string body;
    for (FrameStatus s; (s = next_frame(in, body)) != FrameStatus::end && !server.exited;)
        s == FrameStatus::message ? handle_message(body) : handle_bad_frame(s);

    start_server();
    handle_message(bytes);
    reset_server();
    return 0;
}
