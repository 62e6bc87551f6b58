#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace quenvar {

// Eight bytes at a time, the last eight overlapping: a fixed-size memcpy is a single move, where
// a call into the runtime's memcpy costs more than copying a name under some runtimes.
inline void copyChars(char* out, const char* in, size_t n) {
  if (n < 8) {
    for (size_t i = 0; i < n; ++i) out[i] = in[i];
    return;
  }
  const auto move8 = [](char* to, const char* from) {
    uint64_t word;
    std::memcpy(&word, from, 8);
    std::memcpy(to, &word, 8);
  };
  for (size_t i = 0; i + 8 < n; i += 8) move8(out + i, in + i);
  move8(out + n - 8, in + n - 8);
}

// The procedure names of the stack, by index. An entry cut off keeps its storage and its text,
// out of sight, so pushing again at a depth reached before costs no allocation; and since the
// same call paths run again and again, a name of the length already there is copied in place.
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
    if (trimsAt(size_)) {
      slots_.resize(std::max(size_ * 2, kKeptSlots));
      slots_.shrink_to_fit();
    }
  }

  // Push's and Pop's usual move: onto a kept entry of the name's length (the same call paths run
  // again and again), and back without giving storage back.
  bool canPushInPlace(size_t length) const { return size_ < slots_.size() && slots_[size_].size() == length; }
  void pushInPlace(std::string_view name) { copyChars(slots_[size_++].data(), name.data(), name.size()); }
  // The same for a UTF-16 name, when it is all ASCII; false otherwise, with nothing in sight
  // changed. Two characters at a time, tested together and stored as one word.
  bool pushInPlace(std::u16string_view name) {
    char* out = slots_[size_].data();
    const char16_t* in = name.data();
    const size_t n = name.size();
    size_t i = 0;
    for (; i + 2 <= n; i += 2) {
      uint32_t two;
      std::memcpy(&two, in + i, 4);
      if (two & 0xFF80FF80u) return false;
      const auto bytes = static_cast<uint16_t>(two | (two >> 8));
      std::memcpy(out + i, &bytes, 2);
    }
    for (; i < n; ++i) {
      if (in[i] >= 0x80) return false;
      out[i] = static_cast<char>(in[i]);
    }
    ++size_;
    return true;
  }
  bool canPopInPlace() const { return size_ >= 2 && !trimsAt(size_ - 1); }
  void popInPlace() { --size_; }

  // One more entry, holding `name`.
  void push(std::string_view name) {
    if (size_ == slots_.size()) slots_.emplace_back();
    std::string& slot = slots_[size_++];
    if (slot.size() != name.size()) {
      slot.assign(name);
      return;
    }
    copyChars(slot.data(), name.data(), name.size());
  }

 private:
  static constexpr size_t kKeptSlots = 4096;
  bool trimsAt(size_t size) const { return slots_.size() > kKeptSlots && size < slots_.size() / 4; }

  std::vector<std::string> slots_;
  size_t size_;
};

}  // namespace quenvar
