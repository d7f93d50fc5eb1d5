// Fetching from a real loopback peer and from files, with cancellation from another thread, and
// the timer thread that schedules delayed work.
#include "macos/updater/linux/fetch.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "macos/updater/linux/timer_queue.h"

namespace qv::updater::standin {
namespace {

using namespace std::chrono_literals;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// A one-connection HTTP peer on 127.0.0.1 that answers with a fixed head and body chunks, then
// either closes or holds the connection until the client goes away.
class Peer {
 public:
  Peer(std::string head, std::vector<std::string> chunks, bool hold,
       std::chrono::milliseconds pause = 20ms)
      : listener_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    EXPECT_EQ(bind(listener_.get(), reinterpret_cast<sockaddr*>(&addr), len), 0);
    EXPECT_EQ(listen(listener_.get(), 1), 0);
    getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this, head = std::move(head), chunks = std::move(chunks), hold, pause] {
      Fd conn(accept(listener_.get(), nullptr, nullptr));
      if (conn.get() < 0) return;
      char buf[4096];
      std::string request;
      while (request.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = read(conn.get(), buf, sizeof buf);
        if (n <= 0) return;
        request.append(buf, static_cast<size_t>(n));
      }
      send(conn.get(), head.data(), head.size(), MSG_NOSIGNAL);
      for (const std::string& chunk : chunks) {
        std::this_thread::sleep_for(pause);
        // Stops once the client has gone.
        if (send(conn.get(), chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0) return;
      }
      if (hold) {
        while (read(conn.get(), buf, sizeof buf) > 0) {
        }
      }
    });
  }
  ~Peer() { thread_.join(); }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  Fd listener_;
  int port_ = 0;
  std::thread thread_;
};

struct Received {
  std::vector<uint64_t> lengths;
  std::string body;
  size_t chunks = 0;
  size_t limit = SIZE_MAX;
  FetchHandlers handlers() {
    FetchHandlers h;
    h.expectedLength = [this](uint64_t n) { lengths.push_back(n); };
    h.data = [this](std::string_view d) {
      body.append(d);
      ++chunks;
      return body.size() <= limit;
    };
    return h;
  }
};

TEST(StandInFetch, ReadsFromALoopbackPeer) {
  struct Case {
    const char* name;
    std::string head;
    std::vector<std::string> chunks;
    bool ok;
    std::vector<uint64_t> lengths;
    std::string body;
  };
  const std::string a(400, 'a');
  const std::string b(600, 'b');
  const Case cases[] = {
      {"announced length",
       "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n",
       {a, b},
       true,
       {1000},
       a + b},
      {"chunked",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
       {"3\r\nabc\r\n", "2\r\nde\r\n0\r\n\r\n"},
       true,
       {},
       "abcde"},
      {"not found", "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", {}, false, {}, ""},
      // Redirects are not followed, and no answer but 200 hands its body over as the resource.
      {"redirect with a body",
       "HTTP/1.1 302 Found\r\nLocation: /releases/a.zip\r\nContent-Length: 5\r\n\r\n",
       {"hello"},
       false,
       {},
       ""},
      {"redirect without a body",
       "HTTP/1.1 301 Moved Permanently\r\nLocation: /a\r\nContent-Length: 0\r\n\r\n",
       {},
       false,
       {},
       ""},
      {"no content", "HTTP/1.1 204 No Content\r\n\r\n", {}, false, {}, ""},
      {"partial content",
       "HTTP/1.1 206 Partial Content\r\nContent-Length: 3\r\n\r\n",
       {"abc"},
       false,
       {},
       ""},
      {"cut short",
       "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nConnection: close\r\n\r\n",
       {a},
       false,
       {1000},
       a},
  };
  for (const Case& c : cases) {
    Peer peer(c.head, c.chunks, false);
    Received got;
    const std::atomic<bool> cancelled{false};
    const qv::Status<FetchFailure> status = Fetch(peer.url("/r"), cancelled, got.handlers());
    EXPECT_EQ(status.ok(), c.ok) << c.name;
    if (!c.ok && !status.ok()) {
      EXPECT_EQ(status.error(), FetchFailure::kFailed) << c.name;
    }
    EXPECT_EQ(got.lengths, c.lengths) << c.name;
    EXPECT_EQ(got.body, c.body) << c.name;
  }
  // The reader can end a transfer that grows too large.
  Peer peer("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", {a, b}, false);
  Received got;
  got.limit = 500;
  const std::atomic<bool> cancelled{false};
  const qv::Status<FetchFailure> status = Fetch(peer.url("/big"), cancelled, got.handlers());
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error(), FetchFailure::kFailed);
}

TEST(StandInFetch, CancelsFromAnotherThread) {
  Peer peer("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", {std::string(100, 'x')}, true);
  std::atomic<bool> cancelled{false};
  std::promise<void> firstChunk;
  std::atomic<bool> signalled{false};
  FetchHandlers handlers;
  handlers.data = [&](std::string_view) {
    if (!signalled.exchange(true)) firstChunk.set_value();
    return true;
  };
  auto fetch = std::async(std::launch::async,
                          [&] { return Fetch(peer.url("/stall"), cancelled, handlers); });
  ASSERT_EQ(firstChunk.get_future().wait_for(10s), std::future_status::ready);
  const auto start = std::chrono::steady_clock::now();
  cancelled = true;
  ASSERT_EQ(fetch.wait_for(10s), std::future_status::ready);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  const qv::Status<FetchFailure> status = fetch.get();
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error(), FetchFailure::kCancelled);
}

TEST(StandInFetch, EndsAStalledTransfer) {
  EXPECT_LE(kStalledTransferBound, std::chrono::seconds(15));  // what a user would wait for
  struct Case {
    const char* name;
    std::string head;
    std::vector<std::string> chunks;
  };
  const Case cases[] = {
      {"silent after the first chunk",
       "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n",
       {std::string(100, 'x')}},
      {"silent before answering", "", {}},
  };
  for (const Case& c : cases) {
    Peer peer(c.head, c.chunks, true);
    std::atomic<bool> cancelled{false};
    Received got;
    const FetchHandlers handlers = got.handlers();
    const auto start = std::chrono::steady_clock::now();
    auto fetch = std::async(std::launch::async, [&] {
      return Fetch(peer.url("/stall"), cancelled, handlers, FetchLimits{.stall = 1s});
    });
    const bool ended = fetch.wait_for(6s) == std::future_status::ready;
    cancelled = true;  // lets a transfer that did not end go, so that the peer can finish
    const qv::Status<FetchFailure> status = fetch.get();
    EXPECT_TRUE(ended) << c.name << ": still waiting after 6 s with a bound of 1 s";
    EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms) << c.name;
    ASSERT_FALSE(status.ok()) << c.name;
    if (ended) {
      EXPECT_EQ(status.error(), FetchFailure::kFailed) << c.name;
    }
  }
}

// A server that keeps sending a little, never stalling, still cannot hold a feed past its
// deadline or an archive below its rate. The bounds are scaled down to seconds here.
TEST(StandInFetch, EndsATricklingTransfer) {
  EXPECT_EQ(FeedLimits().deadline, kFeedDeadline);
  EXPECT_EQ(kFeedDeadline, std::chrono::seconds(30));
  EXPECT_EQ(ArchiveLimits().minimumRate, 1024u);
  EXPECT_EQ(ArchiveLimits().rateWindow, std::chrono::seconds(30));
  EXPECT_EQ(ArchiveLimits().deadline, std::chrono::milliseconds(0));  // archives may be large
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
  const auto trickle = [](size_t first, size_t each, int count) {
    std::vector<std::string> chunks{std::string(first, 'f')};
    for (int i = 0; i < count; ++i) chunks.emplace_back(each, 't');
    return chunks;
  };
  const FetchLimits deadline{.deadline = 1500ms};
  const FetchLimits rate{.minimumRate = 1024, .rateWindow = 1500ms};
  struct Case {
    const char* name;
    FetchLimits limits;
    std::string head;
    std::vector<std::string> chunks;
    bool ended;  // by a bound, before the peer has sent everything
  };
  const Case cases[] = {
      // 10 bytes every 100 ms for 10 s.
      {"feed trickling its body", deadline, head, trickle(10, 10, 100), true},
      // The deadline runs from the request: a peer that never answers is ended as well.
      {"feed never answering", deadline, "", {}, true},
      {"feed answering in time",
       deadline,
       "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n",
       {"hello"},
       false},
      // 50 bytes every 100 ms: 500 bytes a second.
      {"archive below the rate", rate, head, trickle(50, 50, 100), true},
      // A fast start does not buy a slow rest: every window counts.
      {"archive slowing down", rate, head, trickle(8000, 50, 100), true},
      // 1000 bytes every 100 ms, five times the rate, for 2.5 s.
      {"archive above the rate", rate, "HTTP/1.1 200 OK\r\nContent-Length: 25000\r\n\r\n",
       trickle(0, 1000, 25), false},
  };
  for (const Case& c : cases) {
    Peer peer(c.head, c.chunks, true, 100ms);
    std::atomic<bool> cancelled{false};
    Received got;
    const FetchHandlers handlers = got.handlers();
    const auto start = std::chrono::steady_clock::now();
    auto fetch = std::async(std::launch::async, [&] {
      return Fetch(peer.url("/slow"), cancelled, handlers, c.limits);
    });
    const bool done = fetch.wait_for(6s) == std::future_status::ready;
    const auto elapsed = std::chrono::steady_clock::now() - start;
    cancelled = true;  // lets a transfer that did not end go, so that the peer can finish
    const qv::Status<FetchFailure> status = fetch.get();
    EXPECT_TRUE(done) << c.name << ": still going after 6 s";
    if (!done) continue;
    if (c.ended) {
      ASSERT_FALSE(status.ok()) << c.name;
      EXPECT_EQ(status.error(), FetchFailure::kFailed) << c.name;
      EXPECT_GE(elapsed, 1400ms) << c.name;
      EXPECT_LT(got.body.size(), 100000u) << c.name;
    } else {
      EXPECT_TRUE(status.ok()) << c.name;
    }
  }
}

TEST(StandInFetch, ReadsFilesAndRefusesOtherPlaces) {
  char path[] = "/tmp/qv-fetch-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string content(70000, 'z');
  ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
  close(fd);
  Received got;
  const std::atomic<bool> cancelled{false};
  EXPECT_TRUE(Fetch(std::string("file://") + path, cancelled, got.handlers()).ok());
  EXPECT_EQ(got.body, content);
  EXPECT_EQ(got.lengths, std::vector<uint64_t>{content.size()});
  std::remove(path);

  const char* refused[] = {"http://example.com/feed.xml", "https://127.0.0.1/feed.xml",
                           "ftp://127.0.0.1/feed.xml",    "http://u@127.0.0.1/feed.xml",
                           "file://host/etc/hostname",    "not a url",
                           "http://10.0.0.1/feed.xml"};
  for (const char* url : refused) {
    Received none;
    const qv::Status<FetchFailure> status = Fetch(url, cancelled, none.handlers());
    ASSERT_FALSE(status.ok()) << url;
    EXPECT_EQ(status.error(), FetchFailure::kRefused) << url;
    EXPECT_TRUE(none.body.empty()) << url;
  }
  EXPECT_TRUE(FetchableURL("http://localhost:8080/feed.xml"));
  EXPECT_TRUE(FetchableURL("http://[::1]:8080/feed.xml"));
  EXPECT_TRUE(FetchableURL("http://127.0.0.2/feed.xml"));
  EXPECT_TRUE(FetchableURL("http://[0:0::1]/feed.xml"));
  // Names that only look like loopback addresses are resolved like any other name.
  EXPECT_FALSE(FetchableURL("http://127.example.org/feed.xml"));
  EXPECT_FALSE(FetchableURL("http://127.0.0.1.example.org/feed.xml"));
  EXPECT_FALSE(FetchableURL("http://[::2]/feed.xml"));
}

TEST(StandInTimers, DispatchInDueOrderFromAnyThread) {
  std::mutex mutex;
  std::vector<int> order;
  std::condition_variable done;
  TimerQueue timers([&](TimerQueue::Task task) { task(); });
  const auto record = [&](int id) {
    return [&, id] {
      std::lock_guard lock(mutex);
      order.push_back(id);
      done.notify_all();
    };
  };
  const auto start = std::chrono::steady_clock::now();
  timers.after(60'000'000, record(3));
  std::thread other([&] { timers.after(0, record(1)); });
  timers.after(30'000'000, record(2));
  other.join();
  std::unique_lock lock(mutex);
  ASSERT_TRUE(done.wait_for(lock, 10s, [&] { return order.size() == 3; }));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms);
}

TEST(StandInTimers, StopDropsWhatIsNotDue) {
  std::atomic<int> ran{0};
  auto timers = std::make_unique<TimerQueue>([&](TimerQueue::Task task) { task(); });
  timers->after(10'000'000'000, [&] { ++ran; });
  const auto start = std::chrono::steady_clock::now();
  timers->stop();
  timers->after(0, [&] { ++ran; });  // after stop: dropped
  timers.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(ran.load(), 0);
}

}  // namespace
}  // namespace qv::updater::standin
