// tsumiki-dap: a debug adapter for tsumiki programs over standard input
// and output (the Debug Adapter Protocol).  It compiles the program with
// positions and names and runs it in a debugging session: breakpoints on
// lines and instructions, steps by statement and by instruction, backwards
// too, the frames with their names, the machine's registers and cells.
//
//   tsumiki-dap          (started by the editor; see editors/)
//
// A reader thread takes the messages as they come and queues them; the
// main thread runs the program and answers them in order, between two
// slices of the program's run while it runs (adapter.hpp).  Exits 0 after
// "disconnect", 1 when its input ends first.
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

// What waits to be answered: at most this many messages and bytes of
// them.  A request past either is refused at once (a client that floods
// the adapter faster than it answers would otherwise grow it without
// bound); when nothing waits, any one message is taken.  Pause, terminate
// and disconnect have a few places of their own past the bound.
constexpr std::size_t QUEUE_MESSAGES_MAX = 1024;
constexpr std::size_t QUEUE_BYTES_MAX = std::size_t{16} << 20;
constexpr std::size_t QUEUE_CONTROL_EXTRA = 16;

// A frame read, or the end of the input.
struct Incoming {
    FrameStatus status = FrameStatus::end;
    std::string body;
};

struct Queue {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Incoming> items; // written by the reader, taken by the main thread
    std::size_t bytes = 0;      // of the bodies in `items`

    // False, and nothing queued, when it would pass the bound.
    bool push(Incoming item, bool control) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            std::size_t size = item.body.size();
            bool empty = items.empty();
            bool fits = items.size() < QUEUE_MESSAGES_MAX && bytes + size <= QUEUE_BYTES_MAX;
            bool extra = control && items.size() < QUEUE_MESSAGES_MAX + QUEUE_CONTROL_EXTRA;
            if (!empty && !fits && !extra && item.status != FrameStatus::end) return false;
            bytes += size;
            items.push_back(std::move(item));
        }
        ready.notify_one();
        return true;
    }
    Incoming pop() {
        std::unique_lock<std::mutex> lock(mutex);
        ready.wait(lock, [this] { return !items.empty(); });
        return take_front();
    }
    // Without waiting: false when nothing waits.
    bool try_pop(Incoming& item) {
        std::lock_guard<std::mutex> lock(mutex);
        if (items.empty()) return false;
        item = take_front();
        return true;
    }

  private:
    Incoming take_front() {
        Incoming item = std::move(items.front());
        items.pop_front();
        bytes -= item.body.size();
        return item;
    }
};

bool write_stdout(const std::string& bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
           std::fflush(stdout) == 0;
}

// Reads every message and queues it for the main thread.
void read_messages(Queue& queue, Adapter& adapter) {
    FrameReader in{Reader{}};
    std::string body;
    for (;;) {
        FrameStatus status = next_frame(in, body);
        if (status == FrameStatus::end) break;
        // Parsed here for its command, and again when it is handled: what
        // waits is its text, not the larger value.
        json message;
        if (status == FrameStatus::message) parse_body(body, message);
        std::string command = command_of(message);
        bool control = command == "pause" || command == "terminate" || command == "disconnect";
        if (!queue.push(Incoming{status, body}, control))
            adapter.refuse(message, "the adapter is busy: more than " +
                                        std::to_string(QUEUE_MESSAGES_MAX) + " messages or " +
                                        std::to_string(QUEUE_BYTES_MAX) +
                                        " bytes wait while the program runs");
    }
    queue.push(Incoming{}, true);
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
    adapter->listen([queue](FrameStatus& status, std::string& body) {
        Incoming item;
        if (!queue->try_pop(item)) return false;
        status = item.status;
        body = std::move(item.body);
        return true;
    });
    for (;;) {
        Incoming item = queue->pop();
        if (item.status == FrameStatus::end) break;
        adapter->take(item.status, item.body);
        if (adapter->done() || adapter->hung_up() || out.broken()) break;
    }
    int status = adapter->done() ? 0 : 1;
    std::fflush(stdout);
    std::_Exit(status);
}
