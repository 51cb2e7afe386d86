#include "response_file.h"

#include <sstream>
#include <vector>

#include "setup_keys.h"

namespace norvsetup {
namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string Unquoted(const std::string& text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
    return text.substr(1, text.size() - 2);
  return text;
}

}  // namespace

bool FitsResponseLine(const std::string& folder) {
  // The longest line is "1," and the folder in quotes.
  return folder.find_first_of("\r\n") == std::string::npos && folder.size() + 4 <= kMaxText;
}

std::string InstallResponseText(const std::string& folder, bool windowsNT, bool firstPlugin) {
  const std::string family = windowsNT ? "1" : "2";
  return "[bypassui]\n"
         "[bypass_no_write_access]\n"
         "[bypass_inuse_message]\n"
         "[product_list]\n" +
         family + "\n" +
         "[destination_path]\n" +
         family + "," + Quoted(folder) + "\n" +
         "[always_replace_file]\n" +
         Quoted(firstPlugin ? "Yes" : "No") + "\n" +
         "[vmapps_path]\n" +
         Quoted(folder) + "\n";
}

std::string ImageCopyResponseText(const std::string& destination) {
  return "[bypassui]\n"
         "[destination_path]\n"
         "1," + Quoted(destination) + "\n" +
         "[always_replace_file]\n" +
         Quoted("Yes") + "\n" +
         "[vmapps_path]\n" +
         Quoted("C:\\VM_APPSW") + "\n";
}

bool ParseResponse(const std::string& text, ResponseAnswers* answers, std::string* error) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kMaxText) {
      *error = "line " + std::to_string(lines.size() + 1) + " is longer than a path";
      return false;
    }
    lines.push_back(line);
  }
  *answers = ResponseAnswers();
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string next = i + 1 < lines.size() ? lines[i + 1] : std::string();
    if (lines[i] == "[destination_path]") {
      const size_t comma = next.find(',');
      if (comma == std::string::npos) {
        *error = "the destination has no product number";
        return false;
      }
      answers->destination = Unquoted(next.substr(comma + 1));
    } else if (lines[i] == "[always_replace_file]") {
      const std::string answer = Unquoted(next);
      if (answer != "Yes" && answer != "No") {
        *error = "the answer to replacing files is neither \"Yes\" nor \"No\"";
        return false;
      }
      answers->replace = answer == "Yes";
    } else if (lines[i] == "[vmapps_path]") {
      answers->sharedFolder = Unquoted(next);
    }
  }
  if (answers->destination.empty()) {
    *error = "no destination";
    return false;
  }
  return true;
}

}  // namespace norvsetup
