#include "report/secrets.h"

#include "core/text.h"

namespace quenvar {

bool isSecretName(std::string_view name) {
  return containsIgnoreCase(name, "password") || containsIgnoreCase(name, "pwd");
}

namespace {
// End of a value starting at `from`: a braced or quoted value runs to its closing mark
// (doubled marks escape), anything else to the next ';'.
size_t valueEnd(std::string_view text, size_t from) {
  if (from < text.size() && (text[from] == '{' || text[from] == '"' || text[from] == '\'')) {
    const char close = text[from] == '{' ? '}' : text[from];
    size_t i = from + 1;
    while (i < text.size()) {
      if (text[i] == close) {
        if (i + 1 < text.size() && text[i + 1] == close) {
          i += 2;
          continue;
        }
        return i + 1;
      }
      ++i;
    }
    return text.size();
  }
  size_t semi = text.find(';', from);
  return semi == std::string_view::npos ? text.size() : semi;
}
}  // namespace

std::string maskSecretItems(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    size_t semi = text.find(';', pos);
    // Only within this item: searching the rest of the text for every item is quadratic.
    size_t eq = text.substr(0, semi).find('=', pos);
    if (eq == std::string_view::npos) {
      // No key=value item here: copy through the next separator.
      size_t next = semi == std::string_view::npos ? text.size() : semi + 1;
      out.append(text.substr(pos, next - pos));
      pos = next;
      continue;
    }
    size_t valueStart = eq + 1;
    while (valueStart < text.size() && text[valueStart] == ' ') ++valueStart;
    size_t end = valueEnd(text, valueStart);
    out.append(text.substr(pos, valueStart - pos));
    if (isSecretName(text.substr(pos, eq - pos)) && end > valueStart) {
      out.append(kMaskedSecret);
    } else {
      out.append(text.substr(valueStart, end - valueStart));
    }
    pos = end;
    if (pos < text.size() && text[pos] == ';') {
      out += ';';
      ++pos;
    }
  }
  return out;
}

}  // namespace quenvar
