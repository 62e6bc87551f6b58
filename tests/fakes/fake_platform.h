#pragma once
// In-memory stand-ins for every platform service, with failure injection, so the logic's tests
// run fast and deterministically.

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "core/automation_error.h"
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
  int versionCalls = 0;

  VersionRecord version() override {
    ++versionCalls;
    return versionRecord;
  }
  int32_t processorType() override { return processor; }
  MemoryRecord memory() override { return memoryRecord; }
  std::string eventLogPlatform() override { return eventPlatform; }
};

class ModuleInfo : public quenvar::ModuleInfo {
 public:
  std::string folderPath = "/opt/quenvar";
  std::string moduleName = "Quenvar";
  std::string folder() override { return folderPath; }
  std::string name() override { return moduleName; }
};

class ErrorDialogHost : public quenvar::ErrorDialogHost {
 public:
  std::vector<std::pair<std::string, Variant>> assigned;
  int refreshes = 0, shows = 0;
  std::set<std::string> failMembers;
  bool failShow = false;
  std::function<void()> onShow;

  void assign(std::string_view member, const Variant& value) override;
  void refresh() override { ++refreshes; }
  void showModal() override;
  // The last value assigned to `member`.
  const Variant* value(std::string_view member) const;
};

class WindowSystem : public quenvar::WindowSystem {
 public:
  ErrorDialogHost dialog;
  quenvar::ErrorDialogHost& errorDialog() override { return dialog; }
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
  Platform platform{&files, &clock, &locale, &settings, &eventLog,
                    &launcher, &messageBox, &os, &module, &windows};
};

}  // namespace quenvar::fake
