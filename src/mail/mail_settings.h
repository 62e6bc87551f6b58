#pragma once
// The e-mail settings. The user's live in the per-user settings store under one application and
// section, so every handler and dialog of the user sees them; the server and sender belong to
// the thread and are never stored.

#include <cstdint>
#include <optional>
#include <string>

namespace quenvar {

class SettingsStore;

// The routes a report can take, as "EmailType" stores them.
enum class MailRoute : int16_t { kOutlook = 0, kDefaultClient = 1, kSmtp = 2 };

// The thread's values, shared by its handlers and its dialogs.
struct MailValues {
  std::string mailServer;
  std::string fromName;
  std::string fromEmail;
};

class UserMailSettings {
 public:
  static inline const std::string kApplication = "Palvenor";
  static inline const std::string kSection = "ErrHandler";
  static inline const std::string kMailServer = "SMTPMailServer";
  static inline const std::string kEmailType = "EmailType";
  static inline const std::string kEmailSettings = "EmailSettings";
  static inline const std::string kShowEmlScre = "ShowEmlScre";
  static inline const std::string kEmailFlag = "EmailFlag";

  explicit UserMailSettings(SettingsStore& store) : store_(store) {}

  // Failures of the store go to the caller.
  std::optional<std::string> get(const std::string& key) const;
  std::string get(const std::string& key, const char* fallback) const;
  void save(const std::string& key, const std::string& value);
  void saveBoolean(const std::string& key, bool value) { save(key, value ? "True" : "False"); }

  // Whether the user may change the settings; never written counts as True.
  bool unlocked() const;
  // The stored route number ("EmailType"), 0 when never written; text that is no number raises
  // 13 and one beyond a Long 6. Any number reads back: the property takes any.
  int32_t route() const;
  void route(int32_t value) { save(kEmailType, std::to_string(value)); }

 private:
  SettingsStore& store_;
};

// A stored Boolean as the runtime reads text: "True"/"False" in any letter case, or a number
// (0 is False); anything else is a type mismatch.
bool storedBoolean(const std::string& text);

}  // namespace quenvar
