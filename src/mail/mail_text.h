#pragma once
// The texts of an outgoing message, made safe for the SMTP wire.

#include <string>
#include <string_view>

#include "platform/socket.h"

namespace quenvar::mail {

// CR, LF and NUL removed, so no value can start a new command or header line.
std::string singleLine(std::string_view value);

// One address as an envelope path holds it: nothing that would close the path, list another
// address or start another argument.
bool isSingleAddress(std::string_view address);

// "Mon, 07 Jan 2002 14:05:09 +0100"
std::string dateField(const ZonedTime& time);

// A header value as it may appear after "Name: ": non-ASCII or overlong text as encoded words.
std::string headerText(std::string_view value);
// "Name <address>", or "<address>" without a name; the name quoted or encoded as needed.
std::string mailbox(std::string_view name, std::string_view address);

// Line ends made CRLF, leading dots doubled, no line over 998 octets; no final line end added.
std::string bodyText(std::string_view body);

bool isAscii(std::string_view text);

std::string base64(std::string_view data);

struct Message {
  std::string fromName, fromAddress, toName, toAddress, subject, body;
};

// Every header line with its CRLF, and the body as bodyText makes it.
struct Composed {
  std::string headers;
  std::string body;
};
Composed compose(const Message& message, const ZonedTime& date);

}  // namespace quenvar::mail
