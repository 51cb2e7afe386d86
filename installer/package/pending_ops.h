// File operations pending until the next restart, kept as Windows keeps
// them: the REG_MULTI_SZ value "PendingFileRenameOperations" of the key
// "SYSTEM\CurrentControlSet\Control\Session Manager", pairs of strings
// "\??\<source>" and "\??\<target>" (an empty target deletes the source; a
// target starting with "!" may replace a file).
//
// There are two records of that form. The machine record in
// HKEY_LOCAL_MACHINE is root's, carried out at boot; an ordinary user cannot
// write the machine hive, so a user's operations go to the same key in the
// user's own hive (HKEY_CURRENT_USER), carried out when the user logs in.
// norv-pending-deletes carries out either (docs/package-format.md).
#pragma once
#include <string>
#include <vector>

namespace zel {

enum class PendingRecord {
  kMachine,  // HKEY_LOCAL_MACHINE
  kUser,     // HKEY_CURRENT_USER
};

// The record of the running process: the machine record for root, else the
// user's own.
PendingRecord OwnPendingRecord();

struct PendingOperation {
  std::string source;  // without the "\??\" prefix
  std::string target;  // empty: delete the source
  bool replace = false;
};

// Records that path is to be deleted at the next restart (MoveFileEx with
// MOVEFILE_DELAY_UNTIL_REBOOT and no new name), adding to the record in one
// registry transaction so that processes recording at once lose no entry.
bool ScheduleDeleteAtRestart(const std::string& path);
bool ScheduleDeleteAtRestart(const std::string& path, PendingRecord record);

// The recorded operations in order; false when the value cannot be read
// (an absent value is an empty list).
bool ReadPendingOperations(PendingRecord record, std::vector<PendingOperation>* operations);

// Takes the recorded operations and clears the record in one transaction
// (operations recorded meanwhile wait for the next run), then carries them
// out. Failures are described in *failures (one line each); returns the
// number of failures, or -1 when the record cannot be read or cleared, in
// which case nothing is carried out.
int RunPendingOperations(PendingRecord record, std::vector<std::string>* failures);

// The value's raw strings and back (exposed for tests).
std::vector<std::string> ParseMultiString(const std::u16string& data);
std::u16string BuildMultiString(const std::vector<std::string>& strings);

}  // namespace zel
