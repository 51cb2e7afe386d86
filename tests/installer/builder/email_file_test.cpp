// The e-mail file: fields, trimming, the address standing in for the user
// name, and the lines that are skipped.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "email_file.h"

namespace {

using zel::EmailLineResult;
using zel::EmailUser;

TEST(EmailFile, FieldsAndTrimming) {
  EmailUser u;
  ASSERT_EQ(zel::ParseEmailLine(" \talice@example.com\t, alice ,PC-7 ,\tMYDOM\\alice ", &u), EmailLineResult::Ok);
  EXPECT_EQ(u.address, "alice@example.com");
  EXPECT_EQ(u.userName, "alice");
  EXPECT_EQ(u.systemName, "PC-7");
  EXPECT_EQ(u.loginName, "MYDOM\\alice");
  // No comma, or an empty user name: the address is the user name too.
  ASSERT_EQ(zel::ParseEmailLine("bob@example.com", &u), EmailLineResult::Ok);
  EXPECT_EQ(u.userName, "bob@example.com");
  ASSERT_EQ(zel::ParseEmailLine("bob@example.com,, host", &u), EmailLineResult::Ok);
  EXPECT_EQ(u.userName, "bob@example.com");
  EXPECT_EQ(u.systemName, "host");
  EXPECT_EQ(u.loginName, "");
  // Non-ASCII names pass as they are; fields after the fourth are ignored.
  ASSERT_EQ(zel::ParseEmailLine("j@example.com, Jürgen Groß,,jg,extra", &u), EmailLineResult::Ok);
  EXPECT_EQ(u.userName, "Jürgen Groß");
  EXPECT_EQ(u.loginName, "jg");
}

TEST(EmailFile, LinesThatAreSkipped) {
  EmailUser u;
  EXPECT_EQ(zel::ParseEmailLine("", &u), EmailLineResult::Blank);
  EXPECT_EQ(zel::ParseEmailLine(" \t ", &u), EmailLineResult::Blank);
  EXPECT_EQ(zel::ParseEmailLine(" , ,x", &u), EmailLineResult::Blank);
  EXPECT_EQ(zel::ParseEmailLine(std::string(1024, 'a'), &u), EmailLineResult::TooLong);
  EXPECT_EQ(zel::ParseEmailLine("a@b," + std::string(251, 'u'), &u), EmailLineResult::FieldTooLong);
  EXPECT_EQ(zel::ParseEmailLine("a@b," + std::string(250, 'u'), &u), EmailLineResult::Ok);
  EXPECT_EQ(zel::ParseEmailLine(std::string("a@b,u\0ser", 9), &u), EmailLineResult::BadByte);
  EXPECT_EQ(zel::ParseEmailLine("a@b,us\ter", &u), EmailLineResult::BadByte);
}

TEST(EmailFile, ReadingLinesCountsEveryByte) {
  std::string content = "a@b,a\r\n\n" + std::string(1500, 'x') + ",eve\nlast@b,last";
  std::FILE* f = fmemopen(content.data(), content.size(), "rb");
  ASSERT_NE(f, nullptr);
  std::string line;
  std::size_t bytes = 0, total = 0;
  bool tooLong = false;
  ASSERT_TRUE(zel::ReadEmailLine(f, &line, &bytes, &tooLong));
  EXPECT_EQ(line, "a@b,a");
  EXPECT_EQ(bytes, 7u);
  total += bytes;
  ASSERT_TRUE(zel::ReadEmailLine(f, &line, &bytes, &tooLong));
  EXPECT_EQ(line, "");
  total += bytes;
  // An overlong line is taken whole: its tail never becomes a user.
  ASSERT_TRUE(zel::ReadEmailLine(f, &line, &bytes, &tooLong));
  EXPECT_TRUE(tooLong);
  EXPECT_EQ(bytes, 1505u);
  total += bytes;
  ASSERT_TRUE(zel::ReadEmailLine(f, &line, &bytes, &tooLong));
  EXPECT_FALSE(tooLong);
  EXPECT_EQ(line, "last@b,last");
  total += bytes;
  EXPECT_FALSE(zel::ReadEmailLine(f, &line, &bytes, &tooLong));
  EXPECT_EQ(total, content.size());
  std::fclose(f);
}

}  // namespace
