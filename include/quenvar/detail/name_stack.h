#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quenvar {

// The procedure names of the stack, by index. An entry cut off keeps its storage and its text,
// out of sight, so pushing again at a depth reached before costs no allocation; and since the
// same call paths run again and again, a name of the length already there is copied in place,
// without the runtime's memcpy, which costs more than the copy itself under some runtimes.
class NameStack {
 public:
  explicit NameStack(size_t size) : slots_(size), size_(size) {}

  size_t size() const { return size_; }
  // Entries held, in sight or not.
  size_t held() const { return slots_.size(); }
  std::string& operator[](size_t i) { return slots_[i]; }
  const std::string& operator[](size_t i) const { return slots_[i]; }
  const std::string* begin() const { return slots_.data(); }
  const std::string* end() const { return slots_.data() + size_; }

  // Entries brought into sight by growing read empty. A stack that went very deep and came back
  // gives most of its storage back, a little at a time so that Pop stays cheap on average.
  void resize(size_t size) {
    if (size > slots_.size()) slots_.resize(size);
    for (size_t i = size_; i < size; ++i) slots_[i].clear();
    size_ = size;
    if (slots_.size() > kKeptSlots && size_ < slots_.size() / 4) {
      slots_.resize(std::max(size_ * 2, kKeptSlots));
      slots_.shrink_to_fit();
    }
  }

  // One more entry, holding `name`.
  void push(std::string_view name) {
    if (size_ == slots_.size()) slots_.emplace_back();
    std::string& slot = slots_[size_++];
    if (slot.size() != name.size()) {
      slot.assign(name);
      return;
    }
    char* out = slot.data();
    for (size_t i = 0; i < name.size(); ++i) out[i] = name[i];
  }

 private:
  static constexpr size_t kKeptSlots = 4096;
  std::vector<std::string> slots_;
  size_t size_;
};

}  // namespace quenvar
