#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/reg_file.h"
#include "platform/registry.h"

using namespace plat;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A scratch registry, so that applying inputs touches nothing real.
  static char dir[] = "/tmp/norv-reg-fuzz-XXXXXX";
  if (!mkdtemp(dir)) std::abort();
  setenv("NORV_REGISTRY_DIR", dir, 1);
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  });
  return 0;
}

namespace {

void ClearRoot(HKEY root) {
  std::vector<std::string> names;
  RegListSubKeys(root, &names);
  for (const std::string& name : names) SHDeleteKeyA(root, name.c_str());
  std::vector<RegValue> values;
  RegListValues(root, &values);
  for (const RegValue& v : values) RegDeleteValueA(root, v.name.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<RegFileOperation> ops;
  std::string error;
  if (!ParseRegFile(input, &ops, &error)) {
    // Every refusal names its line.
    if (error.rfind("line ", 0) != 0 || !ops.empty()) std::abort();
    return 0;
  }
  // Whatever was read must be written back to a line that reads the same.
  for (const RegFileOperation& op : ops) {
    if (op.kind != RegFileOperation::Kind::kSetValue) continue;
    std::string text = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\k]\n" + FormatRegValue(op.value) + "\n";
    std::vector<RegFileOperation> again;
    if (!ParseRegFile(text, &again, &error) || again.size() != 2 || again[1].value.name != op.value.name ||
        again[1].value.type != op.value.type || again[1].value.data != op.value.data) {
      std::fprintf(stderr, "value line does not read back: %s\n", text.c_str());
      std::abort();
    }
  }
  if (ops.size() <= 16) {
    ImportRegText(input, &error);
    ClearRoot(HKEY_CURRENT_USER);
    ClearRoot(HKEY_LOCAL_MACHINE);
  }
  return 0;
}
