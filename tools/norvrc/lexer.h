// Tokens of a resource script: words, numbers, strings with C escapes,
// braces. Commas separate nothing and are skipped; // and /* */ are comments.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace norvrc {

enum class TokenKind { Word, Number, String, Open, Close, End };

struct Token {
  TokenKind kind = TokenKind::End;
  std::string text;      // the word, or the string's UTF-8 value
  std::uint64_t number = 0;
  int line = 0;
  int column = 0;
};

// Splits the whole script; false with "line:column: message" in *error.
bool Tokenize(const std::string& source, std::vector<Token>* tokens, std::string* error);

// Appends a code point as UTF-8.
void AppendUtf8(char32_t cp, std::string* out);

}  // namespace norvrc
