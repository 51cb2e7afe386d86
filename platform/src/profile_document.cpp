// The profile file parser and writer. Every line is kept with its own line
// end, so a document serializes back to exactly the bytes it was parsed from
// and an edit touches only the lines it must.
#include <algorithm>

#include "platform/profile.h"
#include "platform/text.h"

namespace plat {
namespace {

constexpr std::string_view kBlanks = " \t\r\f\v";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string Trim(std::string_view s) {
  size_t begin = s.find_first_not_of(kBlanks);
  if (begin == std::string_view::npos) return {};
  size_t end = s.find_last_not_of(kBlanks);
  return std::string(s.substr(begin, end - begin + 1));
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// Classifies one line; `first` strips a byte order mark before looking.
ProfileDocument::Line Classify(std::string text, std::string end, bool first) {
  ProfileDocument::Line line;
  std::string_view view(text);
  if (first && view.substr(0, kUtf8Bom.size()) == kUtf8Bom) view.remove_prefix(kUtf8Bom.size());
  std::string trimmed = Trim(view);
  if (trimmed.empty()) {
    line.kind = ProfileDocument::Line::Blank;
  } else if (trimmed[0] == ';' || trimmed[0] == '#') {
    line.kind = ProfileDocument::Line::Comment;
  } else if (size_t close; trimmed[0] == '[' && (close = trimmed.find(']')) != std::string::npos) {
    line.kind = ProfileDocument::Line::Section;
    line.name = Trim(std::string_view(trimmed).substr(1, close - 1));
  } else if (size_t eq = trimmed.find('='); eq != std::string::npos) {
    line.kind = ProfileDocument::Line::Entry;
    line.name = Trim(std::string_view(trimmed).substr(0, eq));
    line.value = Trim(std::string_view(trimmed).substr(eq + 1));
  } else {
    line.kind = ProfileDocument::Line::Other;
  }
  line.text = std::move(text);
  line.end = std::move(end);
  return line;
}

// A value enclosed in a matching pair of quotes is read without them.
std::string Unquote(const std::string& value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

}  // namespace

ProfileDocument ProfileDocument::Parse(const std::string& content) {
  ProfileDocument doc;
  bool endChosen = false;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t nl = content.find('\n', pos);
    std::string text, end;
    if (nl == std::string::npos) {
      text = content.substr(pos);
      pos = content.size();
    } else {
      size_t textEnd = nl;
      if (textEnd > pos && content[textEnd - 1] == '\r') --textEnd;
      text = content.substr(pos, textEnd - pos);
      end = content.substr(textEnd, nl + 1 - textEnd);
      pos = nl + 1;
      // New lines follow the file's own convention: that of its first line.
      if (!endChosen) {
        doc.lineEnd_ = end;
        endChosen = true;
      }
    }
    doc.lines_.push_back(Classify(std::move(text), std::move(end), doc.lines_.empty()));
  }
  return doc;
}

std::string ProfileDocument::Serialize() const {
  std::string out;
  size_t total = 0;
  for (const Line& line : lines_) total += line.text.size() + line.end.size();
  out.reserve(total);
  for (const Line& line : lines_) {
    out += line.text;
    out += line.end;
  }
  return out;
}

bool ProfileDocument::IsValidSectionName(const std::string& section) {
  return !HasLineBreak(section) && section.find(']') == std::string::npos;
}

bool ProfileDocument::IsValidKey(const std::string& key) {
  if (HasLineBreak(key) || key.find('=') != std::string::npos) return false;
  std::string trimmed = Trim(key);
  return trimmed.empty() || (trimmed[0] != '[' && trimmed[0] != ';' && trimmed[0] != '#');
}

bool ProfileDocument::IsValidValue(const std::string& value) { return !HasLineBreak(value); }

std::vector<std::pair<size_t, size_t>> ProfileDocument::SectionRanges(
    const std::string& section) const {
  std::string wanted = Trim(section);
  std::vector<std::pair<size_t, size_t>> ranges;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind != Line::Section) continue;
    if (!ranges.empty() && ranges.back().second == lines_.size()) ranges.back().second = i;
    if (EqualsNoCase(lines_[i].name, wanted)) ranges.emplace_back(i, lines_.size());
  }
  return ranges;
}

ProfileDocument::Line ProfileDocument::MakeLine(std::string text) const {
  return Classify(std::move(text), lineEnd_, false);
}

void ProfileDocument::InsertLine(size_t at, Line line) {
  // Only the last line can lack a line end; it needs one before anything follows.
  if (at > 0 && lines_[at - 1].end.empty()) lines_[at - 1].end = lineEnd_;
  if (line.end.empty()) line.end = lineEnd_;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

bool ProfileDocument::Get(const std::string& section, const std::string& key,
                          std::string* value) const {
  std::string wanted = Trim(key);
  for (auto [begin, end] : SectionRanges(section)) {
    for (size_t i = begin + 1; i < end; ++i) {
      const Line& line = lines_[i];
      if (line.kind == Line::Entry && EqualsNoCase(line.name, wanted)) {
        if (value) *value = Unquote(line.value);
        return true;
      }
    }
  }
  return false;
}

void ProfileDocument::Set(const std::string& section, const std::string& key,
                          const std::string& value) {
  if (!IsValidSectionName(section) || !IsValidKey(key) || !IsValidValue(value)) return;
  std::string wantedKey = Trim(key);
  auto ranges = SectionRanges(section);
  for (auto [begin, end] : ranges) {
    for (size_t i = begin + 1; i < end; ++i) {
      Line& line = lines_[i];
      if (line.kind == Line::Entry && EqualsNoCase(line.name, wantedKey)) {
        // The key keeps the spelling it has in the file.
        Line replaced = Classify(line.name + "=" + value, line.end, false);
        line = std::move(replaced);
        return;
      }
    }
  }
  if (!ranges.empty()) {
    auto [begin, end] = ranges.front();
    size_t at = begin + 1;
    for (size_t i = begin + 1; i < end; ++i)
      if (lines_[i].kind == Line::Entry || lines_[i].kind == Line::Other) at = i + 1;
    InsertLine(at, MakeLine(wantedKey + "=" + value));
    return;
  }
  InsertLine(lines_.size(), MakeLine("[" + Trim(section) + "]"));
  InsertLine(lines_.size(), MakeLine(wantedKey + "=" + value));
}

bool ProfileDocument::RemoveKey(const std::string& section, const std::string& key) {
  std::string wanted = Trim(key);
  auto ranges = SectionRanges(section);
  bool removed = false;
  for (auto it = ranges.rbegin(); it != ranges.rend(); ++it) {
    for (size_t i = it->second; i-- > it->first + 1;) {
      if (lines_[i].kind == Line::Entry && EqualsNoCase(lines_[i].name, wanted)) {
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
        removed = true;
      }
    }
  }
  return removed;
}

bool ProfileDocument::RemoveSection(const std::string& section) {
  auto ranges = SectionRanges(section);
  for (auto it = ranges.rbegin(); it != ranges.rend(); ++it) {
    // Blank and comment lines closing the section usually introduce the next
    // one, so they stay.
    size_t last = it->first;
    for (size_t i = it->first + 1; i < it->second; ++i)
      if (lines_[i].kind == Line::Entry || lines_[i].kind == Line::Other) last = i;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(it->first),
                 lines_.begin() + static_cast<std::ptrdiff_t>(last + 1));
  }
  return !ranges.empty();
}

std::vector<std::string> ProfileDocument::SectionNames() const {
  std::vector<std::string> names;
  for (const Line& line : lines_) {
    if (line.kind != Line::Section) continue;
    bool seen = std::any_of(names.begin(), names.end(),
                            [&](const std::string& n) { return EqualsNoCase(n, line.name); });
    if (!seen) names.push_back(line.name);
  }
  return names;
}

std::vector<std::string> ProfileDocument::Keys(const std::string& section) const {
  std::vector<std::string> keys;
  for (auto [begin, end] : SectionRanges(section)) {
    for (size_t i = begin + 1; i < end; ++i) {
      const Line& line = lines_[i];
      if (line.kind != Line::Entry) continue;
      bool seen = std::any_of(keys.begin(), keys.end(),
                              [&](const std::string& k) { return EqualsNoCase(k, line.name); });
      if (!seen) keys.push_back(line.name);
    }
  }
  return keys;
}

std::vector<std::pair<std::string, std::string>> ProfileDocument::Entries(
    const std::string& section) const {
  std::vector<std::pair<std::string, std::string>> entries;
  for (auto [begin, end] : SectionRanges(section))
    for (size_t i = begin + 1; i < end; ++i)
      if (lines_[i].kind == Line::Entry) entries.emplace_back(lines_[i].name, lines_[i].value);
  return entries;
}

void ProfileDocument::ReplaceSection(
    const std::string& section, const std::vector<std::pair<std::string, std::string>>& entries) {
  std::vector<std::string> lines;
  lines.reserve(entries.size());
  for (const auto& [key, value] : entries) {
    if (!IsValidKey(key) || !IsValidValue(value)) return;
    lines.push_back(Trim(key) + "=" + value);
  }
  ReplaceSectionLines(section, lines);
}

void ProfileDocument::ReplaceSectionLines(const std::string& section,
                                          const std::vector<std::string>& lines) {
  if (!IsValidSectionName(section)) return;
  for (const std::string& text : lines)
    if (HasLineBreak(text) || Classify(text, "", false).kind == Line::Section) return;

  auto ranges = SectionRanges(section);
  size_t at;
  if (ranges.empty()) {
    InsertLine(lines_.size(), MakeLine("[" + Trim(section) + "]"));
    at = lines_.size();
  } else {
    // The new entries take the place of the first old one; comments stay.
    at = ranges.front().first + 1;
    bool found = false;
    for (auto it = ranges.rbegin(); it != ranges.rend(); ++it) {
      for (size_t i = it->second; i-- > it->first + 1;) {
        if (lines_[i].kind == Line::Entry || lines_[i].kind == Line::Other) {
          if (it == ranges.rend() - 1) {
            at = i;
            found = true;
          }
          lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
        }
      }
    }
    if (!found) {
      // No entries: after the header and any comments directly below it.
      size_t end = ranges.front().second;
      size_t i = at;
      while (i < lines_.size() && i < end && lines_[i].kind == Line::Comment) ++i;
      at = i;
    }
  }
  for (const std::string& text : lines) InsertLine(at++, MakeLine(text));
}

}  // namespace plat
