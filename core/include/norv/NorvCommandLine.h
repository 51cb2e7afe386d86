// The explorer host's command line: parses the program's arguments into a
// CNorvCommandLineInfo.
//
//   class:<text>  id:<text>  locale:<text>  param:<text>  registrykey:<text>
//   traceEnabled:<n>  traceLevel:<n>  traceLocation:<folder>
//   traceFileSize:<n>  traceKeepFiles:<n>
//   plugin:<name>                     (repeatable)
//   loadplugin:<name;PluginDLL;ResourceDLL;HelpFile;MessageHelpFile>
//                                     (repeatable)
//   -nosplash  -notips  -quiet
//   <start path>                      (the one argument without an option;
//                                     "Disk:1/x" is a path, since "disk:" is
//                                     no option, but a lone "Disk:1" reads
//                                     as an unknown option: write "./Disk:1")
//
// Option names are case-insensitive. An argument may be enclosed in double
// quotes, as a new explorer window receives its arguments: the quotes are
// removed with the Windows rules (\" is a literal quote, backslashes count
// only in front of a quote), so a quoted value stays one argument with its
// spaces and quotes. Numbers are decimal, or hexadecimal after "0x".
// Anything else (an unknown option, a bad number, a second start path, an
// option given twice that is not repeatable) is an error and the record
// is left as it was.
#pragma once
#include <vector>

#include "norv/NorvCommandLineInfo.h"
#include "norv/norvtypes.h"

class NORV_API CNorvCommandLineParser {
 public:
  // Parses argv[1] .. argv[argc - 1] (argv[0] is the program). On error
  // returns FALSE with a message in *error (when given).
  static BOOL Parse(int argc, const char* const* argv, CNorvCommandLineInfo& info,
                    NorvString* error = nullptr);
  // The same for arguments without the program name.
  static BOOL Parse(const std::vector<NorvString>& args, CNorvCommandLineInfo& info,
                    NorvString* error = nullptr);

  // Removes the double quotes of one argument (see above). An argument
  // without a double quote is returned unchanged.
  static NorvString Unquote(const NorvString& argument);
  // Splits a whole command line into arguments with the same rules
  // (whitespace outside quotes separates them).
  static std::vector<NorvString> SplitCommandLine(const NorvString& commandLine);
  // Encloses `value` in double quotes so that Unquote/SplitCommandLine give
  // it back unchanged.
  static NorvString Quote(const NorvString& value);
};
