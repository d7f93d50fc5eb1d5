#include "host/frame.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "qv/unique_fd.h"

namespace qv::host {
namespace {

std::string prefix(std::uint32_t n) {
  std::string p(4, '\0');
  std::memcpy(p.data(), &n, 4);
  return p;
}

struct Pipe {
  UniqueFd read;
  UniqueFd write;
  Pipe() {
    int fds[2];
    if (::pipe(fds) != 0) std::abort();
    read.reset(fds[0]);
    write.reset(fds[1]);
  }
};

void write_all(int fd, const std::string& bytes) {
  std::size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + off, bytes.size() - off);
    if (n <= 0) return;
    off += static_cast<std::size_t>(n);
  }
}

// Feeds `input` through a real pipe from another thread (so large inputs do not block) and
// collects every frame until end of input.
std::vector<std::string> read_all_frames(const std::string& input, std::size_t buffer_size) {
  Pipe pipe;
  std::thread writer([&] {
    write_all(pipe.write.get(), input);
    pipe.write.reset();
  });
  InputReader in(pipe.read.get(), buffer_size);
  std::vector<std::string> frames;
  // One buffer for every frame, the way the relay reads them.
  std::string payload = "stale bytes from before";
  while (read_frame(in, payload)) frames.push_back(payload);
  writer.join();
  return frames;
}

TEST(ReadFrame, StreamsOfFrames) {
  const std::string big(3 * 1024 * 1024 + 17, 'b');
  const std::string mid(70'000, 'm');
  struct Case {
    const char* name;
    std::string input;
    std::vector<std::string> frames;
  };
  const Case cases[] = {
      {"nothing", "", {}},
      {"one frame", prefix(7) + R"({"a":1})", {R"({"a":1})"}},
      {"back to back", prefix(2) + "[]" + prefix(0) + prefix(3) + "123", {"[]", "", "123"}},
      {"native order 00 01 00 00 is 256",
       std::string("\x00\x01\x00\x00", 4) + std::string(256, 'x'),
       {std::string(256, 'x')}},
      {"cut inside the prefix", prefix(2) + "{}" + std::string("\x05\x00", 2), {"{}"}},
      {"cut inside the payload", prefix(2) + "{}" + prefix(10) + "12345", {"{}"}},
      {"huge announced length, few bytes", prefix(0xFFFFFFFF) + "abc", {}},
      {"larger than every buffer",
       prefix(static_cast<std::uint32_t>(big.size())) + big + prefix(1) + "z",
       {big, "z"}},
      {"sizes down and up in one buffer",
       prefix(70'000) + mid + prefix(3) + "abc" + prefix(0) + prefix(70'000) + mid + prefix(1) +
           "q",
       {mid, "abc", "", mid, "q"}},
  };
  for (const Case& c : cases) {
    for (std::size_t buffer : {std::size_t{5}, std::size_t{64 * 1024}}) {
      SCOPED_TRACE(std::string(c.name) + " / buffer " + std::to_string(buffer));
      EXPECT_EQ(read_all_frames(c.input, buffer), c.frames);
    }
  }
}

TEST(BrowserWriter, FramesFromManyThreadsNeverInterleave) {
  Pipe pipe;
  BrowserWriter writer(pipe.write.get());
  constexpr int kThreads = 4;
  constexpr int kFrames = 240;
  // Sizes beyond the pipe's capacity force partial writes; in a batch, payloads from 16 KiB on
  // are referred to rather than copied, so batches mix both kinds.
  auto size_of = [](int t, int i) {
    return static_cast<std::size_t>(1 + (i * 7919 + t * 31) % (i % 3 == 0 ? 100 : 100000));
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&writer, &size_of, t] {
      // Even threads write frame by frame, odd ones in batches of twelve.
      constexpr int kBatch = 12;
      std::vector<std::string> held;
      FrameBatch batch;
      for (int i = 0; i < kFrames; ++i) {
        std::string payload(size_of(t, i), char('a' + t));
        if (t % 2 == 0) {
          ASSERT_TRUE(writer.write_frame(payload));
          continue;
        }
        held.push_back(std::move(payload));
        if (held.size() < kBatch) continue;
        for (const std::string& p : held) batch.add(p);
        ASSERT_TRUE(writer.write_frames(batch));
        EXPECT_TRUE(batch.empty());
        held.clear();
      }
    });
  }
  int next[kThreads] = {};
  InputReader in(pipe.read.get());
  for (int n = 0; n < kThreads * kFrames; ++n) {
    auto frame = read_frame(in);
    ASSERT_TRUE(frame);
    ASSERT_FALSE(frame->empty());
    const int t = (*frame)[0] - 'a';
    ASSERT_TRUE(t >= 0 && t < kThreads);
    EXPECT_EQ(frame->find_first_not_of((*frame)[0]), std::string::npos);
    EXPECT_EQ(frame->size(), size_of(t, next[t])) << "thread " << t << " frame " << next[t];
    ++next[t];
  }
  for (auto& t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kFrames);
}

TEST(BrowserWriter, ReportsAClosedReader) {
  std::signal(SIGPIPE, SIG_IGN);
  Pipe pipe;
  pipe.read.reset();
  BrowserWriter writer(pipe.write.get());
  auto status = writer.write_frame("{}");
  ASSERT_FALSE(status);
  EXPECT_EQ(status.error(), EPIPE);
}

TEST(EncodeFrame, PrefixIsNativeLength) {
  EXPECT_EQ(encode_frame("abc"), prefix(3) + "abc");
  EXPECT_EQ(encode_frame(""), prefix(0));
}

}  // namespace
}  // namespace qv::host
