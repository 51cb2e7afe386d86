// The property string of the installer's command line, as the client
// set-up stand-in reads it from its /v option: NAME=value and NAME="value"
// items, options such as /qn, and "/l*v" followed by the log file.
#pragma once
#include <map>
#include <string>

namespace zelsetup {

// The installer's property string: NAME=value or NAME="value" items and
// options, "/l*v" followed by the log file.
struct Properties {
  std::map<std::string, std::string> values;
  std::string logFile;
};

inline Properties ParseProperties(const std::string& text) {
  Properties p;
  std::size_t i = 0;
  auto skipBlanks = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  };
  auto word = [&] {
    std::string out;
    if (i < text.size() && text[i] == '"') {
      std::size_t end = text.find('"', i + 1);
      if (end == std::string::npos) end = text.size();
      out = text.substr(i + 1, end - i - 1);
      i = end < text.size() ? end + 1 : end;
      return out;
    }
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') {
      if (text[i] == '"') {
        std::size_t end = text.find('"', i + 1);
        if (end == std::string::npos) end = text.size();
        out += text.substr(i + 1, end - i - 1);
        i = end < text.size() ? end + 1 : end;
      } else {
        out += text[i++];
      }
    }
    return out;
  };
  for (skipBlanks(); i < text.size(); skipBlanks()) {
    std::string item = word();
    if (item == "/l*v" || item == "/L*V") {
      skipBlanks();
      p.logFile = word();
      continue;
    }
    std::size_t eq = item.find('=');
    if (eq != std::string::npos && item[0] != '/') p.values[item.substr(0, eq)] = item.substr(eq + 1);
  }
  return p;
}

}  // namespace zelsetup
