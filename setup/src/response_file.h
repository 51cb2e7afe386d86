// The installer's response files: written by the setup library, read by
// NorvSetup.exe. Text, one item per line; a section name in brackets is
// followed by its answer.
#pragma once
#include <string>

namespace norvsetup {

// The answers an installer takes from a response file.
struct ResponseAnswers {
  std::string destination;   // of "[destination_path]", after the comma, unquoted
  bool replace = true;       // "[always_replace_file]": "Yes" or "No"
  std::string sharedFolder;  // "[vmapps_path]", unquoted
};

// A folder can go into a response line: no line break, and the line with
// it fits a path buffer.
bool FitsResponseLine(const std::string& folder);

// For installing the framework into `folder` (the shared-applications
// folder); `windowsNT` chooses the product family number; `firstPlugin`
// lets the installer replace existing files.
std::string InstallResponseText(const std::string& folder, bool windowsNT, bool firstPlugin);
// For copying the installation image to `destination`.
std::string ImageCopyResponseText(const std::string& destination);

// Reads a response file's text (line ends "\n" or "\r\n"). False, with the
// reason, for a line longer than a path buffer, a malformed answer, or no
// destination.
bool ParseResponse(const std::string& text, ResponseAnswers* answers, std::string* error);

}  // namespace norvsetup
