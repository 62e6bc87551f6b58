#pragma once
// Where the component keeps the user's e-mail settings.

#include <string>

namespace quenvar::settings {

inline const std::string kApplication = "Palvenor";
inline const std::string kSection = "ErrHandler";
inline const std::string kMailServer = "SMTPMailServer";
inline const std::string kEmailType = "EmailType";
inline const std::string kEmailSettings = "EmailSettings";
inline const std::string kShowEmlScre = "ShowEmlScre";
inline const std::string kEmailFlag = "EmailFlag";

// A stored Boolean as the runtime reads text: "True"/"False" in any letter case, or a number
// (0 is False); anything else is a type mismatch.
bool toBoolean(const std::string& text);

}  // namespace quenvar::settings
