#include "email_file.h"

namespace zel {
namespace {

std::string_view Trim(std::string_view field) {
  std::size_t begin = 0, end = field.size();
  while (begin < end && (field[begin] == ' ' || field[begin] == '\t')) ++begin;
  while (end > begin && (field[end - 1] == ' ' || field[end - 1] == '\t')) --end;
  return field.substr(begin, end - begin);
}

// Control characters would cut the text short (a zero byte) or break the
// files and trace lines the names end up in.
bool Clean(std::string_view field) {
  for (char c : field) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return false;
  }
  return true;
}

}  // namespace

EmailLineResult ParseEmailLine(std::string_view line, EmailUser* user) {
  *user = EmailUser();
  if (line.size() > kEmailLineMax) return EmailLineResult::TooLong;
  std::string_view fields[4];
  int count = 0;
  std::size_t start = 0;
  while (count < 4) {
    std::size_t comma = line.find(',', start);
    fields[count++] = Trim(line.substr(start, comma == std::string_view::npos ? line.size() - start
                                                                                : comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  for (int i = 0; i < count; ++i)
    if (!Clean(fields[i])) return EmailLineResult::BadByte;
  std::string_view address = fields[0];
  std::string_view userName = count >= 2 && !fields[1].empty() ? fields[1] : address;
  if (userName.empty()) return EmailLineResult::Blank;
  if (address.size() >= kEmailAddressMax || userName.size() >= kUserNameMax ||
      fields[2].size() >= kSystemNameMax || fields[3].size() >= kLoginNameMax)
    return EmailLineResult::FieldTooLong;
  user->address = address;
  user->userName = userName;
  user->systemName = fields[2];
  user->loginName = fields[3];
  return EmailLineResult::Ok;
}

bool ReadEmailLine(std::FILE* file, std::string* line, std::size_t* bytes, bool* tooLong) {
  line->clear();
  *bytes = 0;
  *tooLong = false;
  int c;
  while ((c = std::fgetc(file)) != EOF) {
    ++*bytes;
    if (c == '\n') break;
    if (line->size() <= kEmailLineMax) line->push_back(static_cast<char>(c));
    else *tooLong = true;
  }
  if (*bytes == 0) return false;
  if (!line->empty() && line->back() == '\r') line->pop_back();
  if (line->size() > kEmailLineMax) *tooLong = true;
  return true;
}

}  // namespace zel
