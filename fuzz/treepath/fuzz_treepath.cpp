// Parses any text as a tree path and checks that joining the element texts
// and splitting them again gives them back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "norv/NorvTreePath.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  NorvString path;
  path.reserve(size);
  for (std::size_t i = 0; i < size; ++i) path.push_back(static_cast<wchar_t>(data[i]));
  const std::vector<NorvTreePathStep> steps = ParseTreePath(path);
  std::vector<NorvString> texts;
  for (const NorvTreePathStep& step : steps)
    if (step.kind == NorvTreePathStep::kChild && !step.text.empty()) texts.push_back(step.text);
  if (SplitTreePath(JoinTreePath(texts)) != texts) std::abort();
  return 0;
}
