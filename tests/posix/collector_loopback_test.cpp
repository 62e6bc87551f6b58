// The collector with its real parts (the user's outbox on disk, libcurl) against a collector on
// loopback that this test plays, across processes: reports wait while it is down and go once it
// is back, each exactly once however many processes send, and one whose sender was killed
// mid-send goes again with its own event id.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <condition_variable>
#include <map>
#include <optional>
#include <algorithm>
#include <mutex>
#include <thread>

#include "collector/hub.h"
#include "platform/platform.h"
#include "platform/posix/outbox_store_posix.h"
#include "platform/posix/socket_posix.h"
#include "quenvar/collector.h"
#include "quenvar/err_handler.h"
#include "temp_folder.h"

// A child that ends by exit() with its worker still sending: what the worker's libraries hold
// then is no leak of ours, and LeakSanitizer's check at exit would make the exit status its own.
static bool childEnding = false;
extern "C" int __lsan_is_turned_off() { return childEnding ? 1 : 0; }

namespace quenvar {
namespace {

// Takes envelopes over HTTP/1.1 keep-alive and notes each event id; answers 200, or holds the
// answer back while `holding`.
class Receiver {
 public:
  Receiver() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &size);
    port_ = ntohs(at.sin_port);
  }
  ~Receiver() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    if (thread_.joinable()) thread_.join();
    for (std::thread& t : connections_) t.join();
  }
  uint16_t port() const { return port_; }
  void start() {
    ::listen(listener_, 16);
    thread_ = std::thread([this] {
      for (int fd; !stop_ && (fd = ::accept(listener_, nullptr, nullptr)) >= 0;)
        connections_.emplace_back([this, fd] { serve(fd); });
    });
  }
  std::atomic<bool> holding{false};
  std::atomic<bool> limiting{false};  // answers with a rate limit no collector would set
  std::map<std::string, int> received() {
    const std::lock_guard held(lock_);
    return ids_;
  }
  bool waitFor(size_t total) {
    std::unique_lock held(lock_);
    return changed_.wait_for(held, std::chrono::seconds(20), [&] {
      size_t n = 0;
      for (const auto& [id, count] : ids_) n += static_cast<size_t>(count);
      return n >= total;
    });
  }

 private:
  void serve(int fd) {
    std::string data;
    char chunk[65536];
    for (;;) {
      size_t head;
      while ((head = data.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return (void)::close(fd);
        data.append(chunk, static_cast<size_t>(n));
      }
      const size_t at = data.find("Content-Length: ");
      const size_t length = at < head ? std::stoul(data.substr(at + 16)) : 0;
      while (data.size() < head + 4 + length) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return (void)::close(fd);
        data.append(chunk, static_cast<size_t>(n));
      }
      const std::string body = data.substr(head + 4, length);
      data.erase(0, head + 4 + length);
      const size_t id = body.find("\"event_id\":\"") + 12;
      {
        const std::lock_guard held(lock_);
        ++ids_[body.substr(id, 32)];
        changed_.notify_all();
      }
      while (holding && !stop_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      const std::string answer =
          limiting ? "HTTP/1.1 429 Too Many Requests\r\nRetry-After: 9999999999\r\nContent-Length: 0\r\n\r\n"
                   : "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
      if (::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) return (void)::close(fd);
    }
  }

  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::vector<std::thread> connections_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::map<std::string, int> ids_;
};

struct Surroundings {
  testing::TempFolder dir;
  PosixOutboxStore outbox{dir / "outbox"};
  Platform platform = defaultPlatform();
  Surroundings() { platform.outbox = &outbox; }
};

// Every child is this program started again with one role (the Child case below), not a fork
// that goes on: a fork of a process whose threads allocate (the receiver's) can inherit the
// allocator's lock held, and AddressSanitizer's allocator has no fork handling to release it, so
// such a child could wait on it for ever.
pid_t startChild(Surroundings& s, const std::string& dsn, const std::string& role) {
  // Everything the child needs, made before the fork: between fork and exec it only calls exec.
  std::vector<std::string> settings;
  for (char** e = environ; *e != nullptr; ++e) settings.emplace_back(*e);
  settings.push_back("QUENVAR_TEST_CHILD=" + role);
  settings.push_back("QUENVAR_TEST_DSN=" + dsn);
  settings.push_back("QUENVAR_TEST_DIR=" + s.dir.path());
  settings.push_back("XDG_STATE_HOME=" + (s.dir / "state"));
  std::vector<char*> environment;
  for (std::string& setting : settings) environment.push_back(setting.data());
  environment.push_back(nullptr);
  char program[] = "posix_backend_tests", filter[] = "--gtest_filter=PosixCollectorLoopback.Child";
  char* arguments[] = {program, filter, nullptr};
  const pid_t child = ::fork();
  if (child == 0) {
    ::execve("/proc/self/exe", arguments, environment.data());
    ::_exit(127);
  }
  return child;
}

// The same to its end: its exit status, less the 40 a child that ran its role adds (one that ran
// no case would end with 0).
int inChild(Surroundings& s, const std::string& dsn, const std::string& role) {
  const pid_t child = startChild(s, dsn, role);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status) >= 40 && WEXITSTATUS(status) < 60 ? WEXITSTATUS(status) - 40 : 1000 + WEXITSTATUS(status);
}

TEST(PosixCollectorLoopback, NothingLostNothingTwice) {
  Surroundings s;
  Receiver receiver;  // bound, not yet listening: the collector is down
  const std::string dsn = "http://key@127.0.0.1:" + std::to_string(receiver.port()) + "/7";
  EXPECT_EQ(inChild(s, dsn, "down"), 0)
      << "three wait while the collector is down";

  receiver.start();
  // Two processes flush the same outbox at once: each report goes once.
  // (A flush may end with one the other holds still counted as waiting.)
  std::thread other([&] { inChild(s, dsn, "flush"); });
  inChild(s, dsn, "flush");
  other.join();
  ASSERT_TRUE(receiver.waitFor(3));
  EXPECT_EQ(receiver.received().size(), 3u);
  for (const auto& [id, count] : receiver.received()) EXPECT_EQ(count, 1) << id;

  // Killed while the collector holds its answer: the report stays and goes again, the same event.
  receiver.holding = true;
  const pid_t child = startChild(s, dsn, "killed");
  ASSERT_TRUE(receiver.waitFor(4));
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  receiver.holding = false;
  EXPECT_EQ(inChild(s, dsn, "flush"), 0)
      << "none left";
  ASSERT_TRUE(receiver.waitFor(5));
  const auto received = receiver.received();
  EXPECT_EQ(received.size(), 4u);
  EXPECT_EQ(std::count_if(received.begin(), received.end(), [](const auto& r) { return r.second == 2; }), 1)
      << "the killed sender's report again, with its own id";
}

// The process's own collector, ended by exit() while its worker waits out an absurd rate limit,
// while it waits on a send the collector never answers, or just as it starts: the process ends
// at once, and as it asked.
TEST(PosixCollectorLoopback, EndingTheProcessNeverWaitsNorAborts) {
  Surroundings s;
  Receiver receiver;
  receiver.start();
  const std::string dsn = "http://key@127.0.0.1:" + std::to_string(receiver.port()) + "/8";
  for (const std::string role : {"ending-limited", "ending", "ending-now"}) {
    receiver.limiting = role == "ending-limited";
    receiver.holding = role == "ending";
    for (int run = 0; run < (role == "ending-now" ? 12 : 5); ++run) {
      SCOPED_TRACE(role + ", run " + std::to_string(run));
      const double start = PosixSocket::systemClock().seconds();
      EXPECT_EQ(inChild(s, dsn, role), 2);
      EXPECT_LT(PosixSocket::systemClock().seconds() - start, 8);
    }
  }
  receiver.holding = false;
}

// The children of the cases above, by role; skipped on its own. Each has a hub of its own over
// the same outbox and ends with 40 + its answer.
TEST(PosixCollectorLoopback, Child) {
  const char* role = std::getenv("QUENVAR_TEST_CHILD");
  if (role == nullptr) GTEST_SKIP() << "started by the cases above";
  const std::string kind = role;
  const std::string folder = std::getenv("QUENVAR_TEST_DIR");
  PosixOutboxStore outbox{folder + "/outbox"};
  Platform platform = defaultPlatform();
  if (kind.rfind("ending", 0) != 0) platform.outbox = &outbox;  // the ending child uses the process's own
  std::optional<collector::Hub> hub;
  if (platform.outbox == &outbox) hub.emplace(platform);
  Collector collector(platform);
  collector.Dsn(std::getenv("QUENVAR_TEST_DSN"));
  if (kind == "ending-now") {  // as the worker, just woken, starts: a moment that differs by run
    ::usleep(static_cast<useconds_t>(::getpid() % 8) * 500);
    childEnding = true;
    std::exit(42);
  }
  clsErrHandler handler(platform);
  handler.Destination(folder + "/logs");
  int answer = 0;
  if (kind == "down") {
    for (int i = 0; i < 3; ++i) {
      handler.Push("Post" + std::to_string(i));
      handler.HandleError("down", 1042, 0);
    }
    answer = collector.Flush(500) == 3 && collector.LastError() == "connection refused" ? 0 : 1;
  } else if (kind == "flush") {
    answer = collector.Flush(5000);
    if (answer != 0) std::fprintf(stderr, "left %d: %s\n", answer, collector.LastError().c_str());
  } else if (kind == "killed") {
    handler.Push("Killed");
    handler.HandleError("mid-send", 7, 0);  // the worker sends it
    ::pause();
  } else {
    handler.Push("Ending");
    handler.HandleError("at exit", 7, 0);
    for (int i = 0; i < 500 && kind == "ending-limited" && collector.LastError().empty(); ++i) ::usleep(10000);
    ::usleep(200000);  // the worker waits (or, were the limit not cut, spins)
    childEnding = true;
    std::exit(42);
  }
  ::_exit(40 + std::min(answer, 19));
}

}  // namespace
}  // namespace quenvar
