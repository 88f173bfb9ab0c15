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

} // namespace
