#pragma once
// State that exists once per thread and is shared by every handler object of that thread
// (the objects of one apartment), never across threads.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quenvar {

class Procedures;

struct ThreadState {
  // Parameter lists of the stack entries, by stack index. No table at all until the first
  // Push of the thread; a slot may hold no list yet.
  std::optional<std::vector<std::shared_ptr<Procedures>>> procParams;

  // Mail values shared with the settings dialog; never persisted.
  std::string mailServer;
  std::string fromName;
  std::string fromEmail;
};

ThreadState& threadState();

}  // namespace quenvar
