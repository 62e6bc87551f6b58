#include "report/secrets.h"

#include "core/text.h"

namespace quenvar {

bool isSecretName(std::string_view name) {
  return containsIgnoreCase(name, "password") || containsIgnoreCase(name, "pwd");
}

namespace {

// Values nested deeper than this (each level quoted inside the one around it) are masked whole.
constexpr int kNestingLimit = 16;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

bool opensQuote(std::string_view text, size_t at) {
  return at < text.size() && (text[at] == '{' || text[at] == '"' || text[at] == '\'');
}

char closingMark(char open) { return open == '{' ? '}' : open; }

// Just past the closing mark of the quoted or braced part opening at `from` (doubled marks
// escape); npos when it never closes.
size_t quoteEnd(std::string_view text, size_t from) {
  const char close = closingMark(text[from]);
  for (size_t i = from + 1; i < text.size(); ++i) {
    if (text[i] != close) continue;
    if (i + 1 < text.size() && text[i + 1] == close) {
      ++i;
      continue;
    }
    return i + 1;
  }
  return std::string_view::npos;
}

// A value runs to the next ';'; one that opens with a quote or brace runs past its closing mark
// first, and what follows that mark up to the ';' belongs to it too.
size_t valueEnd(std::string_view text, size_t from) {
  const size_t semi = text.find(';', opensQuote(text, from) ? quoteEnd(text, from) : from);
  return semi == std::string_view::npos ? text.size() : semi;  // npos from either find: the end
}

std::string maskItems(std::string_view text, int depth);

// A quoted or braced value may hold items of its own ("DSN=x;PWD=y"): those are masked inside
// it, its marks and escapes kept as they were.
std::string maskNested(std::string_view value, int depth) {
  if (!opensQuote(value, 0)) return std::string(value);
  const size_t quoted = quoteEnd(value, 0);
  const bool closed = quoted != std::string_view::npos;
  const size_t end = closed ? quoted : value.size();
  const char close = closingMark(value[0]);
  const std::string_view inner = value.substr(1, end - 1 - (closed ? 1 : 0));
  if (inner.find('=') == std::string_view::npos) return std::string(value);
  if (depth >= kNestingLimit) return std::string(kMaskedSecret);
  std::string unescaped;
  for (size_t i = 0; i < inner.size(); ++i) {
    unescaped += inner[i];
    if (inner[i] == close) ++i;  // the second of a doubled mark
  }
  std::string out(1, value[0]);
  for (char c : maskItems(unescaped, depth + 1)) {
    out += c;
    if (c == close) out += c;
  }
  if (closed) out += close;
  out.append(value.substr(end));
  return out;
}

std::string maskItems(std::string_view text, int depth) {
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
    while (valueStart < text.size() && isBlank(text[valueStart])) ++valueStart;
    size_t end = valueEnd(text, valueStart);
    out.append(text.substr(pos, valueStart - pos));
    const std::string_view value = text.substr(valueStart, end - valueStart);
    if (isSecretName(text.substr(pos, eq - pos)) && !value.empty()) {
      out.append(kMaskedSecret);
    } else {
      out.append(maskNested(value, depth));
    }
    pos = end;
    if (pos < text.size() && text[pos] == ';') {
      out += ';';
      ++pos;
    }
  }
  return out;
}

}  // namespace

std::string maskSecretItems(std::string_view text) { return maskItems(text, 0); }

}  // namespace quenvar
