// Throughput of quorvel-host in both directions beside socat copying the same bytes through the
// same kind of pipe and socket (a relay with no logic at all), the round trip and streaming rate
// of small messages beside the same baseline, plus the speed of the header scan and the UTF-8
// repair on valid 64 KiB messages.
//
//   host_bench <quorvel-host> <socat> [--quick | --codec | --to-app | --small | --throughput]
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "host/frame.h"
#include "host/json/header_scan.h"
#include "qv/unique_fd.h"
#include "qv/utf8.h"
#include "qv/write_all.h"

namespace {

using Clock = std::chrono::steady_clock;
using qv::UniqueFd;

[[noreturn]] void die(const char* what) {
  std::perror(what);
  std::exit(2);
}

const std::string kDenseWords = "Quorvel relays h\xC3\xA9llo w\xC3\xB6rld \xE2\x82\xAC 42, ";

// A valid JSON message of exactly `size` bytes whose text repeats `words`.
std::string message(std::size_t size, int id, const std::string& words = kDenseWords) {
  std::string head =
      "{\"id\":" + std::to_string(id) + ",\"method\":\"page.update\",\"params\":{\"text\":\"";
  const std::string tail = "\"}}";
  std::string body;
  while (head.size() + body.size() + words.size() + tail.size() <= size) body += words;
  body.append(size - head.size() - body.size() - tail.size(), '.');
  std::string out = head + body + tail;
  if (!qv::is_valid_utf8(out) || !qv::json::scan_header(out)) {
    std::fprintf(stderr, "bad benchmark message\n");
    std::exit(2);
  }
  return out;
}

void write_all(int fd, const char* p, std::size_t n) {
  if (auto status = qv::write_all(fd, std::string_view(p, n)); !status) {
    errno = status.error();
    die("write");
  }
}

void read_exact(int fd, char* p, std::size_t n) {
  while (n > 0) {
    ssize_t r = ::read(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) die("read (relay ended early)");
    p += r;
    n -= static_cast<std::size_t>(r);
  }
}

void drain(int fd, std::size_t n) {
  std::vector<char> buf(1 << 20);
  while (n > 0) {
    ssize_t r = ::read(fd, buf.data(), std::min(buf.size(), n));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) die("read (relay ended early)");
    n -= static_cast<std::size_t>(r);
  }
}

struct Relay {
  pid_t pid = -1;
  UniqueFd in;   // its stdin (the browser writing)
  UniqueFd out;  // its stdout (the browser reading)
  UniqueFd err;
  UniqueFd app;  // the accepted application connection
};

UniqueFd listen_on(const std::string& path) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  ::unlink(path.c_str());
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) die("bind");
  if (::listen(fd.get(), 1) != 0) die("listen");
  return fd;
}

// Starts `argv` with three pipes, waits for its connection and, for the host, for its log line
// saying the socket is installed.
Relay start(const std::vector<std::string>& argv, const std::string& path, bool wait_for_log) {
  UniqueFd server = listen_on(path);
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) die("pipe");
  Relay r;
  r.pid = ::fork();
  if (r.pid < 0) die("fork");
  if (r.pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::setenv("QV_BROWSER_BRIDGE_SOCKET", path.c_str(), 1);
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  r.in.reset(in[1]);
  r.out.reset(out[0]);
  r.err.reset(err[0]);
  r.app.reset(::accept4(server.get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!r.app) die("accept");
  if (wait_for_log) {
    std::string log;
    char c;
    while (log.find("connected to Quorvel\n") == std::string::npos) {
      if (::read(r.err.get(), &c, 1) != 1) die("host log");
      log.push_back(c);
    }
  }
  ::unlink(path.c_str());
  return r;
}

void stop(Relay& r) {
  r.in.reset();
  r.app.reset();
  r.out.reset();
  ::kill(r.pid, SIGTERM);
  int status;
  ::waitpid(r.pid, &status, 0);
}

enum class Direction { kAppToBrowser, kBrowserToApp };

// Seconds to push `count` copies of `msg` through the relay. The host adds or removes the frame
// prefix; socat copies bytes, so it is fed exactly what comes out at the far end.
double run(const std::vector<std::string>& argv, bool host, Direction dir, const std::string& msg,
           std::size_t count, const std::string& path) {
  Relay r = start(argv, path, host);
  const std::string line = msg + "\n";
  const std::string frame = qv::host::encode_frame(msg);
  const std::string& unit_in = dir == Direction::kAppToBrowser ? line : frame;
  const std::string& unit_out = host ? (dir == Direction::kAppToBrowser ? frame : line) : unit_in;
  // Send in batches of whole messages, the way a busy peer writes.
  std::string batch;
  while (batch.size() < (1 << 20) || batch.empty()) batch += unit_in;
  const std::size_t per_batch = batch.size() / unit_in.size();
  const int to = dir == Direction::kAppToBrowser ? r.app.get() : r.in.get();
  const int from = dir == Direction::kAppToBrowser ? r.out.get() : r.app.get();
  auto t0 = Clock::now();
  std::thread writer([&] {
    for (std::size_t sent = 0; sent < count;) {
      std::size_t n = std::min(per_batch, count - sent);
      write_all(to, batch.data(), n * unit_in.size());
      sent += n;
    }
  });
  drain(from, count * unit_out.size());
  auto t1 = Clock::now();
  writer.join();
  stop(r);
  return std::chrono::duration<double>(t1 - t0).count();
}

// Round-trip times in microseconds of `count` exchanges, one at a time: the browser sends a
// message, the application reads it whole and answers with the same message, the browser reads
// the answer whole. socat passes bytes unchanged, so both of its ends see the browser's frame.
std::vector<double> round_trips(const std::vector<std::string>& argv, bool host,
                                const std::string& msg, std::size_t count,
                                const std::string& path) {
  Relay r = start(argv, path, host);
  const std::string frame = qv::host::encode_frame(msg);
  const std::string line = msg + "\n";
  const std::string& at_app = host ? line : frame;
  std::string buffer(std::max(frame.size(), line.size()), '\0');
  std::vector<double> micros;
  micros.reserve(count);
  // The first exchanges warm caches and the scheduler; they are not counted.
  const std::size_t warm_up = count / 10;
  for (std::size_t i = 0; i < warm_up + count; ++i) {
    auto t0 = Clock::now();
    write_all(r.in.get(), frame.data(), frame.size());
    read_exact(r.app.get(), buffer.data(), at_app.size());
    write_all(r.app.get(), at_app.data(), at_app.size());
    read_exact(r.out.get(), buffer.data(), frame.size());
    auto t1 = Clock::now();
    if (i >= warm_up) micros.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
  }
  if (std::memcmp(buffer.data(), frame.data(), frame.size()) != 0) {
    std::fprintf(stderr, "round trip changed the message\n");
    std::exit(2);
  }
  stop(r);
  return micros;
}

double percentile(std::vector<double> v, double p) {
  const auto k = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1));
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
  return v[k];
}

// The best rate over many short windows: on a shared machine the slower windows measure the
// neighbours, not the code.
template <class F>
double mb_per_s(std::size_t bytes_per_call, F&& f, double seconds) {
  double best = 0;
  auto start = Clock::now();
  do {
    std::size_t calls = 0;
    auto t0 = Clock::now();
    double elapsed = 0;
    do {
      for (int i = 0; i < 16; ++i) f();
      calls += 16;
      elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    } while (elapsed < 0.02);
    best = std::max(best, static_cast<double>(calls * bytes_per_call) / elapsed / 1e6);
  } while (std::chrono::duration<double>(Clock::now() - start).count() < seconds);
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <quorvel-host> <socat> [--quick | --codec | --to-app]\n",
                 argv[0]);
    return 2;
  }
  ::signal(SIGPIPE, SIG_IGN);
  const std::string mode = argc > 3 ? argv[3] : "";
  const bool quick = mode == "--quick";
  // --codec measures only the text functions; --to-app only the browser -> app relays.
  const bool relays = mode != "--codec";
  const bool to_app_only = mode == "--to-app";
  // --small measures only the 200-byte messages; --throughput only the relay throughput.
  const bool small_only = mode == "--small";
  const bool throughput_only = mode == "--throughput";
  const std::string path = "/tmp/qv-bench-" + std::to_string(::getpid()) + ".sock";
  const std::vector<std::string> host = {argv[1]};
  // Two zero-logic baselines: socat with its default 8 KiB blocks (the size the host reads the
  // socket with) and with 1 MiB blocks (fewer system calls than any relay of whole messages).
  auto socat = [&](Direction dir, const char* block) {
    std::vector<std::string> args = {argv[2], "-u", "-b", block};
    if (dir == Direction::kAppToBrowser) {
      args.insert(args.end(), {"UNIX-CONNECT:" + path, "STDOUT"});
    } else {
      args.insert(args.end(), {"STDIN", "UNIX-CONNECT:" + path});
    }
    return args;
  };
  const std::size_t volume = quick ? (16u << 20) : (256u << 20);
  const int rounds = quick ? 1 : 3;

  if (relays && !to_app_only && !throughput_only) {
    // The issue this measures: many short messages, as a chatty extension and application send.
    const std::string msg = message(200, 7);
    const std::size_t exchanges = quick ? 2000 : 5000;
    const std::size_t streamed = quick ? 50'000 : 1'000'000;
    const std::vector<std::string> socat_both = {argv[2], "-b", "8192", "STDIO",
                                                 "UNIX-CONNECT:" + path};
    std::vector<double> rtt_host, rtt_socat;
    double rate[2][2] = {};  // [direction][host, socat]: best messages per second
    const Direction dirs[2] = {Direction::kAppToBrowser, Direction::kBrowserToApp};
    // Host and socat runs alternate, so a busy neighbour slows both alike.
    for (int i = 0; i < rounds; ++i) {
      auto h = round_trips(host, true, msg, exchanges, path);
      auto s = round_trips(socat_both, false, msg, exchanges, path);
      rtt_host.insert(rtt_host.end(), h.begin(), h.end());
      rtt_socat.insert(rtt_socat.end(), s.begin(), s.end());
      for (int d = 0; d < 2; ++d) {
        const double n = static_cast<double>(streamed);
        rate[d][0] = std::max(rate[d][0], n / run(host, true, dirs[d], msg, streamed, path));
        rate[d][1] = std::max(rate[d][1],
                              n / run(socat(dirs[d], "8192"), false, dirs[d], msg, streamed, path));
      }
    }
    const double hp50 = percentile(rtt_host, 0.5), sp50 = percentile(rtt_socat, 0.5);
    const double hp99 = percentile(rtt_host, 0.99), sp99 = percentile(rtt_socat, 0.99);
    std::printf("200-byte messages, %d rounds; baseline: socat -b 8192\n", rounds);
    std::printf(
        "  round trip, one at a time: host p50 %6.1f us p99 %6.1f us | socat p50 %6.1f us p99 "
        "%6.1f us | ratio p50 %.2f p99 %.2f (lower is better)\n",
        hp50, hp99, sp50, sp99, hp50 / sp50, hp99 / sp99);
    for (int d = 0; d < 2; ++d) {
      std::printf(
          "  streamed %-14s host %5.2f M msg/s | socat %5.2f M msg/s | ratio %.2f (target 0.80)\n",
          d == 0 ? "app -> browser" : "browser -> app", rate[d][0] / 1e6, rate[d][1] / 1e6,
          rate[d][0] / rate[d][1]);
    }
  }

  if (!small_only) {
    std::printf(
        "relay throughput, %zu MiB per run, best of %d; baselines: socat -u -b 8192 and -b "
        "1048576\n",
        volume >> 20, rounds);
  }
  for (Direction dir : {Direction::kAppToBrowser, Direction::kBrowserToApp}) {
    if (!relays || small_only) break;
    if (to_app_only && dir != Direction::kBrowserToApp) continue;
    for (std::size_t size : {std::size_t{200}, std::size_t{64 * 1024}, std::size_t{1024 * 1024}}) {
      const std::string msg = message(size, 7);
      const std::size_t count = std::max<std::size_t>(1, volume / size);
      double best_host = 1e9, best_8k = 1e9, best_1m = 1e9;
      for (int i = 0; i < rounds; ++i) {
        best_host = std::min(best_host, run(host, true, dir, msg, count, path));
        best_8k = std::min(best_8k, run(socat(dir, "8192"), false, dir, msg, count, path));
        best_1m = std::min(best_1m, run(socat(dir, "1048576"), false, dir, msg, count, path));
      }
      const double mb = static_cast<double>(count * size) / 1e6;
      std::printf(
          "  %-14s %7zu B: host %7.1f MB/s | socat 8K %7.1f MB/s ratio %.2f | socat 1M %7.1f MB/s "
          "ratio %.2f%s\n",
          dir == Direction::kAppToBrowser ? "app -> browser" : "browser -> app", size,
          mb / best_host, mb / best_8k, best_8k / best_host, mb / best_1m, best_1m / best_host,
          size != 64 * 1024                 ? ""
          : dir == Direction::kAppToBrowser ? "  (target 1.00)"
                                            : "  (target 0.70)");
    }
  }

  if (small_only || throughput_only) return 0;
  const double seconds = quick ? 0.2 : 1.0;
  std::size_t sink = 0;
  // Two valid 64 KiB texts: the relay's message (a non-ASCII character every ten bytes or so)
  // and one that is ASCII apart from one such character per kilobyte.
  std::string sparse_words(1022, 'a');
  for (std::size_t i = 7; i < sparse_words.size(); i += 8) sparse_words[i] = ' ';
  sparse_words += "\xC3\xA9";
  const std::string sparse = message(64 * 1024, 12345, sparse_words);
  for (const auto& sample : {std::pair{"dense non-ASCII", message(64 * 1024, 12345)},
                             std::pair{"mostly ASCII", sparse}}) {
    const char* name = sample.first;
    const std::string& text = sample.second;
    if (!qv::is_valid_utf8(text) || !qv::json::scan_header(text)) return 2;
    double scan = mb_per_s(
        text.size(), [&] { sink += qv::json::scan_header(text)->id_text->size(); }, seconds);
    double repair = mb_per_s(
        text.size(), [&] { sink += qv::repair_utf8(text).size(); }, seconds);
    double validate = mb_per_s(
        text.size(), [&] { sink += qv::is_valid_utf8(text) ? 1 : 0; }, seconds);
    std::printf("valid 64 KiB message, %s:\n", name);
    std::printf("  scan_header        %8.0f MB/s   (target 1000)\n", scan);
    std::printf("  repair_utf8        %8.0f MB/s   (target 2000; returns a copy)\n", repair);
    std::printf("  is_valid_utf8      %8.0f MB/s   (the relay's check before repairing)\n",
                validate);
  }
  return sink == 0 ? 1 : 0;
}
