// The debug adapter while the program runs, driven without a process: its
// inbox is a list of requests given out between two slices of the run.
// Every request of the table is answered then, and refused exactly when
// the table says it needs a stop; a breakpoint set then stops the loop.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dap/adapter.hpp"
#include "dap/views.hpp"

namespace {

// A loop that never ends; line 6 runs on every pass.
constexpr const char* LOOP = "program loop;\nvar i;\nbegin\n  i := 0;\n  while 1 = 1 do\n"
                             "    i := i + 1\nend.\n";

// After this many looks at an empty inbox the test gives up on the run
// stopping of itself (some milliseconds each) and disconnects.
constexpr int EMPTY_LOOKS_MAX = 2000;

struct Client {
    std::vector<json> said; // every message of the adapter, in order
    Channel out{[this](const std::string& framed) {
        said.push_back(json::parse(framed.substr(framed.find("\r\n\r\n") + 4)));
        return true;
    }};
    // A run that never looks at its inbox still ends, as a step, after
    // this many instructions (about a second).
    Adapter adapter{out, std::uint64_t{1} << 24};
    std::deque<json> inbox; // given out while the program runs
    int empty_looks = 0;
    int seq = 0;

    Client() {
        adapter.listen([this](FrameStatus& status, std::string& body) {
            if (inbox.empty()) {
                if (++empty_looks < EMPTY_LOOKS_MAX) return false;
                inbox.push_back(request("disconnect"));
            }
            status = FrameStatus::message;
            body = inbox.front().dump();
            inbox.pop_front();
            return true;
        });
    }
    json request(const std::string& command, json arguments = json::object()) {
        return json{{"type", "request"},
                    {"seq", ++seq},
                    {"command", command},
                    {"arguments", std::move(arguments)}};
    }
    // The answer to request number `seq`, null when none came.
    json answer(int number) const {
        for (const json& m : said)
            if (m.value("type", "") == "response" && m.value("request_seq", 0) == number) return m;
        return nullptr;
    }
    bool said_event(const std::string& name) const {
        for (const json& m : said)
            if (m.value("type", "") == "event" && m.value("event", "") == name) return true;
        return false;
    }
};

class RunningAdapter : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("tsumiki-dap-test-" +
                   std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
        program_ = (folder_ / "loop.tsu").string();
        std::ofstream(program_) << LOOP;
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    // initialize and launch; the run starts with configurationDone.
    void start(Client& client) const {
        client.adapter.handle(client.request("initialize"));
        client.adapter.handle(client.request("launch", {{"program", program_}}));
        ASSERT_TRUE(client.answer(2).value("success", false));
    }

    std::filesystem::path folder_;
    std::string program_;
};

TEST_F(RunningAdapter, EveryRequestIsAnsweredAndRefusedOnlyWhenItNeedsAStop) {
    const std::string running = message_text(MSG_D_RUNNING);
    for (const Adapter::Request& kind : Adapter::requests()) {
        SCOPED_TRACE(kind.command);
        Client client;
        start(client);
        json asked = client.request(kind.command, {{"threadId", 1},
                                                   {"frameId", 0},
                                                   {"variablesReference", 1},
                                                   {"expression", "42"},
                                                   {"breakpoints", json::array()},
                                                   {"filters", json::array()},
                                                   {"memoryReference", "0"},
                                                   {"instructionCount", 1}});
        int number = asked["seq"];
        client.inbox.push_back(asked);
        client.inbox.push_back(client.request("disconnect"));
        client.adapter.handle(client.request("configurationDone"));
        json answer = client.answer(number);
        ASSERT_FALSE(answer.is_null()) << "no answer while the program runs";
        bool refused = !answer.value("success", true) && answer.value("message", "") == running;
        EXPECT_EQ(refused, kind.needs_stop);
    }
}

TEST_F(RunningAdapter, ABreakpointSetWhileItRunsStopsTheLoop) {
    Client client;
    start(client);
    json threads = client.request("threads");
    client.inbox.push_back(threads);
    client.inbox.push_back(
        client.request("setBreakpoints", {{"source", {{"path", program_}}},
                                          {"breakpoints", json::array({{{"line", 6}}})}}));
    client.adapter.handle(client.request("configurationDone"));
    ASSERT_FALSE(client.answer(threads["seq"]).is_null());
    EXPECT_TRUE(client.answer(threads["seq"].get<int>() + 1).value("success", false));
    ASSERT_TRUE(client.said_event("stopped")) << "the loop ran on past the breakpoint";
    EXPECT_EQ(client.said.back().value("body", json()).value("reason", ""), "breakpoint");
    EXPECT_LT(client.empty_looks, EMPTY_LOOKS_MAX);
    // Stopped: the stack can be seen.
    client.adapter.handle(client.request("stackTrace", {{"threadId", 1}}));
    EXPECT_TRUE(client.answer(client.seq).value("success", false));
}

TEST_F(RunningAdapter, APauseStopsItAfterItsAnswer) {
    Client client;
    start(client);
    client.inbox.push_back(client.request("pause", {{"threadId", 1}}));
    json later = client.request("stackTrace", {{"threadId", 1}});
    client.inbox.push_back(later);
    client.adapter.handle(client.request("configurationDone"));
    ASSERT_GE(client.said.size(), 2u);
    EXPECT_EQ(client.said[client.said.size() - 2].value("command", ""), "pause");
    EXPECT_EQ(client.said.back().value("body", json()).value("reason", ""), "pause");
    // What came after the pause waits for the stop, and is then answered.
    EXPECT_TRUE(client.answer(later["seq"]).is_null());
    EXPECT_EQ(client.inbox.size(), 1u);
}

TEST_F(RunningAdapter, TheCapabilitiesComeFromTheTable) {
    Client client;
    client.adapter.handle(client.request("initialize"));
    json capabilities = client.answer(1).at("body");
    for (const Adapter::Request& kind : Adapter::requests()) {
        if (kind.capability != nullptr) {
            EXPECT_EQ(capabilities.value(kind.capability, false), true);
        }
    }
    EXPECT_EQ(capabilities.value("supportsFunctionBreakpoints", false), true);
}

} // namespace
