#include "parser.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <map>

#include "keys.h"
#include "lexer.h"

namespace norvrc {
namespace {

constexpr std::uint64_t kMaxFileBytes = 64u << 20;

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Set32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

class Parser {
 public:
  Parser(std::vector<Token> tokens, std::string folder)
      : tokens_(std::move(tokens)), folder_(std::move(folder)) {}

  bool Run(Script* script) {
    while (Peek().kind != TokenKind::End) {
      if (!Statement()) return false;
    }
    for (auto& [key, resource] : resources_) script->resources.push_back(std::move(resource));
    script->files = files_;
    return true;
  }

  const std::string& Error() const { return error_; }

 private:
  const Token& Peek() const { return tokens_[pos_]; }
  const Token& Next() { return tokens_[pos_ < tokens_.size() - 1 ? pos_++ : pos_]; }

  bool Fail(const Token& at, const std::string& message) {
    error_ = std::to_string(at.line) + ":" + std::to_string(at.column) + ": " + message;
    return false;
  }
  bool IsWord(const char* word) const {
    return Peek().kind == TokenKind::Word && Upper(Peek().text) == word;
  }
  bool Expect(TokenKind kind, const char* what) {
    if (Peek().kind != kind) return Fail(Peek(), std::string("expected ") + what);
    Next();
    return true;
  }
  // { or BEGIN, } or END, as resource compilers accept both.
  bool Open() {
    if (IsWord("BEGIN")) {
      Next();
      return true;
    }
    return Expect(TokenKind::Open, "'{'");
  }
  bool AtClose() const { return Peek().kind == TokenKind::Close || IsWord("END"); }
  bool Number(std::uint32_t* value, std::uint64_t max, const char* what) {
    const Token& t = Peek();
    if (t.kind != TokenKind::Number) return Fail(t, std::string("expected ") + what);
    if (t.number > max) return Fail(t, std::string(what) + " is larger than " + std::to_string(max));
    *value = static_cast<std::uint32_t>(t.number);
    Next();
    return true;
  }
  bool Text(std::string* text, const char* what) {
    if (Peek().kind != TokenKind::String) return Fail(Peek(), std::string("expected ") + what);
    *text = Next().text;
    return true;
  }
  bool Add(const Token& at, std::uint32_t type, std::uint32_t id, std::vector<std::uint8_t> data) {
    auto [it, added] = resources_.try_emplace({type, id});
    if (!added) return Fail(at, "resource " + std::to_string(id) + " is defined twice");
    it->second.type = type;
    it->second.id = id;
    it->second.data = std::move(data);
    return true;
  }

  bool Statement() {
    const Token& start = Peek();
    if (start.kind != TokenKind::Word) return Fail(start, "expected a resource statement");
    std::string word = Upper(start.text);
    Next();
    if (word == "STRINGTABLE") return StringTable();
    if (word == "MENU") return Menu(start);
    if (word == "ACCELERATORS") return Accelerators(start);
    if (word == "TOOLBAR") return Toolbar(start);
    if (word == "IMAGE") return File(start, kImage);
    if (word == "HTML") return File(start, kHtml);
    return Fail(start, "unknown statement " + start.text);
  }

  // STRINGTABLE { id "text" ["more text"...] ... }
  bool StringTable() {
    if (!Open()) return false;
    while (!AtClose()) {
      const Token& at = Peek();
      std::uint32_t id = 0;
      std::string text;
      if (!Number(&id, 0xFFFFFFFFu, "a string id") || !Text(&text, "the string's text"))
        return false;
      while (Peek().kind == TokenKind::String) text += Next().text;  // adjacent pieces join
      if (!Add(at, kString, id, std::vector<std::uint8_t>(text.begin(), text.end()))) return false;
    }
    Next();
    return true;
  }

  // Items in preorder; a popup counts its direct children.
  bool MenuItems(std::vector<std::uint8_t>& out, std::uint32_t* count, int depth) {
    if (!Open()) return false;
    while (!AtClose()) {
      const Token& at = Peek();
      if (depth > 16) return Fail(at, "menus nest too deeply");
      std::uint32_t kind = 0, id = 0, flags = 0;
      std::string text;
      if (IsWord("MENUITEM")) {
        Next();
        if (IsWord("SEPARATOR")) {
          Next();
          kind = 2;
        } else if (!Text(&text, "the item's text") || !Number(&id, 0xFFFFFFFFu, "a command id")) {
          return false;
        }
      } else if (IsWord("POPUP")) {
        Next();
        kind = 1;
        if (!Text(&text, "the popup's text")) return false;
      } else {
        return Fail(at, "expected MENUITEM or POPUP");
      }
      for (;;) {
        if (IsWord("GRAYED")) {
          flags |= 1;
        } else if (IsWord("CHECKED")) {
          flags |= 2;
        } else {
          break;
        }
        Next();
      }
      ++*count;
      std::size_t header = out.size();
      Put16(out, kind);
      Put16(out, flags);
      Put32(out, id);
      Put32(out, 0);  // children, filled in below
      Put32(out, static_cast<std::uint32_t>(text.size()));
      out.insert(out.end(), text.begin(), text.end());
      while (out.size() % 4) out.push_back(0);
      if (kind == 1) {
        std::uint32_t children = 0;
        if (!MenuItems(out, &children, depth + 1)) return false;
        Set32(out, header + 8, children);
      }
    }
    Next();
    return true;
  }

  // MENU id { POPUP "text" { MENUITEM "text" id [GRAYED] [CHECKED] ... } ... }
  bool Menu(const Token& at) {
    std::uint32_t id = 0;
    if (!Number(&id, 0xFFFFFFFFu, "a menu id")) return false;
    std::vector<std::uint8_t> data;
    Put32(data, 1);  // version
    Put32(data, 0);  // top-level items
    std::uint32_t count = 0;
    if (!MenuItems(data, &count, 0)) return false;
    Set32(data, 4, count);
    return Add(at, kMenu, id, std::move(data));
  }

  // ACCELERATORS id { "Ctrl+O" id ... }
  bool Accelerators(const Token& at) {
    std::uint32_t id = 0;
    if (!Number(&id, 0xFFFFFFFFu, "an accelerator table id") || !Open()) return false;
    std::vector<std::uint8_t> entries;
    std::uint32_t count = 0;
    while (!AtClose()) {
      const Token& keyToken = Peek();
      std::string keys;
      std::uint32_t command = 0, modifiers = 0, key = 0;
      if (!Text(&keys, "a key such as \"Ctrl+O\"")) return false;
      if (!ParseKeyCombination(keys, &modifiers, &key)) return Fail(keyToken, "unknown key \"" + keys + "\"");
      if (!Number(&command, 0xFFFFFFFFu, "a command id")) return false;
      Put32(entries, command);
      Put32(entries, modifiers);
      Put32(entries, key);
      ++count;
    }
    Next();
    std::vector<std::uint8_t> data;
    Put32(data, 1);
    Put32(data, count);
    data.insert(data.end(), entries.begin(), entries.end());
    return Add(at, kAccelerator, id, std::move(data));
  }

  // TOOLBAR id width height { BUTTON id | SEPARATOR ... } in the toolbar
  // resource layout of MFC: 16-bit version, width, height, count, ids.
  bool Toolbar(const Token& at) {
    std::uint32_t id = 0, width = 0, height = 0;
    if (!Number(&id, 0xFFFFFFFFu, "a toolbar id") || !Number(&width, 0xFFFF, "the button width") ||
        !Number(&height, 0xFFFF, "the button height") || !Open())
      return false;
    std::vector<std::uint32_t> buttons;
    while (!AtClose()) {
      if (IsWord("SEPARATOR")) {
        Next();
        buttons.push_back(0);
      } else if (IsWord("BUTTON")) {
        Next();
        std::uint32_t command = 0;
        if (!Number(&command, 0xFFFF, "a command id")) return false;
        buttons.push_back(command);
      } else {
        return Fail(Peek(), "expected BUTTON or SEPARATOR");
      }
    }
    Next();
    if (buttons.size() > 0xFFFF) return Fail(at, "too many buttons");
    std::vector<std::uint8_t> data;
    for (std::uint32_t v : {1u, width, height, static_cast<std::uint32_t>(buttons.size())}) Put16(data, v);
    for (std::uint32_t b : buttons) Put16(data, b);
    return Add(at, kToolbar, id, std::move(data));
  }

  // IMAGE id "file.png" and HTML id "file.html": the file's bytes as they are.
  // An HTML page may be named instead (HTML "start.html" "pages/start.html"),
  // as res: addresses name it: its id is ResourceNameId of the name.
  bool File(const Token& at, std::uint32_t type) {
    std::uint32_t id = 0;
    if (type == kHtml && Peek().kind == TokenKind::String) {
      std::string name;
      Text(&name, "a resource name");
      if (name.empty()) return Fail(at, "empty resource name");
      id = ResourceNameId(name);
    } else if (!Number(&id, 0xFFFFFFFFu, "a resource id")) {
      return false;
    }
    const Token& nameToken = Peek();
    std::string name;
    if (!Text(&name, "a file name")) return false;
    std::string path = !name.empty() && name[0] == '/' ? name : folder_ + "/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in) return Fail(nameToken, "cannot read " + path);
    std::vector<std::uint8_t> data;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
      data.insert(data.end(), buffer, buffer + in.gcount());
      if (data.size() > kMaxFileBytes) return Fail(nameToken, path + " is larger than 64 MiB");
    }
    if (in.bad()) return Fail(nameToken, "cannot read " + path);
    static const std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (type == kImage && (data.size() < 8 || !std::equal(kPng, kPng + 8, data.begin())))
      return Fail(nameToken, path + " is not a PNG file");
    files_.push_back(path);
    return Add(at, type, id, std::move(data));
  }

  std::vector<Token> tokens_;
  std::string folder_;
  std::size_t pos_ = 0;
  std::string error_;
  std::map<std::pair<std::uint32_t, std::uint32_t>, Resource> resources_;
  std::vector<std::string> files_;
};

}  // namespace

std::uint32_t ResourceNameId(const std::string& name) {
  std::uint32_t h = 2166136261u;
  for (char c : name) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 'a' + 'A');
    h ^= b;
    h *= 16777619u;
  }
  return h | 0x80000000u;
}

bool ParseScript(const std::string& source, const std::string& folder, Script* script,
                 std::string* error) {
  std::vector<Token> tokens;
  if (!Tokenize(source, &tokens, error)) return false;
  Parser parser(std::move(tokens), folder);
  if (parser.Run(script)) return true;
  *error = parser.Error();
  return false;
}

}  // namespace norvrc
