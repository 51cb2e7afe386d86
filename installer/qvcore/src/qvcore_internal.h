// Shared between the parts of the core library.
#pragma once
#include <string>

#include "platform/registry.h"

namespace qvcore {

// A string value (REG_SZ or REG_EXPAND_SZ) of a registry key; false when absent.
bool ReadRegistryString(plat::HKEY root, const char* keyName, const char* valueName,
                        std::string* value);

}  // namespace qvcore
