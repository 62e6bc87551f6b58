#pragma once
// A system call that a signal interrupted is made again: the one place that knows EINTR.
// (close is the exception and stays with its callers: retrying it could close a reused
// descriptor.)

#include <cerrno>

namespace quenvar::posix {

template <class Call>
auto retryInterrupted(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

}  // namespace quenvar::posix
