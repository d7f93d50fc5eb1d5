#include "host/line_reader.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "qv/unique_fd.h"
#include "qv/write_all.h"

namespace qv::host {
namespace {

// The lines of `stream` split the plain way; an unterminated tail is no line.
std::vector<std::string> split_lines(const std::string& stream) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = stream.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.push_back(stream.substr(start, nl - start));
  }
  return lines;
}

// Lines of every length class the relay meets, among them lines longer than the buffer and
// lines that straddle any receive, sent in pieces of random sizes.
TEST(LineReader, EveryLineWholeAndInOrderWhateverThePieces) {
  std::string stream;
  for (int round = 0; round < 3; ++round) {
    for (std::size_t size :
         {0u, 1u, 200u, 8191u, 8192u, 65535u, 65536u, 70000u, 1u << 20, (3u << 20) + 7, 5u}) {
      std::string line(size, static_cast<char>('a' + stream.size() % 26));
      if (size > 2) line[size / 2] = '\r';
      stream += line + "\n";
    }
    stream += std::string(300, '\n');  // a run of empty lines
  }
  stream += "unterminated tail";
  const std::vector<std::string> expected = split_lines(stream);

  const struct {
    const char* name;
    std::size_t max_piece;
  } cases[] = {{"small pieces", 3000}, {"mixed pieces", 300'000}, {"one write", stream.size()}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    UniqueFd app(fds[0]), host(fds[1]);
    std::thread writer([&] {
      std::mt19937 random(7);
      for (std::size_t at = 0; at < stream.size();) {
        const std::size_t n = std::min<std::size_t>(
            stream.size() - at, std::uniform_int_distribution<std::size_t>(1, c.max_piece)(random));
        // A failed write ends the stream early, which the comparison below reports.
        if (!qv::write_all(app.get(), std::string_view(stream).substr(at, n))) break;
        at += n;
      }
      app.reset();
    });
    LineReader reader(host.get());
    std::vector<std::string> lines;
    for (;;) {
      auto got = reader.receive();
      ASSERT_TRUE(got);
      if (*got == 0) break;
      while (auto line = reader.next_line()) lines.emplace_back(*line);
    }
    writer.join();
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      ASSERT_TRUE(lines[i] == expected[i]) << "line " << i << ": " << lines[i].size() << " bytes";
    }
  }
}

}  // namespace
}  // namespace qv::host
