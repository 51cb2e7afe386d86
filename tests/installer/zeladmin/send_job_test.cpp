// zeladmin from the command line: a demonstration server set up with
// "init", then send jobs over real SMTP and to a folder, whose packages
// extract with the stub and start the setup program.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <sstream>

#include "servers.h"

using namespace delivery_test;

namespace {

class ZeladminTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeScratch("zeladmin");
    setenv("NORV_REGISTRY_DIR", (dir_ + "/registry").c_str(), 1);
    setenv("NORV_DRIVE_ROOT", (dir_ + "/drives").c_str(), 1);
    setenv("NORV_RUNTIME_DIR", (dir_ + "/run").c_str(), 1);
    setenv("QXTRACE_FILE", (dir_ + "/trace.txt").c_str(), 1);
    fs::create_directories(dir_ + "/run");
    fs::create_directories(dir_ + "/tmp");
    oldTmp_ = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    setenv("TMPDIR", (dir_ + "/tmp").c_str(), 1);  // where the job writes its temporary package
    std::string out;
    ASSERT_EQ(Zeladmin({"init", dir_ + "/server"}, &out), 0) << out;
    fs::copy_file(FAKE_SETUP_FILE, dir_ + "/server/Client32/setup.zel",
                  fs::copy_options::overwrite_existing);
  }
  void TearDown() override {
    for (const char* v : {"NORV_REGISTRY_DIR", "NORV_DRIVE_ROOT", "NORV_RUNTIME_DIR", "QXTRACE_FILE"})
      unsetenv(v);
    if (oldTmp_.empty())
      unsetenv("TMPDIR");
    else
      setenv("TMPDIR", oldTmp_.c_str(), 1);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  int Zeladmin(std::vector<std::string> args, std::string* out) {
    args.insert(args.begin(), ZELADMIN_FILE);
    return RunProgram(args, out);
  }
  std::string Users(const std::string& lines) {
    WriteText(dir_ + "/users.txt", lines);
    return dir_ + "/users.txt";
  }
  // Runs a package with its own TMPDIR: the stub extracts it and starts the
  // setup program with the packing list.
  void ExpectExtracts(const std::string& package, const std::string& tag) {
    std::string run = dir_ + "/extract-" + tag;
    fs::create_directories(run);
    chmod(package.c_str(), 0755);
    std::string out;
    int rc = RunProgram({"/usr/bin/env", "TMPDIR=" + run, "FAKE_SETUP_OUT=" + run + "/setup-args",
                         package},
                        &out);
    EXPECT_EQ(rc, 0) << out;
    // The stub extracts into a private directory of its own below TMPDIR.
    std::string extracted;
    for (const auto& entry : fs::directory_iterator(run))
      if (entry.is_directory() && entry.path().filename().string().rfind("zel-", 0) == 0)
        extracted = entry.path().string();
    ASSERT_FALSE(extracted.empty()) << tag;
    EXPECT_TRUE(fs::exists(extracted + "/install.cdb")) << tag;
    EXPECT_TRUE(fs::exists(extracted + "/PackingList.TXT")) << tag;
    // The setup program may still be starting when the stub has handed over.
    for (int i = 0; i < 200 && !fs::exists(run + "/setup-args"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_NE(ReadText(run + "/setup-args").find(extracted + "/PackingList.TXT"), std::string::npos)
        << tag;
  }
  std::string dir_;
  std::string oldTmp_;
};

TEST_F(ZeladminTest, ThreeUsersOverSmtpGetPackagesThatExtract) {
  SmtpServer server;
  if (!server.Ready()) GTEST_SKIP() << server.Why();
  std::string out;
  int rc = Zeladmin({"send", "--dir", dir_ + "/server", "--smtp",
                     "127.0.0.1:" + std::to_string(server.Port()), "--from", "backup@server.test",
                     "--subject", "Your backup client", "--body", "Run the attached program.",
                     "--receipt",
                     Users("ann@example.test, ann\n\tben@example.test ,ben\ncid@example.test,cid\n")},
                    &out);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("100%"), std::string::npos) << out;
  EXPECT_NE(out.find("3 New clients"), std::string::npos) << out;
  for (const char* user : {"ann", "ben", "cid"})
    EXPECT_NE(out.find(std::string(user) + " "), std::string::npos) << out;
  EXPECT_EQ(out.find("failed"), std::string::npos) << out;

  auto messages = server.Messages(3);
  ASSERT_EQ(messages.size(), 3u);
  std::vector<std::string> recipients;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    std::string got = dir_ + "/got" + std::to_string(i);
    std::string text = SmtpServer::Extract(messages[i], got);
    EXPECT_NE(text.find("Subject: Your backup client"), std::string::npos) << text;
    EXPECT_NE(text.find("Disposition-Notification-To: backup@server.test"), std::string::npos);
    std::size_t to = text.find("To: ");
    recipients.push_back(text.substr(to + 4, text.find('\n', to) - to - 4));
    std::vector<std::string> attachments;
    for (const auto& e : fs::directory_iterator(got)) attachments.push_back(e.path().string());
    ASSERT_EQ(attachments.size(), 1u) << text;
    ExpectExtracts(attachments[0], std::to_string(i));
  }
  std::sort(recipients.begin(), recipients.end());
  EXPECT_EQ(recipients, (std::vector<std::string>{"ann@example.test", "ben@example.test",
                                                  "cid@example.test"}));
}

TEST_F(ZeladminTest, MailServerDownFailsTheFirstUserAndEndsTheJob) {
  std::string out;
  int rc = Zeladmin({"send", "--dir", dir_ + "/server", "--smtp",
                     "127.0.0.1:" + std::to_string(FreePort()), "--from", "backup@server.test",
                     Users("ann@example.test,ann\nben@example.test,ben\n")},
                    &out);
  EXPECT_EQ(rc, 1) << out;
  EXPECT_NE(out.find("Failed to send Email via SMTP: Cannot continue SMTP error:  Connect failure"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("ann"), std::string::npos);
  EXPECT_EQ(out.find("ben "), std::string::npos) << out;  // line processing ended
  // The temporary package of the failed send is gone.
  EXPECT_FALSE(fs::exists(dir_ + "/tmp/client.exe"));
}

TEST_F(ZeladminTest, FolderJobStoresRunnablePackagesAndUnknownDomainsAreRefused) {
  std::string out;
  int rc = Zeladmin({"send", "--dir", dir_ + "/server", "--folder", dir_ + "/store",
                     Users("ann@example.test,ann\nMYDOM\\bob,MYDOM\\bob\n")},
                    &out);
  EXPECT_EQ(rc, 0) << out;
  ExpectExtracts(dir_ + "/store/client_ann.exe", "ann");
  // Without the domain-account option a domain name is skipped.
  EXPECT_FALSE(fs::exists(dir_ + "/store/client_bob@MYDOM.exe")) << out;

  rc = Zeladmin({"send", "--dir", dir_ + "/server", "--folder", dir_ + "/store", "--domain-account",
                 Users("x@example.test,OTHER\\eve,pc1,OTHER\\eve\n")},
                &out);
  EXPECT_NE(out.find("Unable to validate the domain user"), std::string::npos) << out;
  ASSERT_EQ(Zeladmin({"domain-add", "--dir", dir_ + "/server", "OTHER"}, &out), 0) << out;
  rc = Zeladmin({"send", "--dir", dir_ + "/server", "--folder", dir_ + "/store", "--domain-account",
                 Users("x@example.test,OTHER\\eve,pc1,OTHER\\eve\n")},
                &out);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_TRUE(fs::exists(dir_ + "/store/client_eve@OTHER.exe")) << out;
  ASSERT_EQ(Zeladmin({"users", "--dir", dir_ + "/server"}, &out), 0);
  EXPECT_NE(out.find("OTHER\\eve"), std::string::npos) << out;

  // A storage folder that cannot be made: the job does not start.
  WriteText(dir_ + "/plainfile", "x");
  rc = Zeladmin({"send", "--dir", dir_ + "/server", "--folder", dir_ + "/plainfile/store",
                 Users("zed@example.test,zed\n")},
                &out);
  EXPECT_EQ(rc, 2) << out;
  EXPECT_NE(out.find("the send job did not start: Unable to create directory"), std::string::npos) << out;
}

TEST_F(ZeladminTest, CtrlCStopsTheJobAfterTheCurrentUser) {
  std::string lines;
  for (int i = 0; i < 30; ++i) lines += "u" + std::to_string(i) + "@example.test,u" + std::to_string(i) + "\n";
  std::string users = Users(lines);
  int pipefd[2];
  ASSERT_EQ(pipe(pipefd), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipefd[1], 1);
    dup2(pipefd[1], 2);
    close(pipefd[0]);
    std::string dir = dir_ + "/server", store = dir_ + "/store";
    execl(ZELADMIN_FILE, ZELADMIN_FILE, "send", "--dir", dir.c_str(), "--folder", store.c_str(),
          users.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipefd[1]);
  std::string out;
  bool interrupted = false;
  char buffer[1024];
  ssize_t n;
  while ((n = read(pipefd[0], buffer, sizeof buffer)) != 0) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    out.append(buffer, n);
    // Once the job is at work on a user, press Ctrl+C.
    if (!interrupted && out.find("Filling temporary Database") != std::string::npos) {
      kill(pid, SIGINT);
      interrupted = true;
    }
  }
  close(pipefd[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(interrupted) << out;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << out;
  EXPECT_NE(out.find("Cancel initiated"), std::string::npos) << out;
  // The job ended properly, with fewer packages than users, each one whole.
  EXPECT_NE(out.find("100%"), std::string::npos) << out;
  int stored = 0;
  for (const auto& e : fs::directory_iterator(dir_ + "/store")) {
    EXPECT_EQ(e.path().extension(), ".exe") << e.path();
    ++stored;
  }
  EXPECT_GE(stored, 1);
  EXPECT_LT(stored, 30) << out;
  // Table rows: user, id, outcome.
  std::size_t rows = 0;
  std::istringstream table(out);
  for (std::string line; std::getline(table, line);)
    if (line.find(" 0x") != std::string::npos && line.size() > 7 &&
        line.compare(line.size() - 7, 7, " stored") == 0)
      ++rows;
  EXPECT_EQ(rows, static_cast<std::size_t>(stored)) << out;
}

// Direct installation: packages built into the deployment tool's folder and
// installed over a private sshd; the first machine refuses the login, the
// job goes on with the next user.
TEST_F(ZeladminTest, DirectInstallJobInstallsOverSshAndGoesOnAfterARefusedLogin) {
  SshServer sshd;
  if (!sshd.Ready()) GTEST_SKIP() << sshd.Why();
  std::string ping;
  if (RunProgram({"ping", "-c", "1", "-W", "2", "127.0.0.2"}, &ping) != 0)
    GTEST_SKIP() << "ping does not work here: " << ping;
  // Every machine is this one's sshd; 127.0.0.2 offers a key it does not accept.
  std::string common = "host = 127.0.0.1\nport = " + std::to_string(sshd.Port()) +
                       "\nuser = root\nknown_hosts = " + sshd.KnownHosts() + "\nremote_dir = " + dir_ +
                       "/target\nsetup = FAKE_SETUP_OUT=" + dir_ + "/setup-out ./OrbCSetup.exe -silent\n";
  WriteText(dir_ + "/fanrow.conf", common + "identity = " + sshd.UserKey() + "\n[machine 127.0.0.2]\nidentity = " +
                                       sshd.OtherKey() + "\n");
  setenv("FANROW_CONFIG", (dir_ + "/fanrow.conf").c_str(), 1);
  std::string out;
  int rc = Zeladmin({"send", "--dir", dir_ + "/server", "--fanrow",
                     Users("ben@example.test,ben,127.0.0.2,ben\nann@example.test,ann,127.0.0.1,ann\n")},
                    &out);
  unsetenv("FANROW_CONFIG");
  EXPECT_EQ(rc, 1) << out;  // one user failed
  EXPECT_NE(ReadText(dir_ + "/trace.txt")
                .find("Direct install failed for user ben on machine 127.0.0.2 - Logon failure"),
            std::string::npos);
  std::size_t ann = out.find("\nann ");
  ASSERT_NE(ann, std::string::npos) << out;
  EXPECT_NE(out.substr(ann, 60).find("installed"), std::string::npos) << out;
  std::size_t ben = out.find("\nben ");
  ASSERT_NE(ben, std::string::npos) << out;
  EXPECT_NE(out.substr(ben, 60).find("failed"), std::string::npos) << out;
  EXPECT_TRUE(fs::exists(dir_ + "/target/packages/ann"));
  EXPECT_FALSE(fs::exists(dir_ + "/target/packages/ben"));
  // The stand-in setup records its arguments, then the TMPDIR it was given.
  EXPECT_EQ(ReadText(dir_ + "/setup-out"),
            "./OrbCSetup.exe\n-silent\nTMPDIR=" + dir_ + "/target/tmp\n");
  // The failed user is marked for a retried direct installation.
  ASSERT_EQ(Zeladmin({"users", "--dir", dir_ + "/server"}, &out), 0);
  std::size_t line = out.find(" ben ");
  ASSERT_NE(line, std::string::npos) << out;
  EXPECT_NE(out.substr(line, 100).find(" 16 "), std::string::npos) << out;
}

}  // namespace
