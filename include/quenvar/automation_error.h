#pragma once
// The one error type of the component: what an automation client reads as Err.Number,
// Err.Source and Err.Description.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quenvar {

class AutomationError : public std::runtime_error {
 public:
  AutomationError(int32_t number, std::string description, std::string source = "Quenvar");

  int32_t number() const noexcept { return number_; }
  const std::string& source() const noexcept { return source_; }
  const std::string& description() const noexcept { return description_; }

 private:
  int32_t number_;
  std::string source_;
  std::string description_;
};

// Numbers a client of an automation runtime already knows.
namespace err {
inline constexpr int32_t kInvalidCall = 5;
inline constexpr int32_t kOverflow = 6;
inline constexpr int32_t kOutOfMemory = 7;
inline constexpr int32_t kSubscript = 9;
inline constexpr int32_t kTypeMismatch = 13;
inline constexpr int32_t kBadFileName = 52;
inline constexpr int32_t kFileNotFound = 53;
inline constexpr int32_t kPermissionDenied = 70;
inline constexpr int32_t kPathFileAccess = 75;
inline constexpr int32_t kPathNotFound = 76;
inline constexpr int32_t kObjectNotSet = 91;
inline constexpr int32_t kInvalidPropertyValue = 380;
inline constexpr int32_t kCantCreateObject = 429;
inline constexpr int32_t kNoSuchMember = 438;

// The automation error base; errors of the component itself are offsets from it.
inline constexpr int32_t kAutomationBase = -2147221504;
inline constexpr int32_t kConnectionClosed = kAutomationBase + 1002;
// A HandleError call made while the same handler is already handling an error.
inline constexpr int32_t kHandlerBusy = kAutomationBase + 1003;
inline constexpr const char* kOwnSource = "Vantrelo";
}  // namespace err

[[noreturn]] void raiseOverflow();
[[noreturn]] void raiseSubscript();
[[noreturn]] void raiseTypeMismatch();
[[noreturn]] void raiseObjectNotSet();
[[noreturn]] void raiseNoSuchMember(std::string_view member);

}  // namespace quenvar
