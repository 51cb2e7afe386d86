// Settings of the deployment tool stand-in: how it reaches a target machine
// over OpenSSH and what it runs there.
#pragma once
#include <map>
#include <string>
#include <string_view>

namespace fanrow {

struct Target {
  std::string host;           // empty: the machine name itself
  int port = 22;
  std::string user;           // empty: ssh's default
  std::string identity;       // private key file; empty: ssh's default
  std::string knownHosts;     // empty: ssh's default
  std::string hostKeyCheck = "accept-new";  // StrictHostKeyChecking
  std::string remoteDir = "/var/tmp/fanrow";  // packages and the installed mark on the target
  std::string setup = "./OrbCSetup.exe -silent";  // run in the user folder on the target
  int connectTimeout = 10;    // seconds
  int setupTimeout = 1800;    // seconds
};

// The file: "key = value" lines, "#" comments, and "[machine NAME]" sections
// whose keys apply to that machine only (names compare without regard to
// case). Unknown keys and malformed lines are reported in *errors (one per
// line, "line N: ...") and skipped.
struct Config {
  Target defaults;
  std::map<std::string, Target> machines;  // lower-case machine name
};
Config ParseConfig(std::string_view text, std::string* errors);

// The settings for one machine: the file's defaults, its section, then the
// environment (FANROW_SSH_HOST, FANROW_SSH_PORT, FANROW_SSH_USER,
// FANROW_SSH_KEY, FANROW_SSH_KNOWN_HOSTS, FANROW_REMOTE_DIR).
Target TargetFor(const Config& config, const std::string& machine);

}  // namespace fanrow
