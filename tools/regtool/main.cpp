// regtool: the registry from the command line, after reg.exe.
//
//   regtool query KEY [/v NAME | /ve] [/s]
//   regtool add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
//   regtool delete KEY [/v NAME | /ve | /va] [/f]
//   regtool export KEY FILE [/y]
//   regtool import FILE
//
// Exit status: 0 on success, 1 when the operation failed or was cancelled,
// 2 for a malformed command line.
#include <sys/stat.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/reg_file.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "value_text.h"

using namespace plat;

namespace {

constexpr int kFailed = 1;
constexpr int kBadSyntax = 2;

const char kUsage[] =
    "Usage:\n"
    "  regtool query KEY [/v NAME | /ve] [/s]\n"
    "      Lists the values and subkeys of KEY; /v and /ve show one value, /s\n"
    "      goes through every key below (with /v: finds that value in them).\n"
    "  regtool add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
    "      Creates KEY and, with /v or /ve, sets a value (type REG_SZ unless /t\n"
    "      says otherwise). /f overwrites an existing value without asking.\n"
    "  regtool delete KEY [/v NAME | /ve | /va] [/f]\n"
    "      Deletes KEY with everything below it, or one value (/v, /ve), or all\n"
    "      its values (/va). /f deletes without asking.\n"
    "  regtool export KEY FILE [/y]\n"
    "      Writes KEY and everything below it to a .reg file; /y overwrites.\n"
    "  regtool import FILE\n"
    "      Applies a .reg file (\"Windows Registry Editor Version 5.00\").\n"
    "\n"
    "KEY is ROOT\\SUBKEY with ROOT one of HKLM, HKCU, HKU or HKEY_LOCAL_MACHINE,\n"
    "HKEY_CURRENT_USER, HKEY_USERS. TYPE is REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ,\n"
    "REG_DWORD, REG_QWORD, REG_BINARY, REG_NONE (or another REG_ name, or 0xN).\n"
    "DWORD and QWORD data are decimal or 0x-hexadecimal, binary data hex digits,\n"
    "REG_MULTI_SZ items are separated by \\0 unless /s names another separator.\n"
    "When NORV_REGISTRY_DIR is set, every hive lives in that folder.\n";

struct KeyCloser {
  void operator()(RegKeyObject* key) const { RegCloseKey(key); }
};
using Key = std::unique_ptr<RegKeyObject, KeyCloser>;

int SyntaxError(const std::string& why) {
  std::cerr << "ERROR: Invalid syntax. " << why << "\nType \"regtool --help\" for usage.\n";
  return kBadSyntax;
}

int Failure(const std::string& why) {
  std::cerr << "ERROR: " << why << "\n";
  return kFailed;
}

int NotFound() { return Failure("The system was unable to find the specified registry key or value."); }

int RegistryFailure(LONG rc) {
  if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_KEY_DELETED) return NotFound();
  if (rc == ERROR_ACCESS_DENIED) return Failure("Access is denied.");
  std::string text = RegistryErrorText(rc);
  text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  return Failure(text + ".");
}

bool Confirm(const std::string& question) {
  std::cout << question << " (Yes/No)? " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) {
    std::cout << "\n";
    return false;
  }
  return EqualsNoCase(answer, "y") || EqualsNoCase(answer, "yes");
}

int Cancelled() {
  std::cout << "The operation was cancelled.\n";
  return kFailed;
}

int Done() {
  std::cout << "The operation completed successfully.\n";
  return 0;
}

// The switches after the positional arguments. Each switch may be written
// with / or -, in any case.
struct Switches {
  std::map<std::string, std::string> values;  // switch -> its argument ("" for flags)
  bool Has(const std::string& name) const { return values.count(name) != 0; }
  std::string Get(const std::string& name) const {
    auto it = values.find(name);
    return it == values.end() ? std::string() : it->second;
  }
};

bool IsSwitch(const std::string& arg) { return arg.size() >= 2 && (arg[0] == '/' || arg[0] == '-'); }

// Splits arguments into `positional` and the allowed switches; `withValue`
// switches take the next argument.
bool ParseArguments(const std::vector<std::string>& args, size_t positional,
                    const std::vector<std::string>& flags, const std::vector<std::string>& withValue,
                    std::vector<std::string>* fixed, Switches* switches, std::string* error) {
  size_t i = 0;
  // Positional arguments come first and are taken as they are: a file
  // name may well begin with a slash.
  for (; i < args.size() && fixed->size() < positional; ++i) fixed->push_back(args[i]);
  if (fixed->size() < positional) {
    *error = "Missing arguments.";
    return false;
  }
  for (; i < args.size(); ++i) {
    if (!IsSwitch(args[i])) {
      *error = "Unexpected argument \"" + args[i] + "\".";
      return false;
    }
    std::string name = FoldCase(args[i].substr(1));
    bool known = false;
    for (const std::string& f : flags)
      if (FoldCase(f) == name) known = true;
    bool takesValue = false;
    for (const std::string& w : withValue)
      if (FoldCase(w) == name) takesValue = known = true;
    if (!known) {
      *error = "Unknown switch \"" + args[i] + "\".";
      return false;
    }
    if (switches->Has(name)) {
      *error = "Switch \"" + args[i] + "\" given twice.";
      return false;
    }
    if (takesValue) {
      if (i + 1 >= args.size()) {
        *error = "Switch \"" + args[i] + "\" needs a value.";
        return false;
      }
      switches->values[name] = args[++i];
    } else {
      switches->values[name] = "";
    }
  }
  return true;
}

struct KeyName {
  HKEY root = nullptr;
  std::string sub;
  std::string full;  // as shown: long root name, backslashes
};

bool ParseKey(const std::string& text, KeyName* key, std::string* error) {
  if (!SplitRegistryPath(text, &key->root, &key->sub)) {
    *error = "Invalid key name \"" + text + "\": it must begin with HKLM, HKCU, HKU, HKEY_LOCAL_MACHINE, "
             "HKEY_CURRENT_USER or HKEY_USERS.";
    return false;
  }
  while (!key->sub.empty() && key->sub.back() == '\\') key->sub.pop_back();
  key->full = RegistryRootName(key->root) + (key->sub.empty() ? "" : "\\" + key->sub);
  return true;
}

std::string ShownName(const std::string& name) { return name.empty() ? "(Default)" : name; }

void PrintValue(const RegValue& v) {
  std::cout << "    " << ShownName(v.name) << "    " << regtool::TypeName(v.type) << "    "
            << regtool::DisplayData(v) << "\n";
}

// /s: every key below with its values (or only the value named by /v).
LONG QueryTree(HKEY key, const std::string& path, const std::string* onlyValue, size_t* matches) {
  std::vector<RegValue> values;
  LONG rc = RegListValues(key, &values);
  if (rc != ERROR_SUCCESS) return rc;
  bool printedKey = false;
  for (const RegValue& v : values) {
    if (onlyValue && !EqualsNoCase(v.name, *onlyValue)) continue;
    if (!printedKey) std::cout << path << "\n";
    printedKey = true;
    PrintValue(v);
    ++*matches;
  }
  if (!onlyValue) {
    if (!printedKey) std::cout << path << "\n";
    printedKey = true;
  }
  if (printedKey) std::cout << "\n";
  std::vector<std::string> children;
  if ((rc = RegListSubKeys(key, &children)) != ERROR_SUCCESS) return rc;
  for (const std::string& child : children) {
    HKEY sub = nullptr;
    rc = RegOpenKeyExA(key, child.c_str(), 0, KEY_READ, &sub);
    if (rc == ERROR_FILE_NOT_FOUND) continue;
    if (rc != ERROR_SUCCESS) return rc;
    Key hold(sub);
    if ((rc = QueryTree(sub, path + "\\" + child, onlyValue, matches)) != ERROR_SUCCESS) return rc;
  }
  return ERROR_SUCCESS;
}

int Query(const std::vector<std::string>& args) {
  std::vector<std::string> fixed;
  Switches sw;
  std::string error;
  KeyName name;
  if (!ParseArguments(args, 1, {"ve", "s"}, {"v"}, &fixed, &sw, &error)) return SyntaxError(error);
  if (sw.Has("V") && sw.Has("VE")) return SyntaxError("/v and /ve exclude each other.");
  if (!ParseKey(fixed[0], &name, &error)) return SyntaxError(error);
  HKEY raw = nullptr;
  LONG rc = RegOpenKeyExA(name.root, name.sub.c_str(), 0, KEY_READ, &raw);
  if (rc != ERROR_SUCCESS) return RegistryFailure(rc);
  Key key(raw);

  bool oneValue = sw.Has("V") || sw.Has("VE");
  std::string valueName = sw.Get("V");
  std::cout << "\n";
  if (sw.Has("S")) {
    size_t matches = 0;
    rc = QueryTree(key.get(), name.full, oneValue ? &valueName : nullptr, &matches);
    if (rc != ERROR_SUCCESS) return RegistryFailure(rc);
    if (oneValue) {
      std::cout << "End of search: " << matches << " match(es) found.\n";
      if (matches == 0) return kFailed;
    }
    return 0;
  }
  if (oneValue) {
    RegValue v;
    rc = RegReadValue(key.get(), valueName, &v);
    if (rc == ERROR_FILE_NOT_FOUND && sw.Has("VE")) {
      std::cout << name.full << "\n    (Default)    REG_SZ    (value not set)\n\n";
      return 0;
    }
    if (rc != ERROR_SUCCESS) return RegistryFailure(rc);
    std::cout << name.full << "\n";
    PrintValue(v);
    std::cout << "\n";
    return 0;
  }
  std::vector<RegValue> values;
  std::vector<std::string> children;
  if ((rc = RegListValues(key.get(), &values)) != ERROR_SUCCESS) return RegistryFailure(rc);
  if ((rc = RegListSubKeys(key.get(), &children)) != ERROR_SUCCESS) return RegistryFailure(rc);
  std::cout << name.full << "\n";
  for (const RegValue& v : values) PrintValue(v);
  std::cout << "\n";
  for (const std::string& child : children) std::cout << name.full << "\\" << child << "\n";
  return 0;
}

int Add(const std::vector<std::string>& args) {
  std::vector<std::string> fixed;
  Switches sw;
  std::string error;
  KeyName name;
  if (!ParseArguments(args, 1, {"ve", "f"}, {"v", "t", "s", "d"}, &fixed, &sw, &error)) return SyntaxError(error);
  if (sw.Has("V") && sw.Has("VE")) return SyntaxError("/v and /ve exclude each other.");
  if (!ParseKey(fixed[0], &name, &error)) return SyntaxError(error);
  bool setsValue = sw.Has("V") || sw.Has("VE");
  if (!setsValue && (sw.Has("T") || sw.Has("D") || sw.Has("S")))
    return SyntaxError("/t, /s and /d need /v or /ve.");

  RegValue value;
  value.name = sw.Get("V");
  value.type = REG_SZ;
  if (sw.Has("T")) {
    auto type = regtool::ParseTypeName(sw.Get("T"));
    if (!type) return SyntaxError("Unknown type \"" + sw.Get("T") + "\".");
    value.type = *type;
  }
  std::string separator = sw.Has("S") ? sw.Get("S") : std::string("\\0");
  if (separator.empty()) return SyntaxError("The separator of /s cannot be empty.");
  if (setsValue && !regtool::ParseData(value.type, sw.Get("D"), separator, &value.data, &error))
    return Failure("Invalid data for " + regtool::TypeName(value.type) + ": " + error + ".");

  HKEY raw = nullptr;
  LONG rc = RegCreateKeyExA(name.root, name.sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &raw, nullptr);
  if (rc != ERROR_SUCCESS) return RegistryFailure(rc);
  Key key(raw);
  if (setsValue) {
    RegValue existing;
    if (!sw.Has("F") && RegReadValue(key.get(), value.name, &existing) == ERROR_SUCCESS &&
        !Confirm("Value " + ShownName(value.name) + " exists, overwrite"))
      return Cancelled();
    if ((rc = RegWriteValue(key.get(), value)) != ERROR_SUCCESS) return RegistryFailure(rc);
  }
  return Done();
}

int Delete(const std::vector<std::string>& args) {
  std::vector<std::string> fixed;
  Switches sw;
  std::string error;
  KeyName name;
  if (!ParseArguments(args, 1, {"ve", "va", "f"}, {"v"}, &fixed, &sw, &error)) return SyntaxError(error);
  if (sw.Has("V") + sw.Has("VE") + sw.Has("VA") > 1) return SyntaxError("Use only one of /v, /ve and /va.");
  if (!ParseKey(fixed[0], &name, &error)) return SyntaxError(error);
  bool force = sw.Has("F");

  if (!sw.Has("V") && !sw.Has("VE") && !sw.Has("VA")) {
    if (name.sub.empty()) return Failure("A root key cannot be deleted.");
    HKEY raw = nullptr;
    LONG rc = RegOpenKeyExA(name.root, name.sub.c_str(), 0, KEY_READ, &raw);
    if (rc != ERROR_SUCCESS) return RegistryFailure(rc);
    RegCloseKey(raw);
    if (!force && !Confirm("Permanently delete the registry key " + name.full)) return Cancelled();
    rc = SHDeleteKeyA(name.root, name.sub.c_str());
    return rc == ERROR_SUCCESS ? Done() : RegistryFailure(rc);
  }

  HKEY raw = nullptr;
  LONG rc = RegOpenKeyExA(name.root, name.sub.c_str(), 0, KEY_ALL_ACCESS, &raw);
  if (rc != ERROR_SUCCESS) return RegistryFailure(rc);
  Key key(raw);
  if (sw.Has("VA")) {
    std::vector<RegValue> values;
    if ((rc = RegListValues(key.get(), &values)) != ERROR_SUCCESS) return RegistryFailure(rc);
    if (!force && !Confirm("Delete all values under the registry key " + name.full)) return Cancelled();
    for (const RegValue& v : values) {
      rc = RegDeleteValueA(key.get(), v.name.c_str());
      if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return RegistryFailure(rc);
    }
    return Done();
  }
  std::string valueName = sw.Get("V");
  RegValue existing;
  if ((rc = RegReadValue(key.get(), valueName, &existing)) != ERROR_SUCCESS) return RegistryFailure(rc);
  if (!force && !Confirm("Delete the registry value " + ShownName(valueName))) return Cancelled();
  rc = RegDeleteValueA(key.get(), valueName.c_str());
  return rc == ERROR_SUCCESS ? Done() : RegistryFailure(rc);
}

int Export(const std::vector<std::string>& args) {
  std::vector<std::string> fixed;
  Switches sw;
  std::string error;
  KeyName name;
  if (!ParseArguments(args, 2, {"y"}, {}, &fixed, &sw, &error)) return SyntaxError(error);
  if (!ParseKey(fixed[0], &name, &error)) return SyntaxError(error);
  const std::string& file = fixed[1];
  HKEY raw = nullptr;
  LONG rc = RegOpenKeyExA(name.root, name.sub.c_str(), 0, KEY_READ, &raw);
  if (rc != ERROR_SUCCESS) return RegistryFailure(rc);
  RegCloseKey(raw);
  struct stat st;
  if (!sw.Has("Y") && ::stat(file.c_str(), &st) == 0 &&
      !Confirm("File " + file + " already exists. Overwrite"))
    return Cancelled();
  if (!ExportRegFile(name.full, file, &error)) return Failure(error + ".");
  return Done();
}

int Import(const std::vector<std::string>& args) {
  std::vector<std::string> fixed;
  Switches sw;
  std::string error;
  if (!ParseArguments(args, 1, {}, {}, &fixed, &sw, &error)) return SyntaxError(error);
  if (!ImportRegFile(fixed[0], &error)) return Failure(error + ".");
  return Done();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return SyntaxError("No operation given.");
  std::string op = FoldCase(args[0]);
  if (op == "--HELP" || op == "-H" || op == "/?" || op == "HELP") {
    std::cout << kUsage;
    return 0;
  }
  args.erase(args.begin());
  if (args.size() == 1 && (args[0] == "/?" || args[0] == "--help")) {
    std::cout << kUsage;
    return 0;
  }
  if (op == "QUERY") return Query(args);
  if (op == "ADD") return Add(args);
  if (op == "DELETE") return Delete(args);
  if (op == "EXPORT") return Export(args);
  if (op == "IMPORT") return Import(args);
  return SyntaxError("Unknown operation \"" + std::string(argv[1]) + "\".");
}
