// File operations pending until the next restart, kept as Windows keeps
// them: the REG_MULTI_SZ value "PendingFileRenameOperations" of
// HKEY_LOCAL_MACHINE "SYSTEM\CurrentControlSet\Control\Session Manager",
// pairs of strings "\??\<source>" and "\??\<target>" (an empty target
// deletes the source; a target starting with "!" may replace a file).
// norv-pending-deletes carries them out at boot or log-in.
#pragma once
#include <string>
#include <vector>

namespace zel {

struct PendingOperation {
  std::string source;  // without the "\??\" prefix
  std::string target;  // empty: delete the source
  bool replace = false;
};

// Records that path is to be deleted at the next restart
// (MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT and no new name).
bool ScheduleDeleteAtRestart(const std::string& path);

// The recorded operations in order; false when the value cannot be read
// (an absent value is an empty list).
bool ReadPendingOperations(std::vector<PendingOperation>* operations);

// Carries out every recorded operation and clears the record. Failures are
// described in *failures (one line each); returns the number of failures,
// or -1 when the record cannot be read or cleared.
int RunPendingOperations(std::vector<std::string>* failures);

// The value's raw strings and back (exposed for tests).
std::vector<std::string> ParseMultiString(const std::u16string& data);
std::u16string BuildMultiString(const std::vector<std::string>& strings);

}  // namespace zel
