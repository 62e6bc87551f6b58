#include "fakes/fake_platform.h"

#include <cmath>
#include <cstdio>

namespace quenvar::fake {

namespace {
[[noreturn]] void fail(const std::string& path) {
  throw AutomationError(err::kPathFileAccess, "Path/File access error: " + path);
}

std::string parentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Replacing, the writes gather aside and take the file's place only when it closes.
class File : public OpenFile {
 public:
  File(FileSystem& fs, std::string path, bool replace) : fs_(fs), path_(std::move(path)), replace_(replace) {
    ++fs_.openHandles;
  }
  ~File() override {
    if (!closed_) --fs_.openHandles;
  }
  void write(std::string_view text) override {
    if (fs_.failWrite.count(path_)) fail(path_);
    (replace_ ? pending_ : fs_.files[path_]) += text;
  }
  void close() override {
    if (closed_) return;
    if (fs_.failClose.count(path_)) fail(path_);
    closed_ = true;
    --fs_.openHandles;
    if (replace_) fs_.files[path_] = std::move(pending_);
  }

 private:
  FileSystem& fs_;
  std::string path_;
  bool replace_;
  std::string pending_;
  bool closed_ = false;
};
}  // namespace

void FileSystem::createFolder(const std::string& path) {
  if (failCreate.count(path) || path.empty() || exists(path) || !folders.count(parentOf(path)))
    throw AutomationError(err::kPathNotFound, "Path not found: " + path);
  folders.insert(path);
}

void FileSystem::deleteFile(const std::string& path) {
  if (failDelete.count(path)) fail(path);
  if (!files.erase(path)) throw AutomationError(err::kFileNotFound, "File not found: " + path);
}

std::unique_ptr<OpenFile> FileSystem::open(const std::string& path, Mode mode) {
  if (failOpen.count(path) || !folders.count(parentOf(path))) fail(path);
  if (mode == Mode::Append && !files.count(path)) files[path].clear();
  return std::make_unique<File>(*this, path, mode == Mode::Replace);
}

std::string LocaleText::groupedInteger(int64_t value) const {
  if (value == 0) return {};
  std::string digits = std::to_string(value < 0 ? -(value + 1) + 1ULL : static_cast<uint64_t>(value));
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return value < 0 ? "-" + out : out;
}

std::string LocaleText::dateTimeText(const LocalTime& t) const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}

std::string LocaleText::numberText(double value) const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", value);
  return buf;
}

std::string LocaleText::currencyText(Currency value) const { return numberText(static_cast<double>(value.scaled) / 10000); }

std::string LocaleText::dateText(Date value) const { return dateTimeText(toLocalTime(value)); }

std::optional<std::string> SettingsStore::get(const std::string& a, const std::string& s, const std::string& k) {
  if (failGet) throw AutomationError(err::kPathFileAccess, "settings store unreadable");
  auto it = values.find({a, s, k});
  if (it == values.end()) return std::nullopt;
  return it->second;
}
void SettingsStore::save(const std::string& a, const std::string& s, const std::string& k, const std::string& v) {
  if (failSave) throw AutomationError(err::kPathFileAccess, "settings store unwritable");
  values[{a, s, k}] = v;
}
void SettingsStore::remove(const std::string& a, const std::string& s, const std::string& k) {
  values.erase({a, s, k});
}

uint32_t EventLog::report(const EventRecord& record) {
  if (failWith != 0) return failWith;
  records.push_back(record);
  return 0;
}

void Launcher::openInEditor(const std::string& path) {
  if (fail) throw AutomationError(err::kFileNotFound, "File not found: editor");
  opened.push_back(path);
}

int MessageBoxService::show(const std::string& text, const std::string& title, int style) {
  shown.push_back({text, title, style});
  return kAnsweredOk;
}

void ErrorDialogHost::record(Input input, Variant value) {
  using In = ErrorDialogInput;
  static const std::pair<Input, const char*> kNames[] = {
      {&In::m_strErrDetail, "m_strErrDetail"},
      {&In::m_strDestination, "m_strDestination"},
      {&In::m_dblErrNum, "m_dblErrNum"},
      {&In::m_bolTraceExecution, "m_bolTraceExecution"},
      {&In::m_strEmailAddress, "m_strEmailAddress"},
      {&In::m_strToName, "m_strToName"},
      {&In::m_strSubject, "m_strSubject"},
      {&In::m_strEmailDetailAPI, "m_strEmailDetailAPI"},
      {&In::m_strEmailDetailAPI2, "m_strEmailDetailAPI2"},
      {&In::ShowAppInfo, "ShowAppInfo"},
      {&In::ShowDBInfo, "ShowDBInfo"},
      {&In::ShowSysInfo, "ShowSysInfo"},
      {&In::AppLog, "AppLog"},
      {&In::SysLog, "SysLog"},
      {&In::DbLog, "DbLog"},
  };
  std::string member = "?";
  for (const auto& [known, name] : kNames)
    if (known == input) member = name;
  if (failMembers.count(member)) throw AutomationError(err::kNoSuchMember, "assignment refused: " + member);
  assigned.emplace_back(member, std::move(value));
}

void ErrorDialogHost::showModal() {
  if (failShow) throw AutomationError(err::kInvalidCall, "No window system");
  ++shows;
  if (onShow) onShow();
}

const Variant* ErrorDialogHost::value(std::string_view member) const {
  for (auto it = assigned.rbegin(); it != assigned.rend(); ++it)
    if (it->first == member) return &it->second;
  return nullptr;
}

std::optional<std::string> SettingsStore::mail(const std::string& key) const {
  auto it = values.find({"Palvenor", "ErrHandler", key});
  if (it == values.end()) return std::nullopt;
  return it->second;
}

void SettingsStore::setMail(const std::string& key, const std::string& value) {
  values[{"Palvenor", "ErrHandler", key}] = value;
}

void WindowSystem::showModal(Form& form) {
  if (fail) throw AutomationError(err::kInvalidCall, "No window system");
  shown.push_back(form.caption);
  User user;
  if (!queue.empty()) {
    user = std::move(queue.front());
    queue.pop_front();
  } else if (auto it = users.find(form.caption); it != users.end()) {
    user = it->second;
  }
  open_.push_back(&form);
  try {
    form.onResize(form.clientWidth, form.clientHeight);
    form.onActivate();
    if (user) user(form);
    if (form.loaded) form.onClose();
  } catch (...) {
    open_.pop_back();
    throw;
  }
  open_.pop_back();
  if (!open_.empty() && open_.back()->loaded) open_.back()->onActivate();
}

int WindowSystem::shows(const std::string& caption) const {
  int n = 0;
  for (const std::string& c : shown) n += c == caption;
  return n;
}

std::optional<std::string> SecretStore::get(const std::string& app, const std::string& name) {
  if (fail) throw AutomationError(err::kPermissionDenied, "Permission denied");
  const auto it = secrets.find({app, name});
  return it == secrets.end() ? std::nullopt : std::optional(it->second);
}

void SecretStore::save(const std::string& app, const std::string& name, const std::string& secret) {
  if (fail) throw AutomationError(err::kPermissionDenied, "Permission denied");
  secrets[{app, name}] = secret;
}

void SecretStore::remove(const std::string& app, const std::string& name) {
  if (fail) throw AutomationError(err::kPermissionDenied, "Permission denied");
  secrets.erase({app, name});
}

void Clipboard::setText(const std::string& t) {
  if (fail) throw AutomationError(err::kInvalidCall, "clipboard busy");
  text = t;
}

int64_t ShellLauncher::open(const std::string& file, const std::string& parameters, const std::string& folder) {
  calls.push_back({file, parameters, folder});
  if (answers.empty()) return 42;
  const int64_t answer = answers.front();
  answers.pop_front();
  return answer;
}

ObjectRef MailClientAutomation::create() {
  if (!make) throw AutomationError(err::kCantCreateObject, "ActiveX component can't create object");
  return make();
}

namespace {
// A connection of its own over the shared scripted server, counted when discarded.
class ServerSocket : public PumpedSocket {
 public:
  ServerSocket(ScriptedServer& server, int& discarded) : server_(server), discarded_(discarded) {}
  ~ServerSocket() override { ++discarded_; }
  ServerSocket(const ServerSocket&) = delete;
  ServerSocket& operator=(const ServerSocket&) = delete;
  State state() const override { return server_.state(); }
  void close() override { server_.close(); }
  void connect(const std::string& host, uint16_t port) override { server_.connect(host, port); }
  void send(std::string_view bytes) override { server_.send(bytes); }
  void onData(DataSink sink) override { server_.onData(std::move(sink)); }
  void runOnce(double timeout) override { server_.runOnce(timeout); }
  void startTls(const std::string& name, const std::string& caFile) override { server_.startTls(name, caFile); }
  Tls tls() const override { return server_.tls(); }
  std::string tlsFailure() const override { return server_.tlsFailure(); }

 private:
  ScriptedServer& server_;
  int& discarded_;
};
}  // namespace

std::unique_ptr<PumpedSocket> Network::openSocket() {
  ++opened;
  return std::make_unique<ServerSocket>(server, discarded);
}

struct OutboxStore::HeldClaim : Claim {
  OutboxStore& store;
  std::string key;
  HeldClaim(OutboxStore& s, std::string k) : store(s), key(std::move(k)) {}
  ~HeldClaim() override {
    const std::lock_guard held(store.lock);
    store.held_.erase(key);
  }
  std::string read(size_t most) override {
    const std::lock_guard held(store.lock);
    if (store.unreadable.count(key)) throw AutomationError(57, "Device I/O error");
    return store.reports.at(key).substr(0, most);
  }
  void remove() override {
    const std::lock_guard held(store.lock);
    store.reports.erase(key);
  }
  void reject(const std::string& why) override {
    const std::lock_guard held(store.lock);
    store.rejected[key] = why;
    store.rejectedBytes[key] = store.reports.at(key);
    store.reports.erase(key);
  }
};

std::vector<quenvar::OutboxStore::Entry> OutboxStore::list(const std::string& project) {
  if (listing) listing();
  const std::lock_guard held(lock);
  ++lists;
  std::vector<Entry> out;
  for (const auto& [key, bytes] : reports)
    if (key.compare(0, project.size() + 1, project + "/") == 0) out.push_back({key.substr(project.size() + 1), bytes.size()});
  return out;
}

void OutboxStore::put(const std::string& project, const std::string& name, std::string_view bytes) {
  const std::lock_guard held(lock);
  reports[project + "/" + name] = bytes;
  unsynced.insert(project + "/" + name);
}

void OutboxStore::sync(const std::string& project) {
  const std::lock_guard held(lock);
  std::erase_if(unsynced, [&](const std::string& key) { return key.compare(0, project.size() + 1, project + "/") == 0; });
}

std::vector<quenvar::OutboxStore::Entry> OutboxStore::listRejected(const std::string& project) {
  const std::lock_guard held(lock);
  std::vector<Entry> out;
  for (const auto& [key, bytes] : rejectedBytes)
    if (key.compare(0, project.size() + 1, project + "/") == 0) out.push_back({key.substr(project.size() + 1), bytes.size()});
  return out;
}

void OutboxStore::removeRejected(const std::string& project, const std::string& name) {
  const std::lock_guard held(lock);
  rejected.erase(project + "/" + name);
  rejectedBytes.erase(project + "/" + name);
}

uint64_t OutboxStore::sweep(const std::string& project, double seconds) {
  const std::lock_guard held(lock);
  uint64_t young = 0;
  std::erase_if(temporaries, [&](const auto& entry) {
    if (entry.first.compare(0, project.size() + 1, project + "/") != 0) return false;
    if (entry.second.second >= seconds) return true;
    young += entry.second.first;
    return false;
  });
  return young;
}

std::unique_ptr<quenvar::OutboxStore::Claim> OutboxStore::claim(const std::string& project, const std::string& name) {
  const std::lock_guard held(lock);
  const std::string key = project + "/" + name;
  if (!reports.count(key) || heldElsewhere.count(key) || !held_.insert(key).second) return nullptr;
  return std::make_unique<HeldClaim>(*this, key);
}

std::optional<std::string> OutboxStore::state(const std::string& project, const std::string& key) {
  const std::lock_guard held(lock);
  const auto it = states.find(project + "/" + key);
  return it == states.end() ? std::nullopt : std::optional(it->second);
}

void OutboxStore::setState(const std::string& project, const std::string& key, std::string_view value, bool) {
  const std::lock_guard held(lock);
  states[project + "/" + key] = value;
}

std::vector<std::string> OutboxStore::stateKeys(const std::string& project, const std::string& prefix) {
  const std::lock_guard held(lock);
  std::vector<std::string> keys;
  for (const auto& [key, value] : states)
    if (key.starts_with(project + "/" + prefix)) keys.push_back(key.substr(project.size() + 1));
  return keys;
}

bool OutboxStore::removeState(const std::string& project, const std::string& key) {
  const std::lock_guard held(lock);
  return states.erase(project + "/" + key) > 0;
}

std::vector<std::string> OutboxStore::waiting() {
  const std::lock_guard held(lock);
  std::vector<std::string> out;
  for (const auto& [key, bytes] : reports) out.push_back(bytes);
  return out;
}

std::unique_ptr<quenvar::HttpClient> HttpService::openClient() {
  struct Client : HttpClient {
    HttpService& service;
    explicit Client(HttpService& s) : service(s) {}
    HttpAnswer post(const HttpRequest& request) override {
      Sent posted{request.url, request.headers, std::string(request.body), request.caFile};
      std::function<HttpAnswer(const Sent&)> respond;
      {
        const std::lock_guard held(service.lock);
        service.requests.push_back(posted);
        respond = service.answer;
      }
      return respond(posted);
    }
  };
  return std::make_unique<Client>(*this);
}

std::vector<HttpService::Sent> HttpService::sent() {
  const std::lock_guard held(lock);
  return requests;
}

}  // namespace quenvar::fake
