// tsumiki-lsp: a language server for tsumiki programs over standard input
// and output (the Language Server Protocol, full-text sync).  It compiles
// each document with the compiler itself and answers with its error, its
// outline, declarations, hovers and the compiled code.
//
//   tsumiki-lsp          (started by the editor; see editors/)
//   tsumiki-lsp --version
//
// Other arguments are ignored: clients may add their own, such as --stdio.
// Exits 0 after "shutdown" and "exit", 1 on "exit" without "shutdown" or
// when its input ends first.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "diag/diag.hpp"

#include "lsp/server.hpp"
#include "lsp/transport.hpp"
#include "version.hpp"

namespace {

bool send(const std::string& out) {
    if (out.empty()) return true;
    return std::fwrite(out.data(), 1, out.size(), stdout) == out.size() && std::fflush(stdout) == 0;
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf(msg(MSG_L_VERSION), tsumiki_version);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
    // A client that goes away shows as a failed write, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    FrameReader in{Reader{}};
    std::string body;
    for (;;) {
        FrameStatus status = next_frame(in, body);
        if (status == FrameStatus::end) return server.shutdown_requested ? 0 : 1;
        std::string out =
            status == FrameStatus::message ? handle_message(body) : handle_bad_frame(status);
        if (!send(out)) return 1;
        if (server.exited) return server.exit_status;
    }
}
