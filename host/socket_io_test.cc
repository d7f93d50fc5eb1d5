#include "host/socket_io.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <string>
#include <thread>

#include "qv/unique_fd.h"

namespace qv::host {
namespace {

std::atomic<int> interruptions{0};

void count_interruption(int) {
  interruptions.fetch_add(1, std::memory_order_relaxed);
}

std::string pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed) % 251);
  return s;
}

// A small send buffer, a slow reader and a steady stream of signals (installed without
// SA_RESTART) make sendmsg return early many times, in the head and in the tail.
TEST(SendAll, HeadAndTailArriveWholeThroughInterruptedSends) {
  struct sigaction action {};
  action.sa_handler = count_interruption;
  sigemptyset(&action.sa_mask);
  struct sigaction previous {};
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);

  const struct {
    const char* name;
    std::string head;
    std::string tail;
  } cases[] = {
      {"line", pattern(2 << 20, 1), "\n"},
      {"long tail", pattern(300'000, 2), pattern(700'000, 3)},
      {"empty head", "", pattern(100'000, 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    UniqueFd sender(fds[0]), receiver(fds[1]);
    int small = 4096;
    ASSERT_EQ(::setsockopt(sender.get(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);

    std::atomic<bool> done{false};
    bool sent = false;
    std::thread writer([&] {
      sent = static_cast<bool>(send_all(sender.get(), c.head, c.tail));
      done = true;
      // The end of the stream tells the reader that nothing else is coming.
      ::shutdown(sender.get(), SHUT_WR);
    });
    const pthread_t target = writer.native_handle();
    std::thread pest([&] {
      while (!done) {
        ::pthread_kill(target, SIGUSR1);
        ::usleep(200);
      }
    });
    std::string received;
    char chunk[1500];
    for (;;) {
      ssize_t n = ::read(receiver.get(), chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      received.append(chunk, static_cast<std::size_t>(n));
    }
    writer.join();
    pest.join();
    EXPECT_TRUE(sent);
    EXPECT_TRUE(received == c.head + c.tail) << "received " << received.size() << " bytes";
  }
  EXPECT_GT(interruptions.load(), 0);
  ::sigaction(SIGUSR1, &previous, nullptr);
}

}  // namespace
}  // namespace qv::host
