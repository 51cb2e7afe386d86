// Turns a resource script into resources: a type, an id and the bytes that
// docs/resources.md describes for that type.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace norvrc {

// The numbers of plat::ResourceType.
enum ResourceTypeId : std::uint32_t {
  kMenu = 4,
  kString = 6,
  kAccelerator = 9,
  kHtml = 23,
  kToolbar = 241,
  kImage = 2110,
};

struct Resource {
  std::uint32_t type = 0;
  std::uint32_t id = 0;
  std::vector<std::uint8_t> data;
};

struct Script {
  std::vector<Resource> resources;  // sorted by type, then id
  std::vector<std::string> files;   // files the script pulls in
};

// The id of a resource given by name: FNV-1a (32 bits) over the name's
// UTF-8 bytes with ASCII letters in upper case, the top bit set (numbered
// resources stay below 2^31 by convention).
std::uint32_t ResourceNameId(const std::string& name);

// `folder` resolves relative file names. False with "line:column: message"
// in *error.
bool ParseScript(const std::string& source, const std::string& folder, Script* script,
                 std::string* error);

}  // namespace norvrc
