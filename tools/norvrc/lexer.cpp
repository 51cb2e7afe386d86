#include "lexer.h"

#include <cctype>

namespace norvrc {
namespace {

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Length of the UTF-8 sequence starting at s[i], 0 when it is malformed.
std::size_t Utf8Length(const std::string& s, std::size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  std::size_t n = c < 0x80 ? 1 : (c >= 0xC2 && c < 0xE0) ? 2 : (c >= 0xE0 && c < 0xF0) ? 3
                  : (c >= 0xF0 && c < 0xF5)                  ? 4
                                                             : 0;
  if (n == 0 || i + n > s.size()) return 0;
  char32_t cp = n == 1 ? c : c & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    unsigned char t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (t & 0x3F);
  }
  static const char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (cp >> 18));
    *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool Tokenize(const std::string& s, std::vector<Token>* tokens, std::string* error) {
  int line = 1;
  std::size_t lineStart = 0;
  std::size_t i = 0;
  auto fail = [&](std::size_t at, const std::string& message) {
    *error = std::to_string(line) + ":" + std::to_string(at - lineStart + 1) + ": " + message;
    return false;
  };
  if (s.compare(0, 3, "\xEF\xBB\xBF") == 0) i = lineStart = 3;  // byte order mark
  while (i < s.size()) {
    char c = s[i];
    if (c == '\n') {
      ++line;
      lineStart = ++i;
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\r' || c == ',') {
      ++i;
      continue;
    }
    if (c == '/' && i + 1 < s.size() && s[i + 1] == '/') {
      while (i < s.size() && s[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      std::size_t start = i;
      i += 2;
      while (i + 1 < s.size() && !(s[i] == '*' && s[i + 1] == '/')) {
        if (s[i] == '\n') {
          ++line;
          lineStart = i + 1;
        }
        ++i;
      }
      if (i + 1 >= s.size()) return fail(start, "comment is not closed");
      i += 2;
      continue;
    }
    Token t;
    t.line = line;
    t.column = static_cast<int>(i - lineStart + 1);
    if (c == '{' || c == '}') {
      t.kind = c == '{' ? TokenKind::Open : TokenKind::Close;
      ++i;
    } else if (c == '"') {
      t.kind = TokenKind::String;
      std::size_t start = i++;
      for (;;) {
        if (i >= s.size() || s[i] == '\n') return fail(start, "string is not closed on its line");
        char d = s[i];
        if (d == '"') {
          ++i;
          break;
        }
        if (d != '\\') {
          std::size_t n = Utf8Length(s, i);
          if (n == 0) return fail(i, "text is not valid UTF-8");
          t.text.append(s, i, n);
          i += n;
          continue;
        }
        std::size_t escape = i++;
        if (i >= s.size()) return fail(escape, "escape at the end of the script");
        char e = s[i++];
        switch (e) {
          case 'a': t.text += '\a'; break;
          case 'b': t.text += '\b'; break;
          case 'f': t.text += '\f'; break;
          case 'n': t.text += '\n'; break;
          case 'r': t.text += '\r'; break;
          case 't': t.text += '\t'; break;
          case 'v': t.text += '\v'; break;
          case '\\': case '"': case '\'': case '?': t.text += e; break;
          case 'x': case 'u': case 'U': {
            // \xhh, \uhhhh and \Uhhhhhhhh name code points, written as UTF-8.
            int digits = e == 'x' ? 2 : e == 'u' ? 4 : 8;
            char32_t cp = 0;
            for (int k = 0; k < digits; ++k) {
              int v = i < s.size() ? HexValue(s[i]) : -1;
              if (v < 0) return fail(escape, std::string("\\") + e + " needs " + std::to_string(digits) + " hex digits");
              cp = cp * 16 + static_cast<char32_t>(v);
              ++i;
            }
            if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return fail(escape, "no such code point");
            AppendUtf8(cp, &t.text);
            break;
          }
          default:
            if (e >= '0' && e <= '7') {  // up to three octal digits, a code point below 512
              char32_t cp = static_cast<char32_t>(e - '0');
              for (int k = 0; k < 2 && i < s.size() && s[i] >= '0' && s[i] <= '7'; ++k)
                cp = cp * 8 + static_cast<char32_t>(s[i++] - '0');
              AppendUtf8(cp, &t.text);
              break;
            }
            return fail(escape, std::string("unknown escape \\") + e);
        }
      }
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      t.kind = TokenKind::Number;
      std::size_t start = i;
      int base = 10;
      if (c == '0' && i + 1 < s.size() && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
      }
      std::size_t digitsStart = i;
      while (i < s.size() && IsWordChar(s[i])) {
        int v = base == 16 ? HexValue(s[i]) : (std::isdigit(static_cast<unsigned char>(s[i])) ? s[i] - '0' : -1);
        if (v < 0) return fail(start, "malformed number " + s.substr(start, i - start + 1));
        t.number = t.number * base + static_cast<unsigned>(v);
        if (t.number > 0xFFFFFFFFull) return fail(start, "number is larger than 32 bits");
        ++i;
      }
      if (i == digitsStart) return fail(start, "malformed number");
    } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      t.kind = TokenKind::Word;
      while (i < s.size() && IsWordChar(s[i])) t.text += s[i++];
    } else {
      return fail(i, std::string("unexpected character '") + c + "'");
    }
    tokens->push_back(std::move(t));
  }
  Token end;
  end.line = line;
  end.column = static_cast<int>(i - lineStart + 1);
  tokens->push_back(end);
  return true;
}

}  // namespace norvrc
