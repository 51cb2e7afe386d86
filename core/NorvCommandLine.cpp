#include "norv/NorvCommandLine.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwctype>

#include "platform/text.h"

namespace {

const CNorvCommandLineInfo* gCurrentCommandLine = nullptr;

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r'; }

// Reads one argument from `text` starting at `pos` with the Windows rules;
// stops at whitespace outside quotes when `stopAtSpace`.
NorvString ReadArgument(const NorvString& text, size_t& pos, bool stopAtSpace) {
  NorvString out;
  bool inQuotes = false;
  while (pos < text.size()) {
    const wchar_t c = text[pos];
    if (c == L'\\') {
      size_t slashes = 0;
      while (pos < text.size() && text[pos] == L'\\') {
        ++slashes;
        ++pos;
      }
      if (pos < text.size() && text[pos] == L'"') {
        out.append(slashes / 2, L'\\');
        if (slashes % 2 == 1) {
          out += L'"';  // an escaped quote is text
          ++pos;
        }
        // with an even count the quote is handled by the next round
      } else {
        out.append(slashes, L'\\');
      }
      continue;
    }
    if (c == L'"') {
      inQuotes = !inQuotes;
      ++pos;
      continue;
    }
    if (stopAtSpace && !inQuotes && IsSpace(c)) break;
    out += c;
    ++pos;
  }
  return out;
}

std::wstring Lower(const NorvString& s) {
  std::wstring out = s;
  for (auto& c : out) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return out;
}

bool ParseNumber(const NorvString& text, long long minValue, long long maxValue,
                 long long& value) {
  if (text.empty() || IsSpace(text[0])) return false;
  errno = 0;
  wchar_t* end = nullptr;
  const long long v = std::wcstoll(text.c_str(), &end, 0);
  if (errno != 0 || end == nullptr || *end != L'\0') return false;
  if (v < minValue || v > maxValue) return false;
  value = v;
  return true;
}

enum class Kind { Text, Unsigned, Signed, List };

struct OptionSpec {
  const wchar_t* name;  // lower case, with the colon
  Kind kind;
  BOOL CNorvCommandLineInfo::*given;
  NorvString CNorvCommandLineInfo::*text;
  DWORD CNorvCommandLineInfo::*unsignedValue;
  int CNorvCommandLineInfo::*signedValue;
  std::vector<NorvString> CNorvCommandLineInfo::*list;
};

using Info = CNorvCommandLineInfo;

const OptionSpec kOptions[] = {
    {L"class:", Kind::Text, &Info::m_bRootClassGiven, &Info::m_RootClass, nullptr, nullptr,
     nullptr},
    {L"id:", Kind::Text, &Info::m_bRootIdGiven, &Info::m_RootId, nullptr, nullptr, nullptr},
    {L"locale:", Kind::Text, &Info::m_bLocaleGiven, &Info::m_Locale, nullptr, nullptr, nullptr},
    {L"param:", Kind::Text, &Info::m_bParamGiven, &Info::m_Param, nullptr, nullptr, nullptr},
    {L"registrykey:", Kind::Text, &Info::m_bRegistryKeyGiven, &Info::m_RegistryKey, nullptr,
     nullptr, nullptr},
    {L"traceenabled:", Kind::Unsigned, &Info::m_bTraceEnabledGiven, nullptr,
     &Info::m_TraceEnabled, nullptr, nullptr},
    {L"tracelevel:", Kind::Signed, &Info::m_bTraceLevelGiven, nullptr, nullptr,
     &Info::m_TraceLevel, nullptr},
    {L"tracelocation:", Kind::Text, &Info::m_bTraceLocationGiven, &Info::m_TraceLocation,
     nullptr, nullptr, nullptr},
    {L"tracefilesize:", Kind::Unsigned, &Info::m_bTraceFileSizeGiven, nullptr,
     &Info::m_TraceFileSize, nullptr, nullptr},
    {L"tracekeepfiles:", Kind::Signed, &Info::m_bTraceKeepFilesGiven, nullptr, nullptr,
     &Info::m_TraceKeepFiles, nullptr},
    {L"plugin:", Kind::List, nullptr, nullptr, nullptr, nullptr, &Info::m_Plugins},
    {L"loadplugin:", Kind::List, nullptr, nullptr, nullptr, nullptr, &Info::m_LoadPlugins},
};

struct FlagSpec {
  const wchar_t* name;  // lower case
  BOOL CNorvCommandLineInfo::*flag;
};

const FlagSpec kFlags[] = {
    {L"-nosplash", &Info::m_bNoSplash},
    {L"-notips", &Info::m_bNoTips},
    {L"-quiet", &Info::m_bQuiet},
};

// "name:" options are letters followed by a colon. A relative start path
// may look like that too ("Disk:1/Files"): see ApplyArgument.
bool LooksLikeOption(const NorvString& arg, size_t& colon) {
  colon = arg.find(L':');
  if (colon == NorvString::npos || colon == 0) return false;
  for (size_t i = 0; i < colon; ++i) {
    if (!std::iswalpha(static_cast<wint_t>(arg[i]))) return false;
  }
  return true;
}

bool SetError(NorvString* error, const NorvString& text) {
  if (error != nullptr) *error = text;
  return false;
}

bool ApplyArgument(const NorvString& raw, Info& info, bool& startPathSeen, NorvString* error) {
  const NorvString arg = CNorvCommandLineParser::Unquote(raw);
  if (!arg.empty() && arg[0] == L'-') {
    const NorvString lower = Lower(arg);
    for (const auto& flag : kFlags) {
      if (lower == flag.name) {
        info.*flag.flag = TRUE;
        return true;
      }
    }
    return SetError(error, L"Unknown option \"" + arg +
                               L"\" (known: -nosplash, -notips, -quiet).");
  }
  size_t colon = 0;
  if (!arg.empty() && arg[0] != L'/' && arg[0] != L'.' && LooksLikeOption(arg, colon)) {
    const NorvString name = Lower(arg.substr(0, colon + 1));
    const NorvString value = arg.substr(colon + 1);
    for (const auto& option : kOptions) {
      if (name != option.name) continue;
      if (option.kind == Kind::List) {
        (info.*option.list).push_back(value);
        return true;
      }
      if (info.*option.given) {
        return SetError(error, L"The option \"" + arg.substr(0, colon + 1) +
                                   L"\" is given more than once.");
      }
      long long number = 0;
      switch (option.kind) {
        case Kind::Text:
          info.*option.text = value;
          break;
        case Kind::Unsigned:
          if (!ParseNumber(value, 0, UINT32_MAX, number)) {
            return SetError(error, L"The option \"" + arg.substr(0, colon + 1) +
                                       L"\" needs a number from 0 to 4294967295, not \"" +
                                       value + L"\".");
          }
          info.*option.unsignedValue = static_cast<DWORD>(number);
          break;
        case Kind::Signed:
          if (!ParseNumber(value, INT_MIN, INT_MAX, number)) {
            return SetError(error, L"The option \"" + arg.substr(0, colon + 1) +
                                       L"\" needs a whole number, not \"" + value + L"\".");
          }
          info.*option.signedValue = static_cast<int>(number);
          break;
        case Kind::List:
          break;
      }
      info.*option.given = TRUE;
      return true;
    }
    // Not an option: a relative start path whose first element holds a
    // colon ("Disk:1/Files"). A lone word with a colon stays an error, as
    // it is far more likely a mistyped option.
    if (arg.find(L'/') == NorvString::npos) {
      return SetError(error, L"Unknown option \"" + arg.substr(0, colon + 1) +
                                 L"\" (a start path that begins with it is written \"./" + arg +
                                 L"\").");
    }
  }
  if (startPathSeen) {
    return SetError(error, L"Only one start path may be given; \"" + arg +
                               L"\" follows \"" + info.m_StartPath + L"\".");
  }
  startPathSeen = true;
  info.m_bStartPathGiven = TRUE;
  info.m_StartPath = arg;
  return true;
}

}  // namespace

const CNorvCommandLineInfo* CNorvCommandLineInfo::GetCurrent() { return gCurrentCommandLine; }

void CNorvCommandLineInfo::SetCurrent(const CNorvCommandLineInfo* info) {
  gCurrentCommandLine = info;
}

NorvString CNorvCommandLineParser::Unquote(const NorvString& argument) {
  if (argument.find(L'"') == NorvString::npos) return argument;
  size_t pos = 0;
  return ReadArgument(argument, pos, false);
}

std::vector<NorvString> CNorvCommandLineParser::SplitCommandLine(const NorvString& commandLine) {
  std::vector<NorvString> args;
  size_t pos = 0;
  while (true) {
    while (pos < commandLine.size() && IsSpace(commandLine[pos])) ++pos;
    if (pos >= commandLine.size()) break;
    args.push_back(ReadArgument(commandLine, pos, true));
  }
  return args;
}

NorvString CNorvCommandLineParser::Quote(const NorvString& value) {
  NorvString out = L"\"";
  size_t slashes = 0;
  for (wchar_t c : value) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    if (c == L'"') {
      out.append(slashes * 2 + 1, L'\\');
    } else {
      out.append(slashes, L'\\');
    }
    slashes = 0;
    out += c;
  }
  // Backslashes before the closing quote are doubled so it stays a quote.
  out.append(slashes * 2, L'\\');
  out += L'"';
  return out;
}

BOOL CNorvCommandLineParser::Parse(const std::vector<NorvString>& args,
                                   CNorvCommandLineInfo& info, NorvString* error) {
  // Work on a copy so that a bad argument leaves the caller's record as it was.
  CNorvCommandLineInfo parsed = info;
  bool startPathSeen = parsed.m_bStartPathGiven != FALSE;
  for (const auto& arg : args) {
    if (!ApplyArgument(arg, parsed, startPathSeen, error)) return FALSE;
  }
  info = parsed;
  return TRUE;
}

BOOL CNorvCommandLineParser::Parse(int argc, const char* const* argv,
                                   CNorvCommandLineInfo& info, NorvString* error) {
  std::vector<NorvString> args;
  for (int i = 1; i < argc; ++i) {
    if (argv[i] != nullptr) args.push_back(plat::FromUtf8(argv[i]));
  }
  return Parse(args, info, error);
}
