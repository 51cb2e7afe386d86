// Text values read the way the installer side reads them: through a fixed
// buffer, never cut.
#pragma once
#include <cstddef>
#include <string>

#include "platform/registry.h"

namespace plat {

// A text value (REG_SZ or REG_EXPAND_SZ) read through a buffer of
// `bufferSize` bytes whose last byte always stays zero. FALSE when the key or the value is missing, the value
// is no text or it does not fit (it is never cut); *keyFound (optional)
// tells a missing key from the other cases.
BOOL RegReadTextA(HKEY root, const char* subKey, const char* valueName, std::size_t bufferSize,
                  std::string* value, bool* keyFound = nullptr);

}  // namespace plat
