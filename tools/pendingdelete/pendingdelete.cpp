// norv-pending-deletes: carries out the deletions and moves recorded for
// the next restart (PendingFileRenameOperations) and clears the record.
//   norv-pending-deletes          carry them out
//   norv-pending-deletes --list   only show them
// Exit status: 0 when all went well, 1 when one failed, 2 when the record
// cannot be read or cleared.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pending_ops.h"

int main(int argc, char** argv) {
  bool listOnly = argc == 2 && std::strcmp(argv[1], "--list") == 0;
  if (argc > 2 || (argc == 2 && !listOnly)) {
    std::fprintf(stderr, "usage: norv-pending-deletes [--list]\n");
    return 2;
  }
  if (listOnly) {
    std::vector<zel::PendingOperation> operations;
    if (!zel::ReadPendingOperations(&operations)) {
      std::fprintf(stderr, "norv-pending-deletes: the record cannot be read\n");
      return 2;
    }
    for (const auto& op : operations) {
      if (op.target.empty())
        std::printf("delete %s\n", op.source.c_str());
      else
        std::printf("move %s -> %s%s\n", op.source.c_str(), op.target.c_str(), op.replace ? " (replace)" : "");
    }
    return 0;
  }
  std::vector<std::string> failures;
  int failed = zel::RunPendingOperations(&failures);
  if (failed < 0) {
    std::fprintf(stderr, "norv-pending-deletes: the record cannot be read or cleared\n");
    return 2;
  }
  for (const std::string& line : failures) std::fprintf(stderr, "norv-pending-deletes: %s\n", line.c_str());
  return failed ? 1 : 0;
}
