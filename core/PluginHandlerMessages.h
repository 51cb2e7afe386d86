// The application's numbered messages that the plugin host and the
// document show. The texts come from the host's string resources; a text
// that is missing there, or whose placeholders do not fit the values the
// message is formatted with, is replaced by the built-in English one, so a
// bad translation can never make the formatting read the wrong arguments.
#pragma once
#include <cstdarg>

#include "norv/norvtypes.h"

namespace norvhost {

// The message's text formatted with the arguments. Strings are passed as
// const wchar_t*, numbers as int or unsigned, in the order of the table in
// PluginHandlerMessages.cpp.
NorvString MessageText(UINT id, ...);
// Shows MessageText in the application's message box; returns the button.
int ShowMessage(UINT id, ...);

// The plain text of a string without placeholders (7026, 7027, 7035,
// 7050): from `module` (null = the host's resources), else built in.
NorvString StringText(UINT id, HMODULE module = nullptr);

// Whether `format` uses only the conversions of `signature` ('s' = wide
// string, 'd' = whole number), in that order; fewer conversions are fine.
bool FormatFits(const NorvString& format, const char* signature);

// The built-in text of a message (empty for an unknown id).
NorvString DefaultText(UINT id);

}  // namespace norvhost
