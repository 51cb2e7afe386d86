// Outside text that delivery handles: the deployment tool's settings file
// and the subject and body an administrator types, which go into mail
// headers and a quoted-printable body. The parser must not fail on any
// input and keep every value in range; the encoders must never let a bare
// line end or an overlong line into the message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fanrow_config.h"
#include "mime.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckTarget(const fanrow::Target& t) {
  Check(t.port >= 1 && t.port <= 65535);
  Check(!t.remoteDir.empty() && t.remoteDir[0] == '/');
  Check(!t.setup.empty());
  Check(t.connectTimeout >= 1 && t.setupTimeout >= 1);
}

// Every line ends with CRLF, holds at most 76 characters and only printable
// ASCII or tabs (a tab is kept inside a quoted-printable line).
void CheckLines(const std::string& text, bool allowFolding) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    Check(end != std::string::npos || allowFolding);
    if (end == std::string::npos) end = text.size();
    if (!allowFolding) Check(end - start <= 76);
    for (std::size_t i = start; i < end; ++i) {
      unsigned char c = static_cast<unsigned char>(text[i]);
      Check(c != '\r' && c != '\n');
      if (!allowFolding) Check(c == '\t' || (c >= 32 && c < 127));
    }
    start = end + 2;
    if (allowFolding && start < text.size()) Check(text[start] == ' ');
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string errors;
  fanrow::Config config = fanrow::ParseConfig(input, &errors);
  CheckTarget(config.defaults);
  for (const auto& [name, target] : config.machines) {
    CheckTarget(target);
    Check(fanrow::TargetFor(config, name).port == target.port || std::getenv("FANROW_SSH_PORT"));
  }

  std::string qp = qvmapi::QuotedPrintable(input);
  CheckLines(qp, false);
  std::string header = qvmapi::EncodeHeaderText(input);
  CheckLines(header, true);
  qvmapi::IsPlainAddress(input);
  return 0;
}
