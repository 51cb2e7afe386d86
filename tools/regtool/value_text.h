// Registry values as regtool shows and accepts them on the command line:
// type names and data in the notation of reg.exe.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace regtool {

std::string TypeName(plat::DWORD type);
// REG_SZ and the other names (case-insensitive), or a number such as 0x20001.
std::optional<plat::DWORD> ParseTypeName(const std::string& name);

// The data as query shows them.
std::string DisplayData(const plat::RegValue& value);

// Turns the /d text into the bytes of a value of `type`; `separator`
// splits REG_MULTI_SZ items ("\0" by default). On bad text returns false
// with an explanation in *error.
bool ParseData(plat::DWORD type, const std::string& text, const std::string& separator,
               std::vector<plat::BYTE>* data, std::string* error);

}  // namespace regtool
