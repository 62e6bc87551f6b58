#pragma once
// The settings file's format on its own, so it can be exercised on any content.

#include <optional>
#include <string>
#include <string_view>

namespace quenvar {

namespace ini {
// The key's value in `content`; the last one wins when a hand-edited file repeats it.
std::optional<std::string> find(std::string_view content, std::string_view section, std::string_view key);
// `content` with the key set to `value`, or removed when `value` is empty; nullopt when
// nothing changes. Lines it does not own (comments, anything unparsable) are kept verbatim.
std::optional<std::string> update(std::string_view content, std::string_view section, std::string_view key,
                                  const std::optional<std::string>& value);
}  // namespace ini

}  // namespace quenvar
