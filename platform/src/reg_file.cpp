// Export of key trees to .reg files and import of .reg files into the
// registry.
#include "platform/reg_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/text.h"

namespace plat {
namespace {

struct KeyCloser {
  void operator()(RegKeyObject* key) const { RegCloseKey(key); }
};
using KeyHolder = std::unique_ptr<RegKeyObject, KeyCloser>;

std::vector<std::string> SplitNames(std::string_view path) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) names.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

// The path as stored, walking down from the root, so that an export shows
// the keys' own spelling whatever case the caller used.
LONG StoredPath(HKEY root, const std::vector<std::string>& names, std::string* path) {
  *path = RegistryRootName(root);
  std::string sub;
  for (const std::string& name : names) {
    HKEY parent = nullptr;
    LONG rc = RegOpenKeyExA(root, sub.c_str(), 0, KEY_READ, &parent);
    if (rc != ERROR_SUCCESS) return rc;
    KeyHolder hold(parent);
    std::vector<std::string> children;
    if ((rc = RegListSubKeys(parent, &children)) != ERROR_SUCCESS) return rc;
    std::string spelled = name;
    for (const std::string& child : children)
      if (EqualsNoCase(child, name)) spelled = child;
    sub += (sub.empty() ? "" : "\\") + spelled;
    *path += "\\" + spelled;
  }
  return ERROR_SUCCESS;
}

LONG ExportKey(HKEY key, const std::string& path, std::string* text) {
  if (path.find_first_of("\r\n") != std::string::npos) return ERROR_INVALID_DATA;  // no way to write it
  *text += "[" + path + "]\n";
  std::vector<RegValue> values;
  LONG rc = RegListValues(key, &values);
  if (rc != ERROR_SUCCESS) return rc;
  for (const RegValue& v : values) *text += FormatRegValue(v) + "\n";
  *text += "\n";
  std::vector<std::string> children;
  if ((rc = RegListSubKeys(key, &children)) != ERROR_SUCCESS) return rc;
  for (const std::string& child : children) {
    HKEY sub = nullptr;
    rc = RegOpenKeyExA(key, child.c_str(), 0, KEY_READ, &sub);
    if (rc == ERROR_FILE_NOT_FOUND) continue;  // deleted meanwhile by someone else
    if (rc != ERROR_SUCCESS) return rc;
    KeyHolder hold(sub);
    if ((rc = ExportKey(sub, path + "\\" + child, text)) != ERROR_SUCCESS) return rc;
  }
  return ERROR_SUCCESS;
}

bool ReadWholeFile(const std::string& file, std::string* content, std::string* error) {
  FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) {
    if (error) *error = "cannot open \"" + file + "\": " + std::strerror(errno);
    return false;
  }
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) content->append(buffer, n);
  bool failed = std::ferror(f);
  int err = errno;
  std::fclose(f);
  if (failed) {
    if (error) *error = "cannot read \"" + file + "\": " + std::strerror(err);
    return false;
  }
  return true;
}

}  // namespace

LONG ExportRegText(const std::string& keyPath, std::string* text) {
  HKEY root = nullptr;
  std::string sub;
  if (!SplitRegistryPath(keyPath, &root, &sub)) return ERROR_INVALID_PARAMETER;
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(root, sub.c_str(), 0, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) return rc;
  KeyHolder hold(key);
  std::string path;
  if ((rc = StoredPath(root, SplitNames(sub), &path)) != ERROR_SUCCESS) return rc;
  std::string out = "Windows Registry Editor Version 5.00\n\n";
  if ((rc = ExportKey(key, path, &out)) != ERROR_SUCCESS) return rc;
  *text = std::move(out);
  return ERROR_SUCCESS;
}

bool ExportRegFile(const std::string& keyPath, const std::string& file, std::string* error) {
  std::string text;
  LONG rc = ExportRegText(keyPath, &text);
  if (rc != ERROR_SUCCESS) {
    if (error) *error = "cannot export \"" + keyPath + "\": " + RegistryErrorText(rc);
    return false;
  }
  FILE* f = std::fopen(file.c_str(), "wb");
  if (!f) {
    if (error) *error = "cannot create \"" + file + "\": " + std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  int err = errno;
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) {
    if (error) *error = "cannot write \"" + file + "\": " + std::strerror(err ? err : errno);
    return false;
  }
  return true;
}

bool ImportRegText(std::string_view content, std::string* error) {
  std::vector<RegFileOperation> ops;
  if (!ParseRegFile(content, &ops, error)) return false;
  KeyHolder current;
  auto fail = [&](const RegFileOperation& op, const std::string& what, LONG rc) {
    if (error) *error = "line " + std::to_string(op.line) + ": " + what + ": " + RegistryErrorText(rc);
    return false;
  };
  for (const RegFileOperation& op : ops) {
    HKEY root = nullptr;
    std::string sub;
    SplitRegistryPath(op.key, &root, &sub);  // the parser has checked it
    switch (op.kind) {
      case RegFileOperation::Kind::kCreateKey: {
        current.reset();
        HKEY key = nullptr;
        LONG rc = RegCreateKeyExA(root, sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr);
        if (rc != ERROR_SUCCESS) return fail(op, "cannot create key \"" + op.key + "\"", rc);
        current.reset(key);
        break;
      }
      case RegFileOperation::Kind::kDeleteKey: {
        current.reset();
        LONG rc = SHDeleteKeyA(root, sub.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
          return fail(op, "cannot delete key \"" + op.key + "\"", rc);
        break;
      }
      case RegFileOperation::Kind::kSetValue: {
        LONG rc = RegWriteValue(current.get(), op.value);
        if (rc != ERROR_SUCCESS) return fail(op, "cannot set value \"" + op.value.name + "\"", rc);
        break;
      }
      case RegFileOperation::Kind::kDeleteValue: {
        LONG rc = RegDeleteValueA(current.get(), op.value.name.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
          return fail(op, "cannot delete value \"" + op.value.name + "\"", rc);
        break;
      }
    }
  }
  return true;
}

bool ImportRegFile(const std::string& file, std::string* error) {
  std::string content;
  if (!ReadWholeFile(file, &content, error)) return false;
  if (!ImportRegText(content, error)) {
    if (error) *error = file + ", " + *error;
    return false;
  }
  return true;
}

}  // namespace plat
