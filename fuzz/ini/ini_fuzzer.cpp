// Profile files come from other machines inside packages: the parser must
// keep any input byte for byte and answer every lookup without failing, and
// edits must keep the document parseable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/profile.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  plat::ProfileDocument doc = plat::ProfileDocument::Parse(input);
  Check(doc.Serialize() == input);

  std::string value;
  for (const std::string& section : doc.SectionNames()) {
    for (const std::string& key : doc.Keys(section)) Check(doc.Get(section, key, &value));
    doc.Entries(section);
  }
  doc.Get("", "", &value);
  doc.Keys("");

  // Edits named from the input itself.
  std::string name = input.substr(0, input.size() % 13);
  std::string key = input.substr(input.size() / 2, 5);
  doc.Set(name, key, "v");
  if (plat::ProfileDocument::IsValidSectionName(name) && plat::ProfileDocument::IsValidKey(key)) {
    Check(doc.Get(name, key, &value) && value == "v");
  }
  doc.Set("Fuzz", "key", name);
  std::string edited = doc.Serialize();
  plat::ProfileDocument again = plat::ProfileDocument::Parse(edited);
  Check(again.Serialize() == edited);
  Check(again.SectionNames().size() == doc.SectionNames().size());
  doc.RemoveKey(name, key);
  doc.RemoveSection("Fuzz");
  doc.ReplaceSection(key, {{"a", "1"}, {name, key}});
  Check(plat::ProfileDocument::Parse(doc.Serialize()).Serialize() == doc.Serialize());
  return 0;
}
