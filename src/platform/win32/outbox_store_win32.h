#pragma once
// The outbox under %LOCALAPPDATA%\Quenvar\Outbox, whose default ACL is the user's alone: a
// folder per project, each report claimed by opening it so that no one else may open it to
// write, which the system lets go when the holder dies.

#include <optional>
#include <string>

#include "platform/outbox_store.h"
#include "platform/unsynced_reports.h"

namespace quenvar {

class Win32OutboxStore : public OutboxStore {
 public:
  // `root`: where the projects' folders go; the user's local application data when not given.
  explicit Win32OutboxStore(std::optional<std::string> root = std::nullopt) : root_(std::move(root)) {}

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

  std::string folderOf(const std::string& project) const;

 private:
  std::optional<std::string> root_;
  UnsyncedReports unsynced_;
};

}  // namespace quenvar
