#include "fanrow_config.h"

#include <cctype>
#include <cstdlib>
#include <utility>
#include <vector>

namespace fanrow {
namespace {

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool ParseInt(const std::string& text, int low, int high, int* out) {
  if (text.empty() || text.size() > 9) return false;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < low || v > high) return false;
  *out = v;
  return true;
}

// Sets one key; false when the key or its value is not valid.
bool Set(Target* t, const std::string& key, const std::string& value) {
  if (key == "host") t->host = value;
  else if (key == "port") return ParseInt(value, 1, 65535, &t->port);
  else if (key == "user") t->user = value;
  else if (key == "identity") t->identity = value;
  else if (key == "known_hosts") t->knownHosts = value;
  else if (key == "strict_host_key_checking") {
    if (value != "yes" && value != "no" && value != "accept-new") return false;
    t->hostKeyCheck = value;
  } else if (key == "remote_dir") {
    if (value.empty() || value[0] != '/') return false;
    t->remoteDir = value;
  } else if (key == "setup") {
    if (value.empty()) return false;
    t->setup = value;
  } else if (key == "connect_timeout") return ParseInt(value, 1, 3600, &t->connectTimeout);
  else if (key == "setup_timeout") return ParseInt(value, 1, 86400, &t->setupTimeout);
  else return false;
  return true;
}

}  // namespace

Config ParseConfig(std::string_view text, std::string* errors) {
  Config config;
  // Section keys are kept as lines and applied over the defaults at the end,
  // so that a default given after a section still reaches it.
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> sections;
  std::string section;
  int lineNumber = 0;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    ++lineNumber;
    auto error = [&](const std::string& what) {
      if (errors) *errors += "line " + std::to_string(lineNumber) + ": " + what + "\n";
    };
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      std::string inner = line.back() == ']' ? Trim(line.substr(1, line.size() - 2)) : "";
      if (inner.rfind("machine", 0) == 0 && inner.size() > 8 &&
          std::isspace(static_cast<unsigned char>(inner[7])) && !Trim(inner.substr(8)).empty()) {
        section = Lower(Trim(inner.substr(8)));
        sections[section];
      } else {
        error("bad section \"" + line + "\"");
        section = "\x01";  // keys below it are skipped
      }
      continue;
    }
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) {
      error("no \"=\" in \"" + line + "\"");
      continue;
    }
    std::string key = Lower(Trim(line.substr(0, eq)));
    std::string value = Trim(line.substr(eq + 1));
    if (section == "\x01") continue;
    Target probe;
    if (!Set(&probe, key, value)) {
      error("bad setting \"" + line + "\"");
      continue;
    }
    if (section.empty()) Set(&config.defaults, key, value);
    else sections[section].emplace_back(key, value);
  }
  for (auto& [name, settings] : sections) {
    Target t = config.defaults;
    for (auto& [key, value] : settings) Set(&t, key, value);
    config.machines[name] = t;
  }
  return config;
}

Target TargetFor(const Config& config, const std::string& machine) {
  auto it = config.machines.find(Lower(machine));
  Target t = it != config.machines.end() ? it->second : config.defaults;
  auto env = [](const char* name) -> const char* {
    const char* v = std::getenv(name);
    return v && *v ? v : nullptr;
  };
  if (const char* v = env("FANROW_SSH_HOST")) t.host = v;
  if (const char* v = env("FANROW_SSH_PORT")) ParseInt(v, 1, 65535, &t.port);
  if (const char* v = env("FANROW_SSH_USER")) t.user = v;
  if (const char* v = env("FANROW_SSH_KEY")) t.identity = v;
  if (const char* v = env("FANROW_SSH_KNOWN_HOSTS")) t.knownHosts = v;
  if (const char* v = env("FANROW_REMOTE_DIR"); v && v[0] == '/') t.remoteDir = v;
  if (t.host.empty()) t.host = machine;
  return t;
}

}  // namespace fanrow
