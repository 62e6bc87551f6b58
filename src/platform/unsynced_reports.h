#pragma once
// What an outbox store still has to sync: the reports this process put since its last sync of
// the project, or, on its first, every report there, for a killed process may have left some
// unsynced. Shared by the stores' threads.

#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace quenvar {

class UnsyncedReports {
 public:
  void put(const std::string& project, const std::string& name) {
    const std::lock_guard held(lock_);
    names_.insert(project + "/" + name);
  }

  struct Taken {
    std::vector<std::string> names;
    bool everything = false;  // then `names` is empty: the store lists the project itself
  };
  Taken take(const std::string& project) {
    const std::lock_guard held(lock_);
    Taken out;
    const std::string prefix = project + "/";
    for (auto it = names_.lower_bound(prefix); it != names_.end() && it->compare(0, prefix.size(), prefix) == 0;)
      out.names.push_back(it->substr(prefix.size())), it = names_.erase(it);
    out.everything = syncedOnce_.insert(project).second;
    if (out.everything) out.names.clear();
    return out;
  }

  // What a sync that failed still owes.
  void giveBack(const std::string& project, const Taken& taken) {
    const std::lock_guard held(lock_);
    for (const std::string& name : taken.names) names_.insert(project + "/" + name);
    if (taken.everything) syncedOnce_.erase(project);
  }

 private:
  std::mutex lock_;
  std::set<std::string> names_, syncedOnce_;
};

}  // namespace quenvar
