#include "qv/write_all.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "qv/unique_fd.h"

namespace qv {
namespace {

// One scripted answer of a write-like call: how many bytes it takes (at most what it is
// offered), or -1 with this errno.
struct Step {
  long take;
  int error = 0;
};

// A write-like call that plays `script` and then takes everything it is offered.
struct Scripted {
  explicit Scripted(std::vector<Step> steps) : script(std::move(steps)) {}
  std::vector<Step> script;
  std::string out;
  std::size_t calls = 0;

  ssize_t answer(std::size_t offered) {
    const Step step = calls < script.size() ? script[calls] : Step{1 << 30};
    ++calls;
    if (step.take < 0) {
      errno = step.error;
      return -1;
    }
    return static_cast<ssize_t>(std::min<std::size_t>(offered, step.take));
  }
  ssize_t write(const char* data, std::size_t size) {
    const ssize_t n = answer(size);
    if (n > 0) out.append(data, static_cast<std::size_t>(n));
    return n;
  }
  ssize_t writev(const iovec* iov, int count) {
    std::size_t offered = 0;
    for (int i = 0; i < count; ++i) offered += iov[i].iov_len;
    const ssize_t n = answer(offered);
    for (std::size_t left = n > 0 ? static_cast<std::size_t>(n) : 0, i = 0; left > 0; ++i) {
      const std::size_t k = std::min(left, iov[i].iov_len);
      out.append(static_cast<const char*>(iov[i].iov_base), k);
      left -= k;
    }
    return n;
  }
};

TEST(WriteAll, ShortInterruptedAndFailedWrites) {
  const std::vector<std::string> parts = {"", "abc", "", "defgh", "i", ""};
  const std::string whole = "abcdefghi";
  const struct {
    const char* name;
    std::vector<Step> script;
    int error;            // 0: success
    std::size_t written;  // bytes out before the result
  } cases[] = {
      {"one call", {}, 0, 9},
      {"one byte at a time", std::vector<Step>(9, Step{1}), 0, 9},
      {"short writes across part boundaries", {{2}, {4}, {1}}, 0, 9},
      {"interrupted, then the rest", {{-1, EINTR}, {3}, {-1, EINTR}, {-1, EINTR}}, 0, 9},
      {"failure after progress", {{4}, {-1, EPIPE}}, EPIPE, 4},
      {"no progress is a failure", {{5}, {0}}, EIO, 5},
      {"failure at once", {{-1, EBADF}}, EBADF, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scripted plain(c.script);
    auto status =
        write_all_with(whole, [&](const char* d, std::size_t n) { return plain.write(d, n); });
    EXPECT_EQ(status.ok(), c.error == 0);
    if (!status) {
      EXPECT_EQ(status.error(), c.error);
    }
    EXPECT_EQ(plain.out, whole.substr(0, c.written));

    // The same script through the gathered form, with empty entries at both ends and between.
    std::vector<std::string> storage = parts;
    std::vector<iovec> iov;
    for (auto& s : storage) iov.push_back({s.data(), s.size()});
    Scripted gathered(c.script);
    auto gstatus = write_all_gathered_with(
        iov, [&](const iovec* v, int count) { return gathered.writev(v, count); });
    EXPECT_EQ(gstatus.ok(), c.error == 0);
    if (!gstatus) {
      EXPECT_EQ(gstatus.error(), c.error);
    }
    EXPECT_EQ(gathered.out, whole.substr(0, c.written));
    std::size_t left = 0;
    for (const iovec& v : iov) left += v.iov_len;
    EXPECT_EQ(left, whole.size() - c.written) << "the entries keep what was not written";
  }
}

// Through a real pipe, larger than its capacity, with more entries than one writev takes.
TEST(WriteAll, RealPipe) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  UniqueFd read_end(fds[0]), write_end(fds[1]);
  std::string big(1 << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 % 251);
  std::vector<iovec> iov;
  for (std::size_t off = 0; off < big.size(); off += 300) {
    iov.push_back({big.data() + off, std::min<std::size_t>(300, big.size() - off)});
  }
  ASSERT_GT(iov.size(), static_cast<std::size_t>(IOV_MAX));
  std::thread writer([&] {
    EXPECT_TRUE(write_all(write_end.get(), big).ok());
    EXPECT_TRUE(write_all(write_end.get(), std::span<iovec>(iov)).ok());
    write_end.reset();
  });
  std::string got;
  char chunk[4096];
  for (ssize_t n; (n = ::read(read_end.get(), chunk, sizeof chunk)) > 0;) {
    got.append(chunk, static_cast<std::size_t>(n));
  }
  writer.join();
  EXPECT_TRUE(got == big + big) << "received " << got.size() << " bytes";
  EXPECT_EQ(write_all(-1, "x").error(), EBADF);
}

}  // namespace
}  // namespace qv
