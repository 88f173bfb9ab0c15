// The framing: messages split from a byte stream however it arrives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lsp/transport.hpp"

namespace {

// Reads every frame of `bytes`, handing the reader at most `chunk` bytes a
// call; each result as "status:body".
std::vector<std::string> frames(std::string bytes, std::size_t chunk) {
    struct Source {
        std::string_view rest;
        std::size_t chunk;
    } source{bytes, chunk};
    Reader reader{[](void* c, char* out, std::size_t n) {
                      auto* s = static_cast<Source*>(c);
                      std::size_t k = std::min({n, s->chunk, s->rest.size()});
                      s->rest.copy(out, k);
                      s->rest.remove_prefix(k);
                      return k;
                  },
                  &source};
    FrameReader in{reader};
    std::vector<std::string> out;
    std::string body;
    for (;;) {
        FrameStatus status = next_frame(in, body);
        if (status == FrameStatus::end) break;
        out.push_back(std::to_string(static_cast<int>(status)) + ":" + body);
    }
    return out;
}

TEST(Transport, SplitsMessagesWhateverTheReadSizes) {
    std::string bytes = "Content-Length: 3\r\n\r\nabc"
                        "content-length:2\r\nContent-Type: x\r\n\r\nde"
                        "\r\nContent-Length:  0 \r\n\r\n";
    std::vector<std::string> want{"0:abc", "0:de", "0:"};
    EXPECT_EQ(frames(bytes, 1), want);
    EXPECT_EQ(frames(bytes, 7), want);
    EXPECT_EQ(frames(bytes, 1 << 20), want);
}

TEST(Transport, BadHeadersAreReportedAndReadingGoesOn) {
    EXPECT_EQ(frames("Content-Type: a\r\n\r\nContent-Length: 1\r\n\r\nz", 5),
              (std::vector<std::string>{"1:", "0:z"}));
    EXPECT_EQ(frames("Content-Length: -1\r\n\r\n", 5), (std::vector<std::string>{"1:"}));
    EXPECT_EQ(frames("Content-Length: 99999999999999999999\r\n\r\n", 5),
              (std::vector<std::string>{"1:"}));
    // A header line longer than any valid one is cut, not stored whole.
    EXPECT_EQ(frames(std::string(100000, 'a') + "\r\n\r\n", 4096),
              (std::vector<std::string>{"1:"}));
}

TEST(Transport, TooLargeBodiesAreReadPast) {
    std::string big = "Content-Length: " + std::to_string(FRAME_MAX + 1) + "\r\n\r\n";
    big += std::string(FRAME_MAX + 1, 'x');
    big += "Content-Length: 2\r\n\r\nok";
    EXPECT_EQ(frames(big, 1 << 20), (std::vector<std::string>{"2:", "0:ok"}));
}

TEST(Transport, TruncatedInputEnds) {
    EXPECT_TRUE(frames("Content-Length: 10\r\n\r\nabc", 2).empty());
    EXPECT_TRUE(frames("Content-Length: 10\r\n", 2).empty());
    EXPECT_TRUE(frames("", 2).empty());
}

TEST(Transport, FramesCountBytes) {
    EXPECT_EQ(frame("{\"a\":\"あ\"}"), "Content-Length: 11\r\n\r\n{\"a\":\"あ\"}");
    EXPECT_EQ(content_length("CONTENT-LENGTH:\t42"), 42);
    EXPECT_EQ(content_length("Content-Length: 4 2"), -1);
    EXPECT_EQ(content_length("Content-Length:"), -1);
    EXPECT_EQ(content_length("Content-Lengths: 1"), -1);
}

std::string nested(int depth, const std::string& inner = "0") {
    return std::string(static_cast<std::size_t>(depth), '[') + inner +
           std::string(static_cast<std::size_t>(depth), ']');
}

TEST(Transport, BodiesNestAtMostTheLimit) {
    nlohmann::json message;
    // The message is one level: its arguments hold 62 more, 64 in all.
    std::string at_limit = R"({"arguments":{"x":)" + nested(JSON_DEPTH_MAX - 2) + R"(},"seq":1})";
    ASSERT_EQ(parse_body(at_limit, message), BodyStatus::ok);
    EXPECT_EQ(message.dump(), at_limit);

    std::string past = R"({"seq":2,"arguments":{"x":)" + nested(JSON_DEPTH_MAX - 1) + R"(,"y":1}})";
    ASSERT_EQ(parse_body(past, message), BodyStatus::too_deep);
    // What lies above the limit is kept, to answer the message by.
    EXPECT_EQ(message.dump(),
              R"({"arguments":{"x":)" + nested(JSON_DEPTH_MAX - 3, "[]") + R"(,"y":1},"seq":2})");
}

TEST(Transport, DeepBodiesAreNeverBuilt) {
    // A million levels: neither parsed nor copied nor freed recursively.
    nlohmann::json message;
    std::string deep = R"({"seq":3,"command":"x","arguments":{"a":)" + nested(1000000) + "}}";
    ASSERT_EQ(parse_body(deep, message), BodyStatus::too_deep);
    EXPECT_EQ(message["seq"], 3);
    nlohmann::json copy = message;
    EXPECT_EQ(copy["command"], "x");
    // Not closed: no JSON, however deep.
    EXPECT_EQ(parse_body(std::string(1000000, '{'), message), BodyStatus::not_json);
    EXPECT_EQ(parse_body("", message), BodyStatus::not_json);
}

TEST(Transport, BracketsInStringsAreNotNesting) {
    nlohmann::json message;
    std::string text = R"({"a":")" + std::string(1000, '[') + R"(\"]"})";
    ASSERT_EQ(parse_body(text, message), BodyStatus::ok);
    EXPECT_EQ(message["a"].get<std::string>().size(), 1002u);
}

} // namespace
