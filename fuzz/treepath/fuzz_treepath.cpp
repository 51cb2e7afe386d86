// Parses any text as a tree path and checks that joining the element texts
// and splitting them again gives them back. Texts that begin or end with
// "/" are left out of that check: next to a separator their slashes are
// read in pairs from the left, which the grammar cannot tell apart.
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
    if (step.kind == NorvTreePathStep::kChild && !step.text.empty() && step.text.front() != L'/' &&
        step.text.back() != L'/')
      texts.push_back(step.text);
  if (SplitTreePath(JoinTreePath(texts)) != texts) std::abort();
  return 0;
}
