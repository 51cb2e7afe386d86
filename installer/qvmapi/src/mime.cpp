#include "mime.h"

#include <unistd.h>

#include <atomic>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace qvmapi {
namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const unsigned char* data, std::size_t size) {
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    unsigned v = data[i] << 16 | data[i + 1] << 8 | data[i + 2];
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += kBase64[(v >> 6) & 63];
    out += kBase64[v & 63];
  }
  if (size - i == 1) {
    unsigned v = data[i] << 16;
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += "==";
  } else if (size - i == 2) {
    unsigned v = data[i] << 16 | data[i + 1] << 8;
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += kBase64[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

bool IsAsciiText(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 127 || (c < 32 && c != '\t')) return false;
  return true;
}

std::string DateHeader() {
  char buffer[64];
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  // English names regardless of the locale.
  static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  long offset = tm.tm_gmtoff / 60;
  char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  std::snprintf(buffer, sizeof buffer, "%s, %d %s %d %02d:%02d:%02d %c%02ld%02ld",
                days[tm.tm_wday], tm.tm_mday, months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour,
                tm.tm_min, tm.tm_sec, sign, offset / 60, offset % 60);
  return buffer;
}

std::string UniqueToken() {
  static std::atomic<unsigned> counter{0};
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%lx.%d.%u", static_cast<unsigned long>(std::time(nullptr)),
                static_cast<int>(getpid()), ++counter);
  return buffer;
}

std::string BaseName(const std::string& path) {
  std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A file name for a header parameter: quoted, with quotes and backslashes
// and control characters dropped; non-ASCII names get the RFC 2231 form.
std::string FileNameParameter(const std::string& name) {
  std::string plain;
  for (unsigned char c : name)
    if (c >= 32 && c != '"' && c != '\\' && c != 127) plain += static_cast<char>(c);
  if (IsAsciiText(plain)) return "filename=\"" + plain + "\"";
  std::string encoded = "filename*=UTF-8''";
  for (unsigned char c : plain) {
    if (std::isalnum(c) || std::strchr("-._~", c)) {
      encoded += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      encoded += hex;
    }
  }
  return encoded;
}

}  // namespace

bool IsPlainAddress(const std::string& address) {
  if (address.empty() || address.size() > 254) return false;
  for (unsigned char c : address)
    if (c <= 32 || c == 127 || c == '<' || c == '>' || c == ',' || c == ';' || c == '"')
      return false;
  return true;
}

std::string EncodeHeaderText(const std::string& text) {
  std::string clean;
  for (char c : text) clean += (c == '\r' || c == '\n') ? ' ' : c;
  if (IsAsciiText(clean)) return clean;
  // Encoded words of at most 45 source bytes each, cut between UTF-8 sequences.
  std::string out;
  std::size_t i = 0;
  while (i < clean.size()) {
    std::size_t n = std::min<std::size_t>(45, clean.size() - i);
    while (n > 1 && i + n < clean.size() &&
           (static_cast<unsigned char>(clean[i + n]) & 0xC0) == 0x80)
      --n;
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" +
           Base64(reinterpret_cast<const unsigned char*>(clean.data() + i), n) + "?=";
    i += n;
  }
  return out;
}

std::string QuotedPrintable(const std::string& text) {
  std::string out;
  std::size_t column = 0;
  auto put = [&](const std::string& piece) {
    if (column + piece.size() > 75) {
      out += "=\r\n";
      column = 0;
    }
    out += piece;
    column += piece.size();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;  // CRLF as LF
    if (c == '\n') {
      out += "\r\n";
      column = 0;
      continue;
    }
    bool lineEnd = i + 1 == text.size() || text[i + 1] == '\n' || text[i + 1] == '\r';
    bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !lineEnd);
    // A dot at the start of a line is encoded too, so no relay mistakes it for the end.
    if (c == '.' && column == 0) literal = false;
    if (literal) {
      put(std::string(1, static_cast<char>(c)));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "=%02X", c);
      put(hex);
    }
  }
  if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) out += "\r\n";
  return out;
}

std::string Base64Lines(const unsigned char* data, std::size_t size) {
  std::string out;
  for (std::size_t i = 0; i < size; i += 57) {
    out += Base64(data + i, std::min<std::size_t>(57, size - i));
    out += "\r\n";
  }
  return out;
}

bool WriteMessage(const MessageParts& parts, std::FILE* out) {
  std::string token = UniqueToken();
  char host[256] = "localhost";
  gethostname(host, sizeof host - 1);
  std::string head;
  head += "From: " + parts.from + "\r\n";
  head += "To: " + parts.to + "\r\n";
  head += "Subject: " + EncodeHeaderText(parts.subject) + "\r\n";
  head += "Date: " + DateHeader() + "\r\n";
  head += "Message-ID: <" + token + "@" + std::string(host) + ">\r\n";
  head += "MIME-Version: 1.0\r\n";
  if (parts.receipt) head += "Disposition-Notification-To: " + parts.from + "\r\n";
  std::string boundary = "=_qvmapi_" + token;
  std::string textHeaders =
      "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n";
  if (parts.attachment.empty()) {
    head += textHeaders + "\r\n" + QuotedPrintable(parts.body);
    return std::fwrite(head.data(), 1, head.size(), out) == head.size() && std::fflush(out) == 0;
  }
  std::FILE* file = std::fopen(parts.attachment.c_str(), "rb");
  if (!file) return false;
  head += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
  head += "This is a multi-part message in MIME format.\r\n";
  head += "--" + boundary + "\r\n" + textHeaders + "\r\n" + QuotedPrintable(parts.body);
  head += "--" + boundary + "\r\n";
  head += "Content-Type: application/octet-stream; name=\"" + BaseName(parts.attachment) + "\"\r\n";
  head += "Content-Transfer-Encoding: base64\r\n";
  head += "Content-Disposition: attachment; " + FileNameParameter(BaseName(parts.attachment)) +
          "\r\n\r\n";
  bool ok = std::fwrite(head.data(), 1, head.size(), out) == head.size();
  unsigned char chunk[57 * 1024];
  while (ok) {
    std::size_t n = std::fread(chunk, 1, sizeof chunk, file);
    if (n) {
      std::string lines = Base64Lines(chunk, n);
      ok = std::fwrite(lines.data(), 1, lines.size(), out) == lines.size();
    }
    if (n < sizeof chunk) {
      if (std::ferror(file)) ok = false;
      break;
    }
  }
  int readErrno = errno;
  std::fclose(file);
  if (!ok) {
    errno = readErrno;
    return false;
  }
  std::string tail = "--" + boundary + "--\r\n";
  return std::fwrite(tail.data(), 1, tail.size(), out) == tail.size() && std::fflush(out) == 0;
}

}  // namespace qvmapi
