// The users database behind the server window: the create answers the send
// job relies on, properties, and results that move the deployment state.
#include <gtest/gtest.h>

#include "server_db.h"
#include "servers.h"

using namespace delivery_test;
using zeladmin::ServerDb;
using zeladmin::User;

namespace {

User Make(const std::string& name, const std::string& login = "", int flags = 1) {
  User u;
  u.name = name;
  u.login = login;
  u.flags = flags;
  u.email = name + "@example.test";
  return u;
}

TEST(ServerDb, CreateAnswersAsTheServerWindowDoes) {
  std::string dir = MakeScratch("serverdb");
  {
    ServerDb db(dir + "/users.db");
    ASSERT_TRUE(db.IsOpen()) << db.Error();
    User alice = Make("alice", "alice");
    EXPECT_EQ(db.CreateUser(&alice), zeladmin::kCreated);
    EXPECT_EQ(alice.id, 0x1001);
    User again = Make("ALICE");
    EXPECT_EQ(db.CreateUser(&again), zeladmin::kLoginExists);  // names compare without case
    User sameLogin = Make("alice2", "Alice");
    EXPECT_EQ(db.CreateUser(&sameLogin), zeladmin::kLoginExists);
    // Domain users need a domain the server knows.
    User domainUser = Make("CORP\\bob", "CORP\\bob", 0x21);
    EXPECT_EQ(db.CreateUser(&domainUser), zeladmin::kDomainUserInvalid);
    User plain = Make("carol", "carol", 0x21);
    EXPECT_EQ(db.CreateUser(&plain), zeladmin::kDomainUserInvalid);
    EXPECT_TRUE(db.AddDomain("corp"));
    EXPECT_EQ(db.CreateUser(&domainUser), zeladmin::kCreated);
    User mailStyle = Make("dave@CORP", "dave@CORP", 0x21);
    EXPECT_EQ(db.CreateUser(&mailStyle), zeladmin::kCreated);
    EXPECT_EQ(mailStyle.id, 0x1003);
  }
  // Kept across openings, with properties and results.
  ServerDb db(dir + "/users.db");
  EXPECT_TRUE(db.SetProperty("alice", "version", "11.0.1"));
  EXPECT_TRUE(db.SetProperty("alice", "last-login", "1700000000"));
  EXPECT_FALSE(db.SetProperty("nobody", "version", "1"));
  EXPECT_FALSE(db.SetProperty("alice", "password", "x"));
  auto alice = db.FindUser("Alice");
  ASSERT_TRUE(alice.has_value());
  EXPECT_EQ(alice->version, "11.0.1");
  EXPECT_EQ(alice->lastLogin, 1700000000);

  std::int64_t job = db.StartJob("users.txt");
  EXPECT_TRUE(db.AddResult({job, "alice", 0x1001, 16, ""}));
  EXPECT_TRUE(db.AddResult({job, "CORP\\bob", 0x1002, 32, ""}));
  EXPECT_EQ(db.FindUser("alice")->deployment, 16);  // direct install to be retried
  EXPECT_EQ(db.FindUser("corp\\BOB")->deployment, 32);
  EXPECT_EQ(db.Results(job).size(), 2u);
  EXPECT_EQ(db.LastJob(), job);
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace
