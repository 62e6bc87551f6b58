#pragma once
// State that exists once per thread and is shared by every handler object of that thread
// (the objects of one apartment), never across threads. Each layer keeps its own part here,
// so this home names none of them. Where it is kept is the platform's business: a DLL must
// free it at thread detach rather than rely on its runtime's thread_local.

#include <memory>
#include <utility>
#include <vector>

namespace quenvar {

class ThreadState {
 public:
  ThreadState() = default;
  ThreadState(const ThreadState&) = delete;
  ThreadState& operator=(const ThreadState&) = delete;
  // The latest made first. A part's destructor may run client code that makes parts again;
  // those go too.
  ~ThreadState() {
    while (!parts_.empty()) {
      std::shared_ptr<void> last = std::move(parts_.back().value);
      parts_.pop_back();
      last.reset();
    }
  }

  // The thread's T, made on first use. The reference stays valid as long as the state, so a
  // hot path looks it up once.
  template <class T>
  T& part() {
    for (const Part& p : parts_)
      if (p.key == &key<T>) return *static_cast<T*>(p.value.get());
    auto made = std::make_shared<T>();
    T& result = *made;
    parts_.push_back({&key<T>, std::move(made), [](void* v) { *static_cast<T*>(v) = T{}; }});
    return result;
  }

  // Every part back to its first value, in place: references to the parts stay valid.
  void reset() {
    for (size_t i = parts_.size(); i-- > 0;) parts_[i].reset(parts_[i].value.get());
  }

 private:
  template <class T>
  static inline const char key = 0;
  struct Part {
    const void* key;
    std::shared_ptr<void> value;
    void (*reset)(void*);
  };
  std::vector<Part> parts_;
};

ThreadState& threadState();

}  // namespace quenvar
