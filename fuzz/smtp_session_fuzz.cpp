// The SMTP session against arbitrary server bytes. The input is what the server sends, one
// read per pump turn, reads separated by 0xFF; a read of 0xFE alone hangs up. Whatever
// arrives, the session must end, and may send a command only after some reply line carrying
// the code the previous step waited for.

#include <cstdint>
#include <string>
#include <vector>

#include "quenvar/automation_error.h"
#include "fakes/fake_platform.h"
#include "mail/smtp_session.h"

namespace {

using namespace quenvar;

constexpr const char* kCodes[] = {"220", "250", "250", "250", "354", "250", "221"};
constexpr const char* kVerbs[] = {"HELO ", "MAIL FROM:", "RCPT TO:", "DATA\r\n", nullptr, "QUIT\r\n"};

struct Server : PumpedSocket, SteadyClock, MailHost {
  std::vector<std::string> reads;
  size_t nextRead = 0;
  std::string delivered;  // every byte the session has been given
  size_t cursor = 0;      // where the reply of the step being waited for may begin
  int step = 0;           // replies the session has accepted so far
  bool open = false, inData = false;
  double now = 0;
  long turns = 0;
  DataSink sink;

  // Consumes the earliest unconsumed reply line beginning with the code of the current step.
  bool replied() {
    const std::string code = kCodes[step];
    for (size_t at = cursor; at < delivered.size();) {
      const size_t end = delivered.find('\n', at);
      if (end == std::string::npos) return false;
      if (delivered.compare(at, 3, code) == 0) {
        cursor = end + 1;
        ++step;
        return true;
      }
      at = end + 1;
    }
    return false;
  }

  State state() const override { return open ? State::Open : State::Closed; }
  void close() override { open = false; }
  void connect(const std::string&, uint16_t) override {
    if (turns != 0 || open) __builtin_trap();  // one connection, made first
    open = true;
  }
  void send(std::string_view bytes) override {
    if (!open) throw AutomationError(err::kConnectionClosed, "not connected");
    if (inData) {
      if (bytes == ".\r\n") inData = false;
      return;
    }
    if (step >= 6 || !replied()) __builtin_trap();  // a command before its cue
    // A command is one line: nothing a value carried may start another.
    if (const char* verb = kVerbs[step - 1];
        verb && (!bytes.starts_with(verb) || bytes.find_first_of("\r\n") != bytes.size() - 2))
      __builtin_trap();
    inData = step == 5;
  }
  void onData(DataSink s) override { sink = std::move(s); }
  void runOnce(double timeout) override {
    ++turns;
    now += timeout;
    if (nextRead == reads.size()) return;
    const std::string& read = reads[nextRead++];
    if (read == "\xFE") {
      open = false;
      nextRead = reads.size();
    } else if (open && sink) {
      delivered += read;
      sink(read);
    }
  }
  double seconds() override { return now; }
  std::string hostName() override { return "fuzz.example"; }
  ZonedTime zonedNow() override { return {}; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Server server;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  for (size_t from = 0;;) {
    const size_t end = input.find('\xFF', from);
    server.reads.emplace_back(input.substr(from, end == std::string_view::npos ? end : end - from));
    if (end == std::string_view::npos) break;
    from = end + 1;
  }
  fake::MessageBoxService boxes;
  std::string held;
  {
    SmtpSession session({server, server, server, server, boxes}, held);
    try {
      session.SendEmail("mx.example", "Ops", "ops@example.com", "Dev", "dev@example.com", "Subject",
                        "line one\r\n.\r\nline three");
    } catch (const AutomationError&) {
      // A send on a connection the server dropped: the owner ends silently.
    }
  }
  // Every wait is bounded by the clock: seven of them at most.
  const long turnsPerWait = static_cast<long>(SmtpSession::kReplyLimitSeconds / SmtpSession::kPumpSliceSeconds) + 2;
  if (server.turns > 7 * turnsPerWait) __builtin_trap();
  const bool succeeded = !boxes.shown.empty() && boxes.shown.back().title == "Operation Successful";
  if (succeeded && (server.step != 6 || !server.replied())) __builtin_trap();
  return 0;
}
