// libFuzzer harness for the debug adapter's message handling: each input
// is read as a stream of framed messages by a fresh adapter, and, whole, as
// one message body by an adapter stopped at the start of a.tsu; the
// answers go nowhere.  The programs a launch may name are written at start
// into a folder of the harness's own, which each input runs in (a.tsu,
// loop.tsu, crash.tsu, in.txt; libFuzzer's own paths stay relative to
// where it was started); every motion stops after a budget of
// instructions, as a step, so that a program that runs for ever cannot
// hang it.  A crash, a sanitizer report, a leak or a hang is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>

#include "dap/adapter.hpp"
#include "lsp/transport.hpp"

namespace {

// Instructions a motion may run: enough for the programs below to end.
constexpr std::uint64_t MOTION_BUDGET = 20000;

struct FileText {
    const char* name;
    const char* text;
};

constexpr FileText FILES[] = {
    {"a.tsu", "program a;\nvar x, t[0..2];\nfunction sq(n);\nbegin\n  sq := n * n\nend;\n"
              "procedure fill(var v);\nvar i;\nbegin\n  i := 0;\n  while i < 3 do\n  begin\n"
              "    t[i] := sq(i) + v;\n    i := i + 1\n  end\nend;\nbegin\n  read(x);\n"
              "  fill(x);\n  write(t[2])\nend.\n"},
    {"loop.tsu",
     "program loop;\nvar i;\nbegin\n  i := 0;\n  while 1 = 1 do\n    i := i + 1\nend.\n"},
    {"crash.tsu", "program crash;\nvar x;\nprocedure down;\nbegin\n  x := x div 0;\n  down\nend;\n"
                  "begin\n  x := 1;\n  down\nend.\n"},
    {"in.txt", "7\n"},
};

bool discard(const std::string&) {
    return true;
}

char folder[] = "/tmp/tsumiki-dap-fuzz-XXXXXX"; // the programs' folder
int folder_fd = -1;                             // open on it
int started_fd = -1;                            // open on where libFuzzer started

void remove_folder() {
    for (const FileText& file : FILES)
        unlinkat(folder_fd, file.name, 0);
    rmdir(folder);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (mkdtemp(folder) == nullptr) std::abort();
    folder_fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    started_fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_fd < 0 || started_fd < 0) std::abort();
    for (const FileText& file : FILES) {
        std::FILE* f = std::fopen((std::string(folder) + "/" + file.name).c_str(), "wb");
        if (f == nullptr) std::abort();
        std::fputs(file.text, f);
        std::fclose(f);
    }
    std::atexit(remove_folder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    if (fchdir(folder_fd) != 0) std::abort();
    Channel out{discard};
    Adapter adapter(out, MOTION_BUDGET);
    FrameReader in{view_reader(rest)};
    std::string body;
    for (FrameStatus s; (s = next_frame(in, body)) != FrameStatus::end && !adapter.done();)
        adapter.take(s, body);

    // The whole input as one request, where every request can be answered:
    // a mutation need not keep a frame's length.
    Adapter stopped(out, MOTION_BUDGET);
    for (
        const char* request :
        {R"({"type":"request","seq":1,"command":"initialize"})",
         R"({"type":"request","seq":2,"command":"launch","arguments":{"program":"a.tsu","input":"3","stopOnEntry":true}})",
         R"({"type":"request","seq":3,"command":"configurationDone"})",
         R"({"type":"request","seq":4,"command":"next"})"})
        stopped.take(FrameStatus::message, request);
    stopped.take(FrameStatus::message, std::string(reinterpret_cast<const char*>(data), size));
    if (fchdir(started_fd) != 0) std::abort();
    return 0;
}
