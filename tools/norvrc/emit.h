// Writes the C++ source of a resource library: the data of every resource
// in one byte array and the exported table "norv_resource_table" over it.
#pragma once
#include <string>

#include "parser.h"

namespace norvrc {

// False when the resources do not fit the table's 32-bit offsets.
bool EmitTable(const Script& script, const std::string& scriptName, std::string* source,
               std::string* error);

}  // namespace norvrc
