// Shared parts of the System plugin's tests.
#pragma once
#include <vector>

#include "norv/norvtypes.h"

namespace system_test {

// Message boxes shown since the test began.
std::vector<NorvString>& Messages();

}  // namespace system_test
