#include "faults/faulty_platform.h"

#include <algorithm>

#include "quenvar/automation_error.h"

namespace quenvar::faults {

namespace {

const char* const kServiceNames[] = {"Files", "Settings", "EventLog",  "Launcher", "MessageBox", "Os",
                                     "Windows", "Clipboard", "Shell", "MailClient", "Network"};

// The failures the real backends give for each kind of refusal.
constexpr int32_t kCantOpenClipboard = 521;
constexpr uint32_t kEventLogFull = 1502;          // ERROR_LOG_FILE_FULL
constexpr int64_t kNoAssociation = 31;            // SE_ERR_NOASSOC
constexpr int32_t kConnectionReset = 10054, kHostNotFound = 11001;

struct Tap {
  FaultPlan& plan;
  Service service;
  bool operator()(const char* what) const { return plan.fails(service, what); }
};

class File : public OpenFile {
 public:
  File(std::unique_ptr<OpenFile> inner, Tap tap) : inner_(std::move(inner)), tap_(tap) {}
  void write(std::string_view text) override {
    if (!inner_ || tap_("write")) throw AutomationError(err::kPathFileAccess, "Path/File access error");
    inner_->write(text);
  }
  void close() override {
    if (!inner_) return;
    // A close that fails still gives the descriptor back, as close(2) and CloseHandle do; a
    // replacement whose close fails never takes the old file's place.
    if (tap_("close")) {
      inner_.reset();
      throw AutomationError(err::kPathFileAccess, "Path/File access error");
    }
    inner_->close();
  }

 private:
  std::unique_ptr<OpenFile> inner_;
  Tap tap_;
};

class Files : public FileSystem {
 public:
  Files(FileSystem& inner, Tap tap) : inner_(inner), tap_(tap) {}
  char separator() const override { return inner_.separator(); }
  bool fileExists(const std::string& path) override { return inner_.fileExists(path); }
  bool exists(const std::string& path) override { return inner_.exists(path); }
  void createFolder(const std::string& path) override {
    if (tap_("createFolder")) throw AutomationError(err::kPathNotFound, "Path not found");
    inner_.createFolder(path);
  }
  void deleteFile(const std::string& path) override {
    if (tap_("deleteFile")) throw AutomationError(err::kPermissionDenied, "Permission denied");
    inner_.deleteFile(path);
  }
  std::unique_ptr<OpenFile> open(const std::string& path, Mode mode) override {
    if (tap_("open")) throw AutomationError(err::kPathFileAccess, "Path/File access error");
    return std::make_unique<File>(inner_.open(path, mode), tap_);
  }
  std::string currentDirectory() override { return inner_.currentDirectory(); }

 private:
  FileSystem& inner_;
  Tap tap_;
};

class Settings : public SettingsStore {
 public:
  Settings(SettingsStore& inner, Tap tap) : inner_(inner), tap_(tap) {}
  std::optional<std::string> get(const std::string& a, const std::string& s, const std::string& k) override {
    if (tap_("get")) throw AutomationError(err::kPathFileAccess, "Path/File access error");
    return inner_.get(a, s, k);
  }
  void save(const std::string& a, const std::string& s, const std::string& k, const std::string& v) override {
    if (tap_("save")) throw AutomationError(err::kPathFileAccess, "Path/File access error");
    inner_.save(a, s, k, v);
  }
  void remove(const std::string& a, const std::string& s, const std::string& k) override {
    if (tap_("remove")) throw AutomationError(err::kPathFileAccess, "Path/File access error");
    inner_.remove(a, s, k);
  }

 private:
  SettingsStore& inner_;
  Tap tap_;
};

class Events : public EventLog {
 public:
  Events(EventLog& inner, Tap tap) : inner_(inner), tap_(tap) {}
  uint32_t report(const EventRecord& record) override { return tap_("report") ? kEventLogFull : inner_.report(record); }

 private:
  EventLog& inner_;
  Tap tap_;
};

class Editor : public Launcher {
 public:
  Editor(Launcher& inner, Tap tap) : inner_(inner), tap_(tap) {}
  void openInEditor(const std::string& path) override {
    if (tap_("openInEditor")) throw AutomationError(err::kFileNotFound, "File not found");
    inner_.openInEditor(path);
  }

 private:
  Launcher& inner_;
  Tap tap_;
};

// A message box that cannot be created answers 0, no button.
class Boxes : public MessageBoxService {
 public:
  Boxes(MessageBoxService& inner, Tap tap) : inner_(inner), tap_(tap) {}
  int show(const std::string& text, const std::string& title, int style) override {
    return tap_("show") ? 0 : inner_.show(text, title, style);
  }

 private:
  MessageBoxService& inner_;
  Tap tap_;
};

// A failed version query leaves its record zeroed; the other records have no failure.
class Facts : public OsFacts {
 public:
  Facts(OsFacts& inner, Tap tap) : inner_(inner), tap_(tap) {}
  VersionRecord version() override { return tap_("version") ? VersionRecord{} : inner_.version(); }
  int32_t processorType() override { return inner_.processorType(); }
  MemoryRecord memory() override { return inner_.memory(); }
  std::string eventLogPlatform() override { return inner_.eventLogPlatform(); }

 private:
  OsFacts& inner_;
  Tap tap_;
};

class Windows : public WindowSystem {
 public:
  Windows(WindowSystem& inner, Tap tap) : inner_(inner), tap_(tap) {}
  void showModal(Form& form) override {
    if (tap_("showModal")) throw AutomationError(err::kInvalidCall, "No window system is available to show the dialog");
    inner_.showModal(form);
  }

 private:
  WindowSystem& inner_;
  Tap tap_;
};

class Board : public Clipboard {
 public:
  Board(Clipboard& inner, Tap tap) : inner_(inner), tap_(tap) {}
  void setText(const std::string& text) override {
    if (tap_("setText")) throw AutomationError(kCantOpenClipboard, "Can't open Clipboard");
    inner_.setText(text);
  }

 private:
  Clipboard& inner_;
  Tap tap_;
};

class Shell : public ShellLauncher {
 public:
  Shell(ShellLauncher& inner, Tap tap) : inner_(inner), tap_(tap) {}
  int64_t open(const std::string& file, const std::string& parameters, const std::string& folder) override {
    return tap_("open") ? kNoAssociation : inner_.open(file, parameters, folder);
  }

 private:
  ShellLauncher& inner_;
  Tap tap_;
};

class MailClient : public MailClientAutomation {
 public:
  MailClient(MailClientAutomation& inner, Tap tap) : inner_(inner), tap_(tap) {}
  ObjectRef create() override {
    if (tap_("create")) throw AutomationError(err::kCantCreateObject, "ActiveX component can't create object");
    return inner_.create();
  }

 private:
  MailClientAutomation& inner_;
  Tap tap_;
};

class Connection : public PumpedSocket {
 public:
  Connection(std::unique_ptr<PumpedSocket> inner, Tap tap) : inner_(std::move(inner)), tap_(tap) {}
  State state() const override { return inner_->state(); }
  void close() override { inner_->close(); }
  void connect(const std::string& host, uint16_t port) override {
    if (tap_("connect")) throw AutomationError(kHostNotFound, "Authoritative answer: Host not found");
    inner_->connect(host, port);
  }
  void send(std::string_view bytes) override {
    if (tap_("send")) throw AutomationError(kConnectionReset, "Connection is reset by remote side");
    inner_->send(bytes);
  }
  void onData(DataSink sink) override { inner_->onData(std::move(sink)); }
  void runOnce(double timeout) override { inner_->runOnce(timeout); }
  void startTls(const std::string& name, const std::string& caFile) override {
    if (tap_("startTls")) throw AutomationError(kConnectionReset, "Connection is reset by remote side");
    inner_->startTls(name, caFile);
  }
  Tls tls() const override { return inner_->tls(); }
  std::string tlsFailure() const override { return inner_->tlsFailure(); }

 private:
  std::unique_ptr<PumpedSocket> inner_;
  Tap tap_;
};

class Net : public Network {
 public:
  Net(Network& inner, Tap tap) : inner_(inner), tap_(tap) {}
  std::unique_ptr<PumpedSocket> openSocket() override { return std::make_unique<Connection>(inner_.openSocket(), tap_); }
  SteadyClock& clock() override { return inner_.clock(); }
  MailHost& host() override { return inner_.host(); }

 private:
  Network& inner_;
  Tap tap_;
};

}  // namespace

void FaultPlan::schedule(int64_t n, std::optional<Service> service, bool sticky) {
  armed_ = false, service_ = service, sticky_ = sticky, target_ = n, count_ = 0;
  injected_.clear(), services_.clear();
}

bool FaultPlan::fails(Service service, const char* what) {
  if (!armed_ || (service_ && *service_ != service)) return false;
  ++count_;
  if (count_ < target_ || (count_ > target_ && !sticky_)) return false;
  injected_.push_back(std::string(kServiceNames[static_cast<int>(service)]) + "." + what);
  services_.push_back(service);
  return true;
}

bool FaultPlan::injectedInto(std::string_view what) const {
  return std::find(injected_.begin(), injected_.end(), what) != injected_.end();
}

bool FaultPlan::injectedInto(Service service) const {
  return std::find(services_.begin(), services_.end(), service) != services_.end();
}

std::string FaultPlan::record() const {
  std::string out;
  for (const std::string& what : injected_) out += (out.empty() ? "" : ", ") + what;
  return out.empty() ? "no fault" : out;
}

struct FaultyPlatform::Wrappers {
  Files files;
  Settings settings;
  Events eventLog;
  Editor launcher;
  Boxes messageBox;
  Facts os;
  Windows windows;
  Board clipboard;
  Shell shell;
  MailClient mailClient;
  Net network;
};

FaultyPlatform::FaultyPlatform(Platform& inner, FaultPlan& plan)
    : wrappers_(new Wrappers{{*inner.files, {plan, Service::Files}},
                             {*inner.settings, {plan, Service::Settings}},
                             {*inner.eventLog, {plan, Service::EventLog}},
                             {*inner.launcher, {plan, Service::Launcher}},
                             {*inner.messageBox, {plan, Service::MessageBox}},
                             {*inner.os, {plan, Service::Os}},
                             {*inner.windows, {plan, Service::Windows}},
                             {*inner.clipboard, {plan, Service::Clipboard}},
                             {*inner.shell, {plan, Service::Shell}},
                             {*inner.mailClient, {plan, Service::MailClient}},
                             {*inner.network, {plan, Service::Network}}}) {
  Wrappers& w = *wrappers_;
  platform = {&w.files,      inner.clock,   inner.locale, &w.settings,   &w.eventLog,
              &w.launcher,   &w.messageBox, &w.os,        inner.module,  &w.windows,
              &w.clipboard,  inner.pointer, &w.shell,     &w.mailClient, &w.network,
              inner.secrets};
}

FaultyPlatform::~FaultyPlatform() = default;

}  // namespace quenvar::faults
