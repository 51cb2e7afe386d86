// The host program's texts (the numbered strings and menus of its resource
// module) in the language of the run.
#pragma once
#include "norv/norvtypes.h"

// Loads "libnorvhost_<lang>.so" from the program's folder for the first
// three letters of `locale` (English when that module is missing) and makes
// it the host's resource module. FALSE when neither exists.
NORV_API BOOL NorvLoadHostResources(const NorvString& locale);
