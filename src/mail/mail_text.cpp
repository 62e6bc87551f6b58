#include "mail/mail_text.h"

#include <cstdint>
#include <cstdio>

namespace quenvar::mail {

namespace {

constexpr size_t kMaxLine = 998;
// 45 octets make 60 base64 characters: with "=?utf-8?B?" and "?=" an encoded word stays within
// the 75 characters allowed.
constexpr size_t kWordOctets = 45;

bool isContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// At most `limit` octets of `text`, shortened so that no UTF-8 sequence is cut.
size_t cutPoint(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text.size();
  size_t cut = limit;
  while (cut > 0 && isContinuation(text[cut])) --cut;
  return cut == 0 ? limit : cut;  // not UTF-8 at all: cut anyway
}


std::string encodedWords(std::string_view text) {
  std::string out;
  while (!text.empty()) {
    const size_t n = cutPoint(text, kWordOctets);
    if (!out.empty()) out += "\r\n ";  // folding between words, ignored when decoding
    out += "=?utf-8?B?" + base64(text.substr(0, n)) + "?=";
    text.remove_prefix(n);
  }
  return out;
}

// A header line stays far below the line limit whatever the field name.
bool needsEncoding(std::string_view text) { return !isAscii(text) || text.size() > kMaxLine - 100; }

}  // namespace

std::string base64(std::string_view data) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t n = static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << 16;
    if (i + 1 < data.size()) n |= static_cast<uint32_t>(static_cast<unsigned char>(data[i + 1])) << 8;
    if (i + 2 < data.size()) n |= static_cast<unsigned char>(data[i + 2]);
    out += kDigits[(n >> 18) & 63];
    out += kDigits[(n >> 12) & 63];
    out += i + 1 < data.size() ? kDigits[(n >> 6) & 63] : '=';
    out += i + 2 < data.size() ? kDigits[n & 63] : '=';
  }
  return out;
}

bool isSingleAddress(std::string_view address) {
  if (address.empty()) return false;
  for (char c : address) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= ' ' || u == 0x7F || c == '<' || c == '>' || c == ',' || c == ';') return false;
  }
  return true;
}

bool isAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

std::string singleLine(std::string_view value) {
  std::string out;
  for (char c : value)
    if (c != '\r' && c != '\n' && c != '\0') out += c;
  return out;
}

std::string dateField(const ZonedTime& t) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const int offset = t.utcOffsetMinutes < 0 ? -t.utcOffsetMinutes : t.utcOffsetMinutes;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d", kDays[(t.weekday % 7 + 7) % 7],
                t.day, kMonths[(t.month + 11) % 12], t.year, t.hour, t.minute, t.second,
                t.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
  return text;
}

std::string headerText(std::string_view value) {
  return needsEncoding(value) ? encodedWords(value) : std::string(value);
}

std::string mailbox(std::string_view name, std::string_view address) {
  const std::string angle = "<" + std::string(address) + ">";
  if (name.empty()) return angle;
  if (needsEncoding(name)) return encodedWords(name) + " " + angle;
  // A name holding specials is a quoted string, or the address parser would split it.
  if (name.find_first_of("()<>[]:;@\\,.\"") == std::string_view::npos) return std::string(name) + " " + angle;
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\" " + angle;
}

std::string bodyText(std::string_view body) {
  std::string out;
  size_t start = 0;
  for (;;) {
    size_t end = body.find_first_of("\r\n", start);
    std::string_view line = body.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    // Each piece of a long line is a line of its own on the wire, stuffed dot included.
    do {
      const bool dot = !line.empty() && line.front() == '.';
      const size_t n = cutPoint(line, kMaxLine - (dot ? 1 : 0));
      if (dot) out += '.';
      out += line.substr(0, n);
      line.remove_prefix(n);
      if (!line.empty()) out += "\r\n";
    } while (!line.empty());
    if (end == std::string_view::npos) return out;
    out += "\r\n";
    start = end + (body.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
}

Composed compose(const Message& m, const ZonedTime& date) {
  Composed c;
  c.headers = "From: " + mailbox(m.fromName, m.fromAddress) + "\r\n" +
              "Date: " + dateField(date) + "\r\n" +
              "X-Mailer: Error Object Mailer\r\n" +
              "To: " + mailbox(m.toName, m.toAddress) + "\r\n" +
              "Subject: " + headerText(m.subject) + "\r\n";
  if (!isAscii(m.fromName) || !isAscii(m.toName) || !isAscii(m.subject) || !isAscii(m.body) ||
      !isAscii(m.fromAddress) || !isAscii(m.toAddress))
    c.headers += "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n";
  // The body text is the body and a line end; sent with another, it ends in an empty line.
  c.body = bodyText(m.body) + "\r\n";
  return c;
}

}  // namespace quenvar::mail
