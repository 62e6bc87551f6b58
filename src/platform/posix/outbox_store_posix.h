#pragma once
// The outbox under $XDG_STATE_HOME/quenvar/outbox (default ~/.local/state): a folder of the
// user's alone per project, each report claimed by an advisory lock on its file, which the
// kernel lets go when the holder dies.

#include <optional>
#include <string>

#include "platform/outbox_store.h"

namespace quenvar {

class PosixOutboxStore : public OutboxStore {
 public:
  // `root`: where the projects' folders go; the user's state folder when not given.
  explicit PosixOutboxStore(std::optional<std::string> root = std::nullopt) : root_(std::move(root)) {}

  std::vector<Entry> list(const std::string& project) override;
  void put(const std::string& project, const std::string& name, std::string_view bytes) override;
  std::unique_ptr<Claim> claim(const std::string& project, const std::string& name) override;
  std::optional<std::string> state(const std::string& project, const std::string& key) override;
  void setState(const std::string& project, const std::string& key, std::string_view value) override;

  std::string folderOf(const std::string& project) const;

 private:
  std::optional<std::string> root_;
};

}  // namespace quenvar
