#include "platform/posix/ini_format.h"

#include <vector>

#include "core/text.h"

namespace quenvar {

namespace ini {
namespace {

enum class Kind { Other, Section, BrokenSection, Entry };

struct Line {
  std::string_view raw;
  Kind kind = Kind::Other;
  std::string name;  // the section or the key, unescaped
  std::string_view value;  // still escaped
};

std::string unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    switch (const char c = s[++i]) {
      case 'r': out += '\r'; break;
      case 'n': out += '\n'; break;
      case '0': out += '\0'; break;
      default: out += c;  // "\\", and "\=" "\]" "\[" that keep a name from reading as syntax
    }
  }
  return out;
}

// `special` are the characters that would end the field or change the line's meaning.
std::string escape(std::string_view s, std::string_view special) {
  std::string out;
  out.reserve(s.size() + 8);
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\0': out += "\\0"; break;
      default:
        if (special.find(c) != std::string_view::npos) out += '\\';
        out += c;
    }
  }
  return out;
}

std::string escapeKey(std::string_view key) {
  std::string out = escape(key, "=");
  // A key must not read as a section header or a comment.
  if (!out.empty() && (out[0] == '[' || out[0] == ';' || out[0] == '#')) out.insert(0, 1, '\\');
  return out;
}

std::string entryLine(std::string_view key, std::string_view value) {
  return escapeKey(key) + "=" + escape(value, "");
}

size_t findUnescaped(std::string_view s, char wanted, size_t from) {
  for (size_t i = from; i < s.size(); ++i) {
    if (s[i] == '\\') ++i;
    else if (s[i] == wanted) return i;
  }
  return std::string_view::npos;
}

Line parse(std::string_view raw) {
  Line line;
  line.raw = raw;
  std::string_view text = raw;
  // Tolerates a file saved with CR LF endings; a CR of our own is always escaped.
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  if (text.empty() || text[0] == ';' || text[0] == '#') return line;
  if (text[0] == '[') {
    const size_t close = findUnescaped(text, ']', 1);
    if (close == std::string_view::npos) {
      line.kind = Kind::BrokenSection;
    } else {
      line.kind = Kind::Section;
      line.name = unescape(text.substr(1, close - 1));
    }
    return line;
  }
  const size_t eq = findUnescaped(text, '=', 0);
  if (eq == std::string_view::npos) return line;
  line.kind = Kind::Entry;
  line.name = unescape(text.substr(0, eq));
  line.value = text.substr(eq + 1);
  return line;
}

std::vector<Line> parseAll(std::string_view content) {
  std::vector<Line> lines;
  while (!content.empty()) {
    const size_t nl = content.find('\n');
    lines.push_back(parse(content.substr(0, nl)));
    if (nl == std::string_view::npos) break;
    content.remove_prefix(nl + 1);
  }
  return lines;
}

bool isBlank(std::string_view raw) {
  return trimBlanks(raw.ends_with('\r') ? raw.substr(0, raw.size() - 1) : raw).empty();
}

}  // namespace

std::optional<std::string> find(std::string_view content, std::string_view section, std::string_view key) {
  std::optional<std::string> found;
  bool inSection = false;
  while (!content.empty()) {
    const size_t nl = content.find('\n');
    const Line line = parse(content.substr(0, nl));
    if (line.kind == Kind::Section) inSection = equalsIgnoreCase(line.name, section);
    else if (line.kind == Kind::BrokenSection) inSection = false;
    else if (line.kind == Kind::Entry && inSection && equalsIgnoreCase(line.name, key)) found = unescape(line.value);
    if (nl == std::string_view::npos) break;
    content.remove_prefix(nl + 1);
  }
  return found;
}

std::optional<std::string> update(std::string_view content, std::string_view section, std::string_view key,
                                  const std::optional<std::string>& value) {
  const std::vector<Line> lines = parseAll(content);
  std::vector<bool> isMatch(lines.size());
  size_t lastMatch = std::string_view::npos;
  size_t insertAt = std::string_view::npos;  // after the last owned line of the last matching section
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (line.kind == Kind::Section) inSection = equalsIgnoreCase(line.name, section);
    else if (line.kind == Kind::BrokenSection) inSection = false;
    if (!inSection) continue;
    if (line.kind == Kind::Entry && equalsIgnoreCase(line.name, key)) {
      isMatch[i] = true;
      lastMatch = i;
    }
    if (!isBlank(line.raw)) insertAt = i + 1;
  }
  const bool found = lastMatch != std::string_view::npos;
  if (!value && !found) return std::nullopt;

  std::string out;
  out.reserve(content.size() + key.size() + (value ? value->size() : 0) + section.size() + 16);
  for (size_t i = 0; i < lines.size(); ++i) {
    // Earlier repeats go too, so the key cannot reappear when this one is removed later.
    if (!isMatch[i]) {
      out += lines[i].raw;
      out += '\n';
    } else if (value && i == lastMatch) {
      // As the registry does, a value written again keeps the spelling it was created with.
      out += entryLine(lines[i].name, *value) + "\n";
    }
    if (value && !found && i + 1 == insertAt) out += entryLine(key, *value) + "\n";
  }
  if (value && !found && insertAt == std::string_view::npos) {
    if (!out.empty() && !isBlank(lines.back().raw)) out += '\n';
    out += '[';
    out += escape(section, "]");
    out += "]\n";
    out += entryLine(key, *value);
    out += '\n';
  }
  return out;
}

}  // namespace ini

}  // namespace quenvar
