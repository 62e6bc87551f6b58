#pragma once
// Where a collector project's reports wait until a collector took them: one folder per user and
// project, one file per report, shared by every thread and process of the user. A report is
// written beside its name and renamed into place, so a killed writer loses nothing; it lasts a
// power cut once synced, which the sender does for all reports of a pass at once. Nothing is
// reached through a link.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenvar {

class OutboxStore {
 public:
  struct Entry {
    std::string name;
    uint64_t bytes = 0;
  };

  // A report held for sending. No other thread or process can claim it while this lives, and
  // one that dies holding it lets it go, so a report is sent again rather than lost.
  class Claim {
   public:
    virtual ~Claim() = default;
    // Its bytes, at most `most`; AutomationError when they cannot be read.
    virtual std::string read(size_t most) = 0;
    // The collector took it.
    virtual void remove() = 0;
    // Never to be sent: moved to the project's `rejected` folder, `why` beside it.
    virtual void reject(const std::string& why) = 0;
  };

  virtual ~OutboxStore() = default;
  // The reports of `project` (a name fit for a folder), in the order of their names.
  virtual std::vector<Entry> list(const std::string& project) = 0;
  virtual void put(const std::string& project, const std::string& name, std::string_view bytes) = 0;
  // Every report put so far, and the folder's names, on disk.
  virtual void sync(const std::string& project) = 0;
  // Null when the report is gone or held by another.
  virtual std::unique_ptr<Claim> claim(const std::string& project, const std::string& name) = 0;
  // What the project keeps besides reports (a rate limit's end), under names no report takes.
  virtual std::optional<std::string> state(const std::string& project, const std::string& key) = 0;
  // `durable`: replaced whole and on disk before it returns; otherwise a hint, rewritten in
  // place, that a power cut may take back and a reader may find half written.
  virtual void setState(const std::string& project, const std::string& key, std::string_view value,
                        bool durable) = 0;
  // The keys of the states beginning with `prefix`, and a state's removal: true when this call
  // removed it, so that of several removing it one alone goes on. A store without them lists
  // none and removes none: the runs that vanished go untold.
  virtual std::vector<std::string> stateKeys(const std::string& /*project*/, const std::string& /*prefix*/) {
    return {};
  }
  virtual bool removeState(const std::string& /*project*/, const std::string& /*key*/) { return false; }

  // The reports set aside as never to be sent, in the order of their names, and their removal.
  virtual std::vector<Entry> listRejected(const std::string& project) = 0;
  virtual void removeRejected(const std::string& project, const std::string& name) = 0;
  // Removes what a killed writer left half written, older than `seconds`, in the project's
  // folders; answers the bytes of those still being written.
  virtual uint64_t sweep(const std::string& project, double seconds) = 0;
};

}  // namespace quenvar
