// The message dispatch: one JSON-RPC message in, the framed messages it
// causes (its response, published diagnostics) out, as a string.
//
//   std::string out = handle_message(body);   // write `out` as it is
//   if (server.exited) return server.exit_status;
//
// One server per process; its state is the document store and `server`.
#pragma once

#include <string>
#include <string_view>

#include "lsp/transport.hpp"

struct ServerState {
    bool initialized = false;        // "initialize" answered
    bool shutdown_requested = false; // "shutdown" answered
    bool exited = false;             // "exit" seen: the loop ends
    int exit_status = 1;             // 0 after a shutdown, 1 without
};

extern ServerState server;

// Handles one message body.
std::string handle_message(std::string_view body);

// The answer to a frame that could not be read as a message.
std::string handle_bad_frame(FrameStatus status);

// Forgets every document and starts over as a fresh server.
void reset_server();
