#pragma once
// In-memory stand-ins for every platform service, with failure injection, so the logic's tests
// run fast and deterministically.

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <variant>
#include <vector>

#include "quenvar/automation_error.h"
#include "quenvar/variant.h"
#include "dialogs/error_dialog_host.h"
#include "platform/form.h"
#include "platform/platform.h"

namespace quenvar::fake {

class FileSystem : public quenvar::FileSystem {
 public:
  std::map<std::string, std::string> files;
  std::set<std::string> folders{"/"};
  std::string cwd = "/work";
  // Paths whose open / write / close / folder creation / deletion fails with error 75.
  std::set<std::string> failOpen, failWrite, failClose, failCreate, failDelete;
  int openHandles = 0;

  char separator() const override { return '/'; }
  bool fileExists(const std::string& path) override { return files.count(path) != 0; }
  bool exists(const std::string& path) override { return files.count(path) || folders.count(path); }
  void createFolder(const std::string& path) override;
  void deleteFile(const std::string& path) override;
  std::unique_ptr<OpenFile> open(const std::string& path, Mode mode) override;
  std::string currentDirectory() override { return cwd; }
};

class Clock : public quenvar::Clock {
 public:
  LocalTime now{2026, 12, 7, 9, 30, 5};
  LocalTime localNow() override { return now; }
};

// A fixed locale: "," groups thousands, "." is the decimal point, times read YYYY-MM-DD hh:mm:ss.
class LocaleText : public quenvar::LocaleText {
 public:
  std::string groupedInteger(int64_t value) const override;
  std::string dateTimeText(const LocalTime& time) const override;

 protected:
  std::string numberText(double value) const override;
  std::string currencyText(Currency value) const override;
  std::string dateText(Date value) const override;
};

class SettingsStore : public quenvar::SettingsStore {
 public:
  std::map<std::tuple<std::string, std::string, std::string>, std::string> values;
  bool failGet = false, failSave = false;  // error 75 on every read / write
  // The value stored under application "Palvenor", section "ErrHandler".
  std::optional<std::string> mail(const std::string& key) const;
  void setMail(const std::string& key, const std::string& value);
  std::optional<std::string> get(const std::string& a, const std::string& s, const std::string& k) override;
  void save(const std::string& a, const std::string& s, const std::string& k, const std::string& v) override;
  void remove(const std::string& a, const std::string& s, const std::string& k) override;
};

class EventLog : public quenvar::EventLog {
 public:
  std::vector<EventRecord> records;
  uint32_t failWith = 0;
  uint32_t report(const EventRecord& record) override;
};

class Launcher : public quenvar::Launcher {
 public:
  std::vector<std::string> opened;
  bool fail = false;
  void openInEditor(const std::string& path) override;
};

class MessageBoxService : public quenvar::MessageBoxService {
 public:
  struct Shown {
    std::string text, title;
    int style;
  };
  std::vector<Shown> shown;
  int show(const std::string& text, const std::string& title, int style) override;
};

class OsFacts : public quenvar::OsFacts {
 public:
  VersionRecord versionRecord{true, 6, 1, 7601, 2, "Service Pack 1", ""};
  int32_t processor = 586;
  MemoryRecord memoryRecord{536346624, 268435456, 2147352576, 2000000000};
  std::string eventPlatform = "WinNT";
  HomeFolder home{"/home/alice", "~", false};
  int versionCalls = 0;

  VersionRecord version() override {
    ++versionCalls;
    return versionRecord;
  }
  int32_t processorType() override { return processor; }
  MemoryRecord memory() override { return memoryRecord; }
  std::string eventLogPlatform() override { return eventPlatform; }
  HomeFolder homeFolder() override { return home; }
  std::string user;  // none: the names are not known
  std::string userName() override { return user; }
  // This process; others run while listed in `alive`.
  ProcessMark self{4242, 1000};
  std::vector<std::pair<int64_t, uint64_t>> alive;
  ProcessMark thisProcess() override { return self; }
  bool running(const ProcessMark& mark) override {
    if (mark.pid == self.pid && mark.started == self.started) return true;
    return std::find(alive.begin(), alive.end(), std::pair(mark.pid, mark.started)) != alive.end();
  }
};

class ModuleInfo : public quenvar::ModuleInfo {
 public:
  std::string folderPath = "/opt/quenvar";
  std::string moduleName = "Quenvar";
  std::string folder() override { return folderPath; }
  std::string name() override { return moduleName; }
};

// Stands in for the thread's error dialog when a test seeds it into the thread state.
class ErrorDialogHost : public quenvar::ErrorDialogHost {
 public:
  std::vector<std::pair<std::string, Variant>> assigned;
  int refreshes = 0, shows = 0;
  std::set<std::string> failMembers;
  bool failShow = false;
  std::function<void()> onShow;

  void set(std::string ErrorDialogInput::*input, const std::string& value) override { record(input, Variant(value)); }
  void set(double ErrorDialogInput::*input, double value) override { record(input, Variant(value)); }
  void set(bool ErrorDialogInput::*input, bool value) override { record(input, Variant(value)); }
  void refresh() override { ++refreshes; }
  void showModal() override;
  // The last value assigned to `member`.
  const Variant* value(std::string_view member) const;

 private:
  using Input = std::variant<std::string ErrorDialogInput::*, double ErrorDialogInput::*, bool ErrorDialogInput::*>;
  void record(Input input, Variant value);
};

// Shows forms to a scripted user, keeping the seam's rules: the design size and an activation
// on showing, an activation of the outer form when a form shown over it returns, and a close
// box for a form the user left open.
class WindowSystem : public quenvar::WindowSystem {
 public:
  using User = std::function<void(Form&)>;
  // Who works with a form: the next queued user, else the one for its caption, else nobody.
  std::deque<User> queue;
  std::map<std::string, User> users;
  bool fail = false;
  std::vector<std::string> shown;  // captions, in order
  std::vector<std::pair<std::string, int>> pointers;  // caption and pointer, each time shown

  void showModal(Form& form) override;
  void showPointer(const Form& form) override { pointers.emplace_back(form.caption, form.mousePointer); }
  int shows(const std::string& caption) const;

 private:
  std::vector<Form*> open_;
};

class Clipboard : public quenvar::Clipboard {
 public:
  std::string text = "(earlier content)";
  bool fail = false;
  void setText(const std::string& t) override;
};

class MousePointer : public quenvar::MousePointer {
 public:
  std::vector<int> history;
  int value() const { return history.empty() ? kDefault : history.back(); }
  void set(int v) override { history.push_back(v); }
};

class ShellLauncher : public quenvar::ShellLauncher {
 public:
  struct Call {
    std::string file, parameters, folder;
  };
  std::vector<Call> calls;
  std::deque<int64_t> answers;  // then 42 for every further call
  int64_t open(const std::string& file, const std::string& parameters, const std::string& folder) override;
};

// Without `make`, there is no mail client: 429 as on a machine without Outlook.
class MailClientAutomation : public quenvar::MailClientAutomation {
 public:
  std::function<ObjectRef()> make;
  ObjectRef create() override;
};

// A scripted server behind a fake connection: each command's reply arrives, chunk by chunk, one
// chunk per pump turn; every turn advances the fake clock by the time it was given.
struct ScriptedServer : PumpedSocket, SteadyClock, MailHost {
  using Chunks = std::vector<std::string>;
  std::map<std::string, Chunks> script{{"connect", {"220 ready\r\n"}}, {"HELO", {"250 hi\r\n"}},
                                       {"MAIL", {"250 ok\r\n"}},       {"RCPT", {"250 ok\r\n"}},
                                       {"DATA", {"354 go\r\n"}},       {".", {"250 queued\r\n"}},
                                       {"QUIT", {"221 bye\r\n"}}};
  // A chunk that makes the server hang up when its turn comes: the socket closes, "hang up" is
  // logged, and nothing more is answered until the next connect.
  static inline const std::string kHangUp = std::string("\0hang up", 8);
  std::deque<std::string> incoming;
  std::vector<std::string> log;  // "connect host:port", "close", "hang up" and every send
  State st = State::Closed;
  bool inData = false, hungUp = false;
  double now = 1000;
  DataSink sink;

  void reply(const std::string& key) {
    if (hungUp) return;
    if (auto it = script.find(key); it != script.end()) incoming.insert(incoming.end(), it->second.begin(), it->second.end());
  }
  State state() const override { return st; }
  void close() override { st = State::Closed, log.push_back("close"); }
  void connect(const std::string& host, uint16_t port) override {
    // A new connection starts a new dialogue, whatever the last one was in the middle of.
    st = State::Open, hungUp = false, inData = false, tlsState = Tls::Off, log.push_back("connect " + host + ":" + std::to_string(port)), reply("connect");
  }
  void send(std::string_view bytes) override {
    log.emplace_back(bytes);
    if (inData) {
      if (bytes == ".\r\n") inData = false, reply(".");
      return;
    }
    const std::string verb(bytes.substr(0, bytes.find_first_of(" \r")));
    inData = verb == "DATA";
    reply(verb);
  }
  void onData(DataSink s) override { sink = std::move(s); }
  void runOnce(double timeout) override {
    now += timeout;
    if (tlsPending) {
      tlsPending = false, tlsState = tlsRefusal.empty() ? Tls::Up : Tls::Failed;
      return;
    }
    if (incoming.empty()) return;
    std::string chunk = std::move(incoming.front());
    incoming.pop_front();
    if (chunk != kHangUp) return sink(chunk);
    incoming.clear(), st = State::Closed, hungUp = true, log.push_back("hang up");
  }
  // TLS as the script says: up at the next turn of the pump, or failed with `tlsRefusal`.
  std::string tlsRefusal;
  Tls tlsState = Tls::Off;
  bool tlsPending = false;
  void startTls(const std::string& name, const std::string& caFile) override {
    log.push_back("tls " + name + " " + caFile), tlsState = Tls::Negotiating, tlsPending = true;
  }
  Tls tls() const override { return tlsState; }
  std::string tlsFailure() const override { return tlsRefusal; }

  double seconds() override { return now; }
  std::string thisHost = "build7\r\n";
  std::string hostName() override { return thisHost; }
  ZonedTime zonedNow() override { return {2002, 1, 7, 14, 5, 9, 1, 60}; }
};


// Every socket it opens is a connection to the one scripted server.
class Network : public quenvar::Network {
 public:
  ScriptedServer server;
  int opened = 0, discarded = 0;
  std::unique_ptr<PumpedSocket> openSocket() override;
  SteadyClock& clock() override { return server; }
  MailHost& host() override { return server; }
};

class SecretStore : public quenvar::SecretStore {
 public:
  std::map<std::pair<std::string, std::string>, std::string> secrets;
  bool fail = false;
  std::optional<std::string> get(const std::string& app, const std::string& name) override;
  void save(const std::string& app, const std::string& name, const std::string& secret) override;
  void remove(const std::string& app, const std::string& name) override;
};

// The user's outbox in memory, every project in one map by name: reports, those another
// process holds, those that cannot be read, those set aside with their reasons, and the state.
// Safe for the collector's worker thread.
class OutboxStore : public quenvar::OutboxStore {
 public:
  // Keyed "<project>/<name>"; `rejected` holds the reason, `rejectedBytes` the report.
  std::map<std::string, std::string> reports, rejected, rejectedBytes, states;
  std::set<std::string> heldElsewhere, unreadable;
  std::set<std::string> unsynced;  // put and not yet synced
  std::map<std::string, std::pair<uint64_t, double>> temporaries;  // bytes, age in seconds
  size_t lists = 0;  // how often the reports were listed
  std::function<void()> listing;  // called as each listing begins, before the lock

  std::vector<Entry> list(const std::string& project) override;
  void put(const std::string& project, const std::string& name, std::string_view bytes) override;
  void sync(const std::string& project) override;
  std::unique_ptr<Claim> claim(const std::string& project, const std::string& name) override;
  std::optional<std::string> state(const std::string& project, const std::string& key) override;
  void setState(const std::string& project, const std::string& key, std::string_view value, bool durable) override;
  std::vector<std::string> stateKeys(const std::string& project, const std::string& prefix) override;
  bool removeState(const std::string& project, const std::string& key) override;
  std::vector<Entry> listRejected(const std::string& project) override;
  void removeRejected(const std::string& project, const std::string& name) override;
  uint64_t sweep(const std::string& project, double seconds) override;
  // The reports' bytes in the order of their names, read under the lock.
  std::vector<std::string> waiting();

  std::mutex lock;

 private:
  struct HeldClaim;
  std::set<std::string> held_;
};

// A collector behind every HTTP client it opens: each request recorded, each answered by
// `answer` (200 unless told otherwise). Safe for the collector's worker thread.
class HttpService : public quenvar::HttpService {
 public:
  struct Sent {
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body, caFile;
  };
  std::function<HttpAnswer(const Sent&)> answer = [](const Sent&) { return HttpAnswer{200, "", "", ""}; };
  std::unique_ptr<HttpClient> openClient() override;
  std::vector<Sent> sent();

  std::mutex lock;
  std::vector<Sent> requests;
};

// Crash capture whose crash is a call: `onCrash`, as install gave it, run by the test as the
// capture's thread would run it.
class CrashCapture : public quenvar::CrashCapture {
 public:
  OnCrash onCrash;
  bool on = false;
  void install(OnCrash given) override { onCrash = std::move(given), on = true; }
  void remove() override { on = false; }
  bool installed() override { return on; }
  void prepareThread() override {}
  uint64_t threadId() override { return std::hash<std::thread::id>{}(std::this_thread::get_id()); }
};

// Every service faked, wired into one Platform.
struct Services {
  FileSystem files;
  Clock clock;
  LocaleText locale;
  SettingsStore settings;
  EventLog eventLog;
  Launcher launcher;
  MessageBoxService messageBox;
  OsFacts os;
  ModuleInfo module;
  WindowSystem windows;
  Clipboard clipboard;
  MousePointer pointer;
  ShellLauncher shell;
  MailClientAutomation mailClient;
  Network network;
  SecretStore secrets;
  HttpService http;
  OutboxStore outbox;
  CrashCapture crash;
  Platform platform{&files,  &clock,   &locale,    &settings, &eventLog,   &launcher, &messageBox, &os,
                    &module, &windows, &clipboard, &pointer,  &shell,      &mailClient, &network,  &secrets,
                    &http,   &outbox,  &crash};
};

}  // namespace quenvar::fake
