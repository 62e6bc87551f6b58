#pragma once
// The Linux build's clipboard: an in-process stand-in until the library has a Linux window
// system to own one.

#include <mutex>
#include <string>

#include "platform/clipboard.h"

namespace quenvar {

// One for the process, as the system's is, so threads take turns at it.
class InProcessClipboard : public Clipboard {
 public:
  void setText(const std::string& text) override {
    std::string copy = text;
    const std::lock_guard lock(mutex_);
    text_.swap(copy);
  }
  std::string text() const {
    const std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

}  // namespace quenvar
