// tsumiki-dap: a debug adapter for tsumiki programs over standard input
// and output (the Debug Adapter Protocol).  It compiles the program with
// positions and names and runs it in a debugging session: breakpoints on
// lines and instructions, steps by statement and by instruction, backwards
// too, the frames with their names, the machine's registers and cells.
//
//   tsumiki-dap          (started by the editor; see editors/)
//
// A reader thread takes the messages as they come, so that a pause reaches
// a program that runs on; the requests are answered in order on the main
// thread, which runs the program.  Exits 0 after "disconnect", 1 when its
// input ends first.
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "dap/adapter.hpp"
#include "lsp/transport.hpp"
#include "version.hpp"

namespace {

// A message read, or what went wrong reading it.
struct Incoming {
    json message;
    std::string problem;   // a frame that could not be used
    bool too_deep = false; // `message` lacks its parts nested too deep
    bool end = false;      // the input has ended
};

struct Queue {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Incoming> items;

    void push(Incoming item) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            items.push_back(std::move(item));
        }
        ready.notify_one();
    }
    Incoming pop() {
        std::unique_lock<std::mutex> lock(mutex);
        ready.wait(lock, [this] { return !items.empty(); });
        Incoming item = std::move(items.front());
        items.pop_front();
        return item;
    }
};

bool write_stdout(const std::string& bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
           std::fflush(stdout) == 0;
}

// Reads every message; a pause, a terminate or a disconnect also stops the
// motion under way at once, for the main thread to answer it.
void read_messages(Queue& queue, Adapter& adapter) {
    FrameReader in{Reader{}};
    std::string body;
    for (;;) {
        FrameStatus status = next_frame(in, body);
        if (status == FrameStatus::end) break;
        Incoming item;
        if (status == FrameStatus::bad_header) {
            item.problem = "a header without a valid Content-Length";
        } else if (status == FrameStatus::too_large) {
            item.problem = "a message longer than the adapter takes";
        } else {
            BodyStatus parsed = parse_body(body, item.message);
            if (parsed == BodyStatus::not_json) item.problem = "a message that is not JSON";
            item.too_deep = parsed == BodyStatus::too_deep;
            std::string command = command_of(item.message);
            if (command == "pause" || command == "terminate" || command == "disconnect")
                adapter.interrupt();
        }
        queue.push(std::move(item));
    }
    Incoming end;
    end.end = true;
    queue.push(std::move(end));
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        std::string arg = argv[1];
        if (arg == "--version") {
            std::printf("tsumiki-dap %s\n", tsumiki_version);
            return 0;
        }
        std::fprintf(stderr,
                     "usage: tsumiki-dap   (a debug adapter: the editor starts it and speaks "
                     "the Debug Adapter Protocol on its standard input and output)\n");
        return arg == "--help" ? 0 : 2;
    }
    // A client that goes away shows as a failed write, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    Channel out{write_stdout};
    // Both live until the process ends: the reader thread is never joined,
    // as it may be waiting on standard input.
    auto* adapter = new Adapter(out);
    auto* queue = new Queue;
    std::thread(read_messages, std::ref(*queue), std::ref(*adapter)).detach();
    for (;;) {
        Incoming item = queue->pop();
        if (item.end) break;
        if (!item.problem.empty())
            adapter->complain(item.problem);
        else if (item.too_deep)
            adapter->refuse(item.message, "the message " + too_deep_text());
        else
            adapter->handle(item.message);
        if (adapter->done() || out.broken()) break;
    }
    int status = adapter->done() ? 0 : 1;
    std::fflush(stdout);
    std::_Exit(status);
}
