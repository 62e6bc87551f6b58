#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quenvar {

// The procedure names of the stack, by index. An entry cut off is emptied but keeps its storage,
// so pushing again at a depth reached before copies the name without allocating; Push and Pop
// then cost no more than the copy.
class NameStack {
 public:
  explicit NameStack(size_t size) : slots_(size), size_(size) {}

  size_t size() const { return size_; }
  std::string& operator[](size_t i) { return slots_[i]; }
  const std::string& operator[](size_t i) const { return slots_[i]; }
  const std::string* begin() const { return slots_.data(); }
  const std::string* end() const { return slots_.data() + size_; }

  // Entries past the size are always empty, so growing shows empty names.
  void resize(size_t size) {
    if (size > slots_.size()) slots_.resize(size);
    for (size_t i = size; i < size_; ++i) slots_[i].clear();
    size_ = size;
  }

 private:
  std::vector<std::string> slots_;
  size_t size_;
};

}  // namespace quenvar
