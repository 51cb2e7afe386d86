// The e-mail file of a send job is written by administrators and other
// programs: every byte sequence must read as lines without loss, and every
// accepted user must fit the server's records and carry no control bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "email_file.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool Clean(const std::string& text) {
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return false;
  }
  return true;
}

bool Trimmed(const std::string& text) {
  return text.empty() || (text.front() != ' ' && text.front() != '\t' && text.back() != ' ' &&
                          text.back() != '\t');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string content(reinterpret_cast<const char*>(data), size);
  std::FILE* file = fmemopen(content.empty() ? nullptr : content.data(), content.size(), "rb");
  if (!file) return 0;
  std::string line;
  std::size_t bytes = 0, total = 0;
  bool tooLong = false;
  while (zel::ReadEmailLine(file, &line, &bytes, &tooLong)) {
    Check(bytes > 0);
    total += bytes;
    Check(line.find('\n') == std::string::npos);
    Check(tooLong || line.size() <= zel::kEmailLineMax);
    if (tooLong) continue;
    zel::EmailUser user;
    if (zel::ParseEmailLine(line, &user) != zel::EmailLineResult::Ok) continue;
    Check(!user.userName.empty());
    Check(user.address.size() < zel::kEmailAddressMax && user.userName.size() < zel::kUserNameMax &&
          user.systemName.size() < zel::kSystemNameMax && user.loginName.size() < zel::kLoginNameMax);
    for (const std::string* field : {&user.address, &user.userName, &user.systemName, &user.loginName})
      Check(Clean(*field) && Trimmed(*field));
  }
  std::fclose(file);
  Check(total == content.size());
  return 0;
}
