// Whole send jobs through libzelinst.so against a scratch server and a test
// server window: packages stored in a folder, the e-mail file's bad lines,
// domain rules and existing users, upgrade decisions, cancellation, one job
// at a time, failed packages and start-up failures.
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "package_reader.h"
#include "platform/window.h"
#include "scratch_app.h"
#include "zel/delivery.h"
#include "zel/server_window.h"
#include "zel/zelinst.h"

namespace {

namespace sw = zel::server;

// The administration program's side of the server window.
class TestServer {
 public:
  struct Properties {
    int lastLogin = 0;
    int deployment = 0;
    std::string version;
  };
  TestServer() {
    window_ = plat::CreateNamedWindow(sw::kWindowClass, "", [this](plat::HWND, plat::UINT message,
                                                                   plat::WPARAM wParam, plat::LPARAM lParam) {
      return Handle(message, wParam, lParam);
    });
  }
  ~TestServer() { plat::DestroyWindow(window_); }

  std::map<std::string, int> createResults;      // by user name; 0 when absent
  std::map<std::string, Properties> properties;  // by user name
  std::function<void(const std::string&)> onCreate;

  std::vector<std::string> Registered() {
    std::lock_guard lock(mutex_);
    return registered_;
  }
  std::vector<std::pair<std::string, int>> Results() {
    std::lock_guard lock(mutex_);
    return results_;
  }
  std::map<std::string, std::string> logins;  // user name -> login name as registered

 private:
  plat::LRESULT Handle(plat::UINT message, plat::WPARAM, plat::LPARAM lParam) {
    auto* record = reinterpret_cast<unsigned char*>(lParam);
    char name[260];
    switch (message) {
      case sw::kCreateUser: {
        sw::GetText(record, sw::user::kName, name, sizeof name);
        char login[260];
        sw::GetText(record, sw::user::kLoginName, login, sizeof login);
        if (onCreate) onCreate(name);
        std::lock_guard lock(mutex_);
        registered_.push_back(name);
        logins[name] = login;
        sw::PutInt(record, sw::user::kIdentifier, 0x100 + static_cast<int>(registered_.size()));
        auto it = createResults.find(name);
        return it == createResults.end() ? 0 : it->second;
      }
      case sw::kGetUserProperties: {
        sw::GetText(record, sw::properties::kUserName, name, sizeof name);
        const Properties& p = properties[name];
        sw::PutInt(record, sw::properties::kLastLoginDate, p.lastLogin);
        sw::PutInt(record, sw::properties::kDeployment, p.deployment);
        sw::PutText(record, sw::properties::kClientVersion, p.version.c_str());
        return 0;
      }
      case sw::kGetUserDataDir:
        return 0;  // no data directory of its own: the default is used
      case sw::kReportResult: {
        sw::GetText(record, sw::result::kUserName, name, sizeof name);
        std::lock_guard lock(mutex_);
        results_.emplace_back(name, sw::GetInt(record, sw::result::kStatus));
        return 0;
      }
      default:
        return 0;
    }
  }
  plat::HWND window_ = nullptr;
  std::mutex mutex_;
  std::vector<std::string> registered_;
  std::vector<std::pair<std::string, int>> results_;
};

class SendJob : public scratch::ScratchServer {
 protected:
  void SetUp() override {
    ScratchServer::SetUp();
    setenv("ZEL_MESSAGE_PAUSE_MS", "0", 1);
    // The job binds the core library itself.
    while (zel::QvBindCount() > 0) zel::QvRelease();
    std::filesystem::remove(Path("app/admin/protocol.ini"));
  }
  void TearDown() override {
    unsetenv("ZEL_MESSAGE_PAUSE_MS");
    ScratchServer::TearDown();
  }

  struct Options {
    int compress = 1;
    int flags = 0;
    int useFanrow = 0;
    int localStorage = 1;
    int useMapi = 0;
    std::string storage = "C:\\Packages";
  };
  int Start(const std::string& emailFile, const Options& o, std::string* error = nullptr) {
    char storage[260];
    std::snprintf(storage, sizeof storage, "%s", o.storage.c_str());
    char errorText[512] = "unchanged";
    int started = ZELManageSend(emailFile.c_str(), 0, "Default", "Example Org", "C:\\Orb", "", "D:\\ServerDb",
                                1, 0, 0x2, o.useMapi, "127.0.0.1", 25, o.localStorage, storage, o.useFanrow,
                                "admin@example.com", "Your client", "Hello <username>", 0, o.compress,
                                o.flags, errorText);
    if (error) *error = errorText;
    return started;
  }
  // Polls until the job reports 100 or -1; returns that and the last text.
  int WaitForEnd(std::string* text) {
    char buffer[512] = {};
    int progress = 0;
    for (int i = 0; i < 6000; ++i) {
      progress = ZELGetProgress(0, buffer);
      EXPECT_TRUE(progress == -1 || (progress >= 1 && progress <= 100)) << progress;
      if (progress == 100 || progress == -1) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (text) *text = buffer;
    return progress;
  }
  std::string EmailFile(const std::string& content) {
    scratch::WriteFile(Path("users.txt"), content);
    return Path("users.txt");
  }
  std::vector<std::string> Members(const std::string& package) {
    std::string bytes = scratch::ReadFile(package);
    zel::PackageInput input = zel::PackageInputFromMemory(bytes.data(), bytes.size());
    zel::PackageWalker walker(input);
    zel::MemberInfo m;
    std::vector<std::string> names;
    while (walker.Next(&m)) names.insert(names.begin(), m.name);
    return names;
  }
  std::set<std::string> FolderNames(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      names.insert(entry.path().filename().string());
    return names;
  }
};

using Results = std::vector<std::pair<std::string, int>>;

TEST_F(SendJob, PackagesForEveryUserOfTheEmailFileInAFolder) {
  TestServer server;
  std::string file = EmailFile(
      "alice@example.com, alice, PC-1, alice\n"
      "\n"
      "   \t  \r\n" +
      std::string(1500, 'x') + ", eve\n"
      "\t bob@example.com \t,\tbob  \n"
      "carol@example.com\n"                 // the address as the name: refused without domain accounts
      "jürgen@example.com, Jürgen Groß,,\r\n"
      "mallory@example.com, ../../etc\n"  // no file name: reported failed, nothing stored
      "frank@example.com, frank");          // no line feed at the end
  ASSERT_EQ(Start(file, Options{}), 1);
  std::string text;
  ASSERT_EQ(WaitForEnd(&text), 100);
  EXPECT_EQ(text, "4 New clients");
  // The overlong line never becomes a user, not even by its tail.
  EXPECT_EQ(server.Registered(),
            (std::vector<std::string>{"alice", "bob", "Jürgen Groß", "../../etc", "frank"}));
  EXPECT_EQ(server.Results(),
            (Results{{"alice", 8}, {"bob", 8}, {"Jürgen Groß", 8}, {"../../etc", 16}, {"frank", 8}}));

  // Only finished packages in the folder, each a program with its five members.
  const std::string storage = Path("drives/c/Packages");
  EXPECT_EQ(FolderNames(storage), (std::set<std::string>{"client_alice.exe", "client_bob.exe",
                                                         "client_Jürgen Groß.exe", "client_frank.exe"}));
  for (const std::string& name : FolderNames(storage)) {
    struct stat st {};
    ASSERT_EQ(stat((storage + "/" + name).c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR) << name;
    EXPECT_EQ(Members(storage + "/" + name),
              (std::vector<std::string>{"OrbCSetup.exe", "qvcore32.dll", "qvcryp32.dll", "qxTrace.dll",
                                        "install.cdb"}))
        << name;
  }
  // The temporary database and package are gone.
  EXPECT_TRUE(FolderNames(Path("tmp")).empty());

  // The stub unpacks a package and starts the setup program with the packing list.
  std::filesystem::create_directories(Path("run"));
  std::string command = "cd " + Path("run") + " && TMPDIR=" + Path("run") + " FAKE_SETUP_OUT=" +
                        Path("setup-args.txt") + " '" + storage + "/client_bob.exe'";
  EXPECT_EQ(std::system(command.c_str()), 0);
  for (int i = 0; i < 1000 && !std::filesystem::exists(Path("setup-args.txt")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // setup runs detached
  EXPECT_NE(scratch::ReadFile(Path("setup-args.txt")).find("PackingList.TXT"), std::string::npos);

  // The user's configuration: the default data folder, named by the identifier.
  EXPECT_TRUE(std::filesystem::exists(Path("data/users/00000102/local.cdb")));
  // The settings import ran before the first package.
  EXPECT_TRUE(std::filesystem::exists(Path("app/admin/protocol.ini")));
  EXPECT_TRUE(Traced("ZELManageSendThread: UserName is empty or contains only blanks"));
  EXPECT_TRUE(Traced("is longer than 1024 bytes and is skipped"));
  EXPECT_TRUE(Traced(std::string(zel::ZelString(85)) + " carol@example.com"));
  EXPECT_TRUE(Traced("ZELManageSendThread: Create   4. package --------------------"));
  EXPECT_TRUE(Traced("ZELManageSendThread: Finish: 4 New clients"));
  EXPECT_TRUE(Traced("ZELManageSend: return TRUE"));
}

TEST_F(SendJob, DomainRulesExistingUsersAndAnInvalidDomainUser) {
  TestServer server;
  server.createResults["MYDOM\\dave"] = -2;   // exists: an existing client without direct installation
  server.createResults["MYDOM\\erin"] = -10;  // cannot be validated: the job stops reading lines
  std::string file = EmailFile(
      "a@x.example, MYDOM\\alice, pc1, MYDOM\\alice\n"
      "b@x.example, bob\n"
      "c@x.example, MYDOM\\carol, pc3, MYDOM\\other\n"
      "d@x.example, MYDOM\\dave\n"
      "e@x.example, MYDOM\\erin\n"
      "f@x.example, MYDOM\\frank\n");
  Options o;
  o.flags = zel::USERFLAG_DOMAIN_ACCOUNT;
  ASSERT_EQ(Start(file, o), 1);
  std::string text;
  ASSERT_EQ(WaitForEnd(&text), 100);
  EXPECT_EQ(text, zel::ZelString(64));  // one package, stored locally
  EXPECT_EQ(server.Registered(), (std::vector<std::string>{"MYDOM\\alice", "MYDOM\\dave", "MYDOM\\erin"}));
  EXPECT_EQ(server.logins["MYDOM\\dave"], "MYDOM\\dave");  // a blank login takes the user name
  EXPECT_EQ(server.Results(), (Results{{"MYDOM\\alice", 8}}));
  EXPECT_EQ(FolderNames(Path("drives/c/Packages")), (std::set<std::string>{"client_alice@MYDOM.exe"}));
  EXPECT_TRUE(Traced("Option UseDomainAccount forces UserName in format <Domain>\\<User> or "
                     "<User>@<DNS-Domain> for user bob"));
  EXPECT_TRUE(Traced("Option UseDomainAccount forces Halvorn account equal to Windows domain account "
                     "MYDOM\\other."));
  EXPECT_TRUE(Traced("ZELManageSendThread: MYDOM\\dave - USER_LOGIN_ALREADY_EXISTS"));
  EXPECT_TRUE(Traced("ZELManageSendThread: Existing client:  MYDOM\\dave -2"));
  EXPECT_TRUE(Traced("ZELManageSendThread: Unable to validate the domain user"));
}

TEST_F(SendJob, FolderFormForEachUser) {
  TestServer server;
  Options o;
  o.compress = 0;
  ASSERT_EQ(Start(EmailFile("a@x.example, ann\nb@x.example, ben\n"), o), 1);
  std::string text;
  ASSERT_EQ(WaitForEnd(&text), 100);
  EXPECT_EQ(text, "2 New clients");
  const std::string storage = Path("drives/c/Packages");
  EXPECT_EQ(FolderNames(storage), (std::set<std::string>{"Client", "ann", "ben"}));
  for (const char* user : {"ann", "ben"}) {
    EXPECT_TRUE(std::filesystem::exists(storage + "/" + user + "/zel.ini")) << user;
    EXPECT_TRUE(std::filesystem::exists(storage + "/" + user + "/Data/local.cdb")) << user;
    EXPECT_TRUE(std::filesystem::exists(storage + "/" + user + "/OrbCSetup.exe")) << user;
  }
  EXPECT_EQ(server.Results(), (Results{{"ann", 8}, {"ben", 8}}));
}

// Direct installation with a deployment tool that installs at once: the
// decisions for users the server knows already.
TEST_F(SendJob, UpgradeDecisionsForKnownUsers) {
  TestServer server;
  for (const char* user : {"retry", "old", "current", "unknown", "never"}) server.createResults[user] = -2;
  server.properties["retry"] = {5, 16, "11.1"};  // deployment to be retried: with configuration
  server.properties["old"] = {5, 0, "10.0"};     // an older client: upgraded
  server.properties["current"] = {5, 0, "11.1"}; // up to date: existing client
  server.properties["unknown"] = {5, 0, ""};     // logged in, version unknown: upgraded
  server.properties["never"] = {0, 0, ""};       // never logged in: existing client
  scratch::WriteFile(Path("fanrow/Fanrow.exe"), "#!/bin/sh\nexit 0\n");
  chmod(Path("fanrow/Fanrow.exe").c_str(), 0755);
  scratch::SetHklm("SOFTWARE\\Velmora\\Plenwick\\Fanrow", "InstallPath", Path("fanrow"));
  zel::SetDirectInstallRoundWait(1);
  std::string file = EmailFile(
      "r@x.example, retry, 127.0.0.1\no@x.example, old, 127.0.0.1\nc@x.example, current, 127.0.0.1\n"
      "u@x.example, unknown, 127.0.0.1\nn@x.example, never, 127.0.0.1\n");
  Options o;
  o.useFanrow = 1;
  o.storage = "";
  std::string error;
  ASSERT_EQ(Start(file, o, &error), 1) << error;
  std::string text;
  ASSERT_EQ(WaitForEnd(&text), 100);
  const std::string packages = Path("data/Fanrow");
  EXPECT_EQ(FolderNames(packages), (std::set<std::string>{"retry", "old", "unknown"}));
  EXPECT_TRUE(std::filesystem::exists(packages + "/retry/retry/Data/local.cdb"));
  EXPECT_FALSE(std::filesystem::exists(packages + "/old/old/Data"));
  EXPECT_FALSE(std::filesystem::exists(packages + "/unknown/unknown/Data"));
  EXPECT_TRUE(std::filesystem::exists(packages + "/old/Client/Norv2.1/libnorv21.so"));
  EXPECT_TRUE(Traced("ZELManageSendThread: User Property Version\t\t\t= 10.0"));
  EXPECT_TRUE(Traced("ZELManageSendThread: Existing client:  current -2"));
  EXPECT_TRUE(Traced("ZELManageSendThread: Existing client:  never -2"));
  EXPECT_TRUE(Traced("ZELManageSend: UseFanrow == TRUE - Setting localStorageDir to FanrowSoftwarePackagePath"));
  std::vector<std::string> reported;
  for (const auto& [name, status] : server.Results()) reported.push_back(name);
  EXPECT_EQ(reported, (std::vector<std::string>{"retry", "old", "unknown"}));
}

// The first user's registration blocks until the test has tried a second
// job and cancelled: the user is finished, no later line is read.
TEST_F(SendJob, CancelFinishesTheCurrentUserAndOneJobRunsAtATime) {
  TestServer server;
  std::mutex mutex;
  std::condition_variable changed;
  bool inside = false, release = false;
  server.onCreate = [&](const std::string&) {
    std::unique_lock lock(mutex);
    inside = true;
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
  };
  ASSERT_EQ(Start(EmailFile("a@x.example, ann\nb@x.example, ben\nc@x.example, cid\n"), Options{}), 1);
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return inside; }));
  }
  std::string error;
  EXPECT_EQ(Start(EmailFile("z@x.example, zed\n"), Options{}, &error), 0);
  EXPECT_EQ(error, "A send job is already running");
  char text[512] = {};
  EXPECT_EQ(ZELGetProgress(1, text), -1);
  EXPECT_STREQ(text, "Cancel initiated");
  {
    std::lock_guard lock(mutex);
    release = true;
    server.onCreate = nullptr;
  }
  changed.notify_all();
  std::string final;
  ASSERT_EQ(WaitForEnd(&final), 100);
  EXPECT_EQ(final, "Canceled by user request; Number of Emails alread sent: 1");
  EXPECT_EQ(server.Registered(), (std::vector<std::string>{"ann"}));
  EXPECT_EQ(FolderNames(Path("drives/c/Packages")), (std::set<std::string>{"client_ann.exe"}));
  // The next job may start now.
  ASSERT_EQ(Start(EmailFile("z@x.example, zed\n"), Options{}), 1);
  ASSERT_EQ(WaitForEnd(&final), 100);
}

// Three packages made, then a cancel: the count of packages is the final text.
TEST_F(SendJob, CancelAfterThreePackages) {
  TestServer server;
  server.onCreate = [](const std::string& user) {
    char text[512];
    if (user == "cid") ZELGetProgress(1, text);
  };
  ASSERT_EQ(Start(EmailFile("a@x.example, ann\nb@x.example, ben\nc@x.example, cid\nd@x.example, dan\n"),
                  Options{}),
            1);
  std::string text;
  ASSERT_EQ(WaitForEnd(&text), 100);
  EXPECT_EQ(text, "3 New clients");
  EXPECT_EQ(server.Registered(), (std::vector<std::string>{"ann", "ben", "cid"}));
}

// A Simple MAPI send that never returns: the 601st poll gives up.
TEST_F(SendJob, MapiSendThatDoesNotRespond) {
  TestServer server;
  setenv("ZEL_QVMAPI_PATH", BLOCKING_MAIL_FILE, 1);
  setenv("TEST_MAIL_STARTED", Path("mail-started").c_str(), 1);
  setenv("TEST_MAIL_RELEASE", Path("mail-release").c_str(), 1);
  Options o;
  o.localStorage = 0;
  o.useMapi = 1;
  o.storage = "";
  ASSERT_EQ(Start(EmailFile("a@x.example, ann\nb@x.example, ben\n"), o), 1);
  for (int i = 0; i < 3000 && !std::filesystem::exists(Path("mail-started")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(std::filesystem::exists(Path("mail-started")));
  char text[512] = {};
  for (int poll = 1; poll <= 600; ++poll) ASSERT_NE(ZELGetProgress(0, text), -1) << poll;
  EXPECT_EQ(ZELGetProgress(0, text), -1);
  EXPECT_STREQ(text, "MAPISendMail not responding, Cancel initiated");
  scratch::WriteFile(Path("mail-release"), "");
  std::string final;
  EXPECT_EQ(WaitForEnd(&final), 100);
  EXPECT_EQ(final, "Canceled by user request; Number of Emails alread sent: 1");
  EXPECT_EQ(server.Registered(), (std::vector<std::string>{"ann"}));
  EXPECT_TRUE(Traced("ZELGetProgress: Waiting for MAPISendMail since 600 seconds"));
  EXPECT_TRUE(Traced("ZELGetProgress: MAPISendMail not responding, Cancel initiated"));
  for (const char* name : {"ZEL_QVMAPI_PATH", "TEST_MAIL_STARTED", "TEST_MAIL_RELEASE"}) unsetenv(name);
}

// A package that cannot be written fails for that user alone.
TEST_F(SendJob, AFailedPackageIsReportedAndTheJobGoesOn) {
  TestServer server;
  server.onCreate = [&](const std::string& user) {
    if (user == "ann") std::filesystem::rename(Path("app/client32/stub.zel"), Path("stub.away"));
    if (user == "ben") std::filesystem::rename(Path("stub.away"), Path("app/client32/stub.zel"));
  };
  ASSERT_EQ(Start(EmailFile("a@x.example, ann\nb@x.example, ben\n"), Options{}), 1);
  std::string text;
  ASSERT_EQ(WaitForEnd(&text), 100);
  EXPECT_EQ(server.Results(), (Results{{"ann", 16}, {"ben", 8}}));
  EXPECT_EQ(FolderNames(Path("drives/c/Packages")), (std::set<std::string>{"client_ben.exe"}));
  EXPECT_TRUE(Traced("ZELManageSendThread: Unable to build the package for ann"));
  EXPECT_TRUE(FolderNames(Path("tmp")).empty());
}

TEST_F(SendJob, StartFailures) {
  std::string error;
  std::string file = EmailFile("a@x.example, ann\n");
  EXPECT_EQ(Start(Path("none.txt"), Options{}, &error), 0);
  EXPECT_EQ(error, "Unable to open Email file " + Path("none.txt"));
  scratch::WriteFile(Path("drives/c/file"), "x");
  Options blocked;
  blocked.storage = "C:\\file\\packages";
  EXPECT_EQ(Start(file, blocked, &error), 0);
  EXPECT_EQ(error, "Unable to create directory C:\\file\\packages on server machine");
  Options fanrow;
  fanrow.useFanrow = 1;
  EXPECT_EQ(Start(file, fanrow, &error), 0);
  EXPECT_EQ(error, "Fanrow not installed");
  std::filesystem::remove(Path("app/client32/setup.zel"));
  EXPECT_EQ(Start(file, Options{}, &error), 0);
  EXPECT_EQ(error, zel::ZelString(17));
  EXPECT_TRUE(Traced("ZELManageSend: Failed: ZEL component missing.  Please reinstall., "));
}

TEST_F(SendJob, NoServerWindowEndsTheJob) {
  ASSERT_EQ(Start(EmailFile("a@x.example, ann\n"), Options{}), 1);
  std::string text;
  EXPECT_EQ(WaitForEnd(&text), -1);
  EXPECT_EQ(text, "Retrieving a handle to QuovixServerMsgWndClass failed");
  EXPECT_TRUE(FolderNames(Path("drives/c/Packages")).empty());
}

}  // namespace
