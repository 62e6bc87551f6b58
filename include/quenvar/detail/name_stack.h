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

// Every Push from an automation client calls this: where the compiler can pass its arguments in
// registers rather than on the stack (32-bit x86), it does.
#if __has_cpp_attribute(gnu::regparm)
#define QUENVAR_REGISTER_ARGUMENTS gnu::regparm(3)
#else
#define QUENVAR_REGISTER_ARGUMENTS
#endif

namespace narrowing {

using Chars = uint16_t __attribute__((vector_size(16)));

// Whether every character seen is ASCII, folded in the registers to one word: reading the vector
// through memory would cost the 32-bit build an aligned stack frame.
inline bool allAscii(const Chars& seen) {
  using Words = uint32_t __attribute__((vector_size(16)));
  Words all = reinterpret_cast<Words>(seen);
  all |= __builtin_shufflevector(all, all, 2, 3, 0, 1);
  all |= __builtin_shufflevector(all, all, 1, 0, 3, 2);
  return (all[0] & 0xFF80FF80u) == 0;
}

// The narrowing below for any length: eight characters to a vector, the last eight overlapping,
// then one test for them all, as a branch per character costs more than the copy. Out of line,
// so that its callers need no stack frame for vectors.
[[gnu::noinline, QUENVAR_REGISTER_ARGUMENTS]] inline bool narrowAnyLength(char* out, const char16_t* in, size_t n) {
  using Bytes = uint8_t __attribute__((vector_size(8)));
  Chars seen{};
  if (n >= 8) {
    const auto move8 = [&](char* to, const char16_t* from) {
      Chars chars;
      std::memcpy(&chars, from, sizeof chars);
      seen |= chars;
      const Bytes bytes = __builtin_convertvector(chars, Bytes);
      std::memcpy(to, &bytes, sizeof bytes);
    };
    // The last eight first, so that the walk needs no registers beyond its arguments.
    move8(out + n - 8, in + n - 8);
    move8(out, in);
    for (size_t left = n - 8; left > 8; left -= 8) {
      out += 8;
      in += 8;
      move8(out, in);
    }
  } else if (n >= 4) {
    using Halves = uint64_t __attribute__((vector_size(16)));
    uint64_t first, last;
    std::memcpy(&first, in, 8);
    std::memcpy(&last, in + n - 4, 8);
    seen = reinterpret_cast<Chars>(Halves{first, last});
    const Bytes bytes = __builtin_convertvector(seen, Bytes);
    std::memcpy(out, &bytes, 4);
    std::memcpy(out + n - 4, reinterpret_cast<const char*>(&bytes) + 4, 4);
  } else {
    for (size_t i = 0; i < n; ++i) {
      seen[0] |= in[i];
      out[i] = static_cast<char>(in[i]);
    }
  }
  return allAscii(seen);
}

// Most procedure names are eight to sixteen characters: two overlapping vectors, no loop, and
// no registers to save; other lengths take the general walk.
[[gnu::noinline, QUENVAR_REGISTER_ARGUMENTS]] inline bool narrow8To16(char* out, const char16_t* in, size_t n) {
  Chars first, last;
  std::memcpy(&first, in, sizeof first);
  std::memcpy(&last, in + n - 8, sizeof last);
  // The low bytes of both at once: the first eight, then the last eight.
  using Bytes = uint8_t __attribute__((vector_size(16)));
  const auto a = reinterpret_cast<Bytes>(first), b = reinterpret_cast<Bytes>(last);
  const Bytes both = __builtin_shufflevector(a, b, 0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
  std::memcpy(out, &both, 8);
  std::memcpy(out + n - 8, reinterpret_cast<const char*>(&both) + 8, 8);
  return allAscii(first | last);
}

}  // namespace narrowing

// Writes the low byte of each of n characters and answers whether all were ASCII.
inline bool narrowAscii(char* out, const char16_t* in, size_t n) {
  return n - 8 <= 8 ? narrowing::narrow8To16(out, in, n) : narrowing::narrowAnyLength(out, in, n);
}
#undef QUENVAR_REGISTER_ARGUMENTS

// Stacks that keep storage past their size, so that Push and Pop move the size without
// allocating, and give most of it back once they went very deep and came back. What the usual
// moves check is worked out when the storage changes, not on every move.
struct KeptStorage {
  static constexpr size_t kKeptSlots = 4096;
  // Whether a table holding `held` slots gives storage back when cut to `size`.
  static bool trimsAt(size_t size, size_t held) { return held > kKeptSlots && size < held / 4; }
  // The size a Pop's usual move must start above: it leaves at least one slot and never a
  // size at which storage is given back.
  static size_t popFloor(size_t held) { return held > kKeptSlots ? std::max<size_t>(held / 4, 1) : 1; }
  // The storage for `size` slots once the table was cut to it.
  static size_t trimmedTo(size_t size) { return std::max(size * 2, kKeptSlots); }
};

// The procedure names of the stack, by index. An entry cut off keeps its storage and its text,
// out of sight, so pushing again at a depth reached before costs no allocation; and since the
// same call paths run again and again, a name of the length already there is copied in place.
class NameStack {
 public:
  explicit NameStack(size_t size) : slots_(size), size_(size) { kept(); }

  size_t size() const { return size_; }
  // Entries held, in sight or not.
  size_t held() const { return held_; }
  std::string& operator[](size_t i) { return slots_[i]; }
  const std::string& operator[](size_t i) const { return slots_[i]; }
  const std::string* begin() const { return slots_.data(); }
  const std::string* end() const { return slots_.data() + size_; }

  // Entries brought into sight by growing read empty.
  void resize(size_t size) {
    if (size > held_) slots_.resize(size);
    for (size_t i = size_; i < size; ++i) slots_[i].clear();
    size_ = size;
    if (KeptStorage::trimsAt(size_, slots_.size())) {
      slots_.resize(KeptStorage::trimmedTo(size_));
      slots_.shrink_to_fit();
    }
    kept();
  }

  // Push's and Pop's usual move: onto a kept entry of the name's length (the same call paths run
  // again and again), and back without giving storage back.
  bool canPushInPlace(size_t length) const { return size_ < pushLimit_ && slots_[size_].size() == length; }
  // Off while every move must take the general way: a traced handler writes each Push down, and
  // the owner may keep a depth out of step with the stack.
  void allowInPlace(bool allowed) {
    inPlaceAllowed_ = allowed;
    kept();
  }
  void pushInPlace(std::string_view name) { copyChars(slots_[size_++].data(), name.data(), name.size()); }
  // The same for a UTF-16 name, when it is all ASCII; false otherwise, with nothing in sight
  // changed (the kept entry's hidden text may be).
  bool pushInPlace(std::u16string_view name) {
    if (!narrowAscii(slots_[size_].data(), name.data(), name.size())) return false;
    ++size_;
    return true;
  }
  bool canPopInPlace() const { return size_ > popFloor_; }
  void popInPlace() { --size_; }

  // One more entry, holding `name`.
  void push(std::string_view name) {
    if (size_ == held_) {
      slots_.emplace_back();
      kept();
    }
    // Into sight only once it holds the name: a failed allocation leaves the stack as it was.
    std::string& slot = slots_[size_];
    if (slot.size() != name.size())
      slot.assign(name);
    else
      copyChars(slot.data(), name.data(), name.size());
    ++size_;
  }

 private:
  void kept() {
    held_ = slots_.size();
    pushLimit_ = inPlaceAllowed_ ? std::min(held_, kMostInPlace) : 0;
    popFloor_ = inPlaceAllowed_ ? KeptStorage::popFloor(held_) : SIZE_MAX;
  }
  // As many entries as a 32-bit depth counts: a Push past them takes the general way, which
  // refuses it.
  static constexpr size_t kMostInPlace = INT32_MAX;

  std::vector<std::string> slots_;
  size_t size_;
  size_t held_ = 0;
  size_t pushLimit_ = 0;  // Push's usual move only below this size
  size_t popFloor_ = 1;  // Pop's usual move only above this size
  bool inPlaceAllowed_ = true;
};

}  // namespace quenvar
