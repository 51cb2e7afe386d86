// Tree paths (plain C++: also built into the fuzz target).
#include "norv/NorvTreePath.h"

namespace {

bool StartsWith(const NorvString& text, const wchar_t* prefix) {
  return text.compare(0, NorvString(prefix).size(), prefix) == 0;
}

}  // namespace

BOOL ExtractSubPath(NorvString& path, NorvString& head) {
  head.clear();
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] != L'/') {
      head.push_back(path[i]);
    } else if (i + 1 < path.size() && path[i + 1] == L'/') {
      head.push_back(L'/');
      ++i;
    } else {
      path.erase(0, i + 1);
      return TRUE;
    }
  }
  path.clear();
  return FALSE;
}

std::vector<NorvTreePathStep> ParseTreePath(const NorvString& path) {
  std::vector<NorvTreePathStep> steps;
  NorvString rest = path;
  bool first = true;
  while (!rest.empty()) {
    if (rest == L".") rest = L"./";
    if (rest == L"..") rest = L"../";
    const bool atStart = first;
    first = false;
    if (StartsWith(rest, L"./")) {
      steps.push_back({NorvTreePathStep::kSelection, {}});
      rest.erase(0, 2);
    } else if (rest[0] == L'/' && (atStart || rest.size() == 1 || rest[1] != L'/')) {
      steps.push_back({NorvTreePathStep::kRoot, {}});
      rest.erase(0, 1);
    } else if (StartsWith(rest, L"../")) {
      steps.push_back({NorvTreePathStep::kParent, {}});
      rest.erase(0, 3);
    } else if (StartsWith(rest, L".../")) {
      rest.erase(0, 4);
      NorvString head;
      ExtractSubPath(rest, head);
      steps.push_back({NorvTreePathStep::kNearestAncestor, head});
    } else {
      NorvString head;
      ExtractSubPath(rest, head);
      steps.push_back({NorvTreePathStep::kChild, head});
    }
  }
  return steps;
}

std::vector<NorvString> SplitTreePath(const NorvString& path) {
  std::vector<NorvString> texts;
  NorvString rest = path;
  if (!rest.empty() && rest[0] == L'/') rest.erase(0, 1);
  while (!rest.empty()) {
    NorvString head;
    ExtractSubPath(rest, head);
    if (!head.empty()) texts.push_back(head);
  }
  return texts;
}

NorvString EscapeTreePathElement(const NorvString& text) {
  NorvString out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    out.push_back(c);
    if (c == L'/') out.push_back(L'/');
  }
  return out;
}

NorvString JoinTreePath(const std::vector<NorvString>& texts) {
  NorvString path = L"/";
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) path += L'/';
    path += EscapeTreePathElement(texts[i]);
  }
  return path;
}
