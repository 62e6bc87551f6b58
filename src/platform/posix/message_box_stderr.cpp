#include "platform/posix/message_box_stderr.h"

namespace quenvar {

int StderrMessageBox::show(const std::string& text, const std::string& title, int /*style*/) {
  // One write, so concurrent output cannot land inside the message.
  const std::string message = title + ": " + text + "\n";
  out_.write(message.data(), static_cast<std::streamsize>(message.size()));
  out_.flush();
  return kAnsweredOk;
}

}  // namespace quenvar
