// Response files as NorvSetup.exe reads them: any bytes are either refused
// with a reason or give answers that fit a path buffer; and every folder the
// library may write comes back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "response_file.h"
#include "setup_keys.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  norvsetup::ResponseAnswers answers;
  std::string error;
  if (norvsetup::ParseResponse(text, &answers, &error)) {
    if (answers.destination.empty() || answers.destination.size() > norvsetup::kMaxText ||
        answers.sharedFolder.size() > norvsetup::kMaxText) {
      std::abort();
    }
  } else if (error.empty()) {
    std::abort();
  }

  if (!text.empty() && text.front() != '"' && text.back() != '"' &&
      norvsetup::FitsResponseLine(text)) {
    for (bool first : {false, true}) {
      if (!norvsetup::ParseResponse(norvsetup::InstallResponseText(text, true, first), &answers,
                                    &error) ||
          answers.destination != text || answers.sharedFolder != text || answers.replace != first) {
        std::abort();
      }
    }
    if (!norvsetup::ParseResponse(norvsetup::ImageCopyResponseText(text), &answers, &error) ||
        answers.destination != text || !answers.replace) {
      std::abort();
    }
  }
  return 0;
}
