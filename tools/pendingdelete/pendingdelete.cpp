// norv-pending-deletes: carries out the deletions and moves recorded for
// the next restart (PendingFileRenameOperations) and clears the record.
//   norv-pending-deletes [--machine | --user] [--list]
// --machine takes the machine record (root's, run at boot), --user the
// record in the running user's own hive (run at log-in). Without either,
// root takes both and any other user the own record. --list only shows the
// operations. Exit status: 0 when all went well, 1 when one failed, 2 when a
// record cannot be read or cleared (or the command line is wrong).
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pending_ops.h"

namespace {

const char* Name(zel::PendingRecord record) {
  return record == zel::PendingRecord::kMachine ? "machine" : "user";
}

int List(zel::PendingRecord record) {
  std::vector<zel::PendingOperation> operations;
  if (!zel::ReadPendingOperations(record, &operations)) {
    std::fprintf(stderr, "norv-pending-deletes: the %s record cannot be read\n", Name(record));
    return 2;
  }
  for (const auto& op : operations) {
    if (op.target.empty())
      std::printf("delete %s\n", op.source.c_str());
    else
      std::printf("move %s -> %s%s\n", op.source.c_str(), op.target.c_str(),
                  op.replace ? " (replace)" : "");
  }
  return 0;
}

int Run(zel::PendingRecord record) {
  std::vector<std::string> failures;
  int failed = zel::RunPendingOperations(record, &failures);
  if (failed < 0) {
    std::fprintf(stderr, "norv-pending-deletes: the %s record cannot be read or cleared\n",
                 Name(record));
    return 2;
  }
  for (const std::string& line : failures)
    std::fprintf(stderr, "norv-pending-deletes: %s\n", line.c_str());
  return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool listOnly = false, machine = false, user = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--list") == 0 && !listOnly) {
      listOnly = true;
    } else if (std::strcmp(argv[i], "--machine") == 0 && !machine && !user) {
      machine = true;
    } else if (std::strcmp(argv[i], "--user") == 0 && !machine && !user) {
      user = true;
    } else {
      std::fprintf(stderr, "usage: norv-pending-deletes [--machine | --user] [--list]\n");
      return 2;
    }
  }
  std::vector<zel::PendingRecord> records;
  if (machine || (!user && geteuid() == 0)) records.push_back(zel::PendingRecord::kMachine);
  if (user || !machine) records.push_back(zel::PendingRecord::kUser);
  int status = 0;
  for (zel::PendingRecord record : records) {
    int result = listOnly ? List(record) : Run(record);
    if (result > status) status = result;
  }
  return status;
}
