// The mail message the mail library sends: RFC 5322 headers and a MIME body,
// with the package as a base64 attachment.
#pragma once
#include <cstdio>
#include <string>

namespace qvmapi {

struct MessageParts {
  std::string from;        // an address
  std::string to;          // an address
  std::string subject;     // any text; non-ASCII is encoded
  std::string body;        // any text; sent quoted-printable
  std::string attachment;  // a file path, or empty
  bool receipt = false;    // ask for a read receipt (Disposition-Notification-To)
};

// True when an address can stand in a header and an SMTP command: not
// empty, no white space, control characters, "<", ">", "," or ";".
bool IsPlainAddress(const std::string& address);

// Writes the whole message with CRLF line ends to out. False on a write
// error or when the attachment cannot be read (errno tells).
bool WriteMessage(const MessageParts& parts, std::FILE* out);

// Helpers, visible for tests.
std::string EncodeHeaderText(const std::string& text);  // RFC 2047 when needed
std::string QuotedPrintable(const std::string& text);   // lines end with CRLF
std::string Base64Lines(const unsigned char* data, std::size_t size);  // 76-column lines, CRLF

}  // namespace qvmapi
