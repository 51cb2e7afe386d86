// The host's numbers in one include: string resources (NorvHostStrings.h)
// and menu, toolbar and status bar commands (NorvHostCommands.h).
#pragma once
#include "norv/NorvHostCommands.h"
#include "norv/NorvHostStrings.h"
