// The mail library over a real SMTP server on 127.0.0.1, directly and through
// sendmail (msmtp), and the e-mail delivery with its texts and statuses.
#include <gtest/gtest.h>

#include <cstdlib>

#include "mime.h"
#include "servers.h"
#include "zel/delivery.h"

using namespace delivery_test;

namespace {

class MailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ZEL_QVMAPI_PATH", QVMAPI_FILE, 1);
    ASSERT_EQ(zel::LoadMailLibrary("", &library_), zel::MAIL_LOAD_OK);
    scratch_ = MakeScratch("mail");
    package_ = scratch_ + "/client.exe";
    // Bytes of every value, more than one base64 block of the composer.
    std::string bytes;
    for (int i = 0; i < 200000; ++i) bytes += static_cast<char>((i * 7919) >> 3);
    WriteText(package_, bytes, 0755);
  }
  void TearDown() override {
    zel::UnloadMailLibrary(&library_);
    std::error_code ec;
    fs::remove_all(scratch_, ec);
  }

  zel::MailDelivery Mail(const SmtpServer& server, const std::string& to) {
    zel::MailDelivery m;
    m.library = &library_;
    m.useMapi = false;
    m.compressed = true;
    m.packagePath = package_;
    m.userName = "alice";
    m.emailAddress = to;
    m.fromAddress = "admin@server.test";
    m.subject = "Your backup client – Grüße";
    m.messageBody = "Hello,\n\nplease run the attached program.\n.\nBye";
    m.server = "127.0.0.1";
    m.port = server.Port();
    return m;
  }

  zel::MailLibrary library_;
  std::string scratch_;
  std::string package_;
};

#define REQUIRE_SERVER(s) \
  if (!(s).Ready()) GTEST_SKIP() << (s).Why()

TEST_F(MailTest, SmtpSendsThePackageAsAttachmentWithReceiptHeader) {
  SmtpServer server;
  REQUIRE_SERVER(server);
  zel::MailDelivery m = Mail(server, "alice@example.test");
  m.requestReceipt = true;
  zel::DeliveryOutcome out = zel::DeliverByMail(m);
  EXPECT_EQ(out.status, zel::RESULT_SENT_WITH_ATTACHMENT);
  EXPECT_FALSE(out.jobFailed);
  auto messages = server.Messages(1);
  ASSERT_EQ(messages.size(), 1u);
  std::string text = SmtpServer::Extract(messages[0], scratch_ + "/got");
  EXPECT_NE(text.find("To: alice@example.test"), std::string::npos) << text;
  EXPECT_NE(text.find("From: admin@server.test"), std::string::npos) << text;
  EXPECT_NE(text.find("Subject: Your backup client – Grüße"), std::string::npos) << text;
  EXPECT_NE(text.find("Disposition-Notification-To: admin@server.test"), std::string::npos) << text;
  // The body arrives as written, a line with only a dot included.
  EXPECT_NE(text.find("please run the attached program.\n.\nBye"), std::string::npos) << text;
  EXPECT_EQ(ReadText(scratch_ + "/got/client.exe"), ReadText(package_));
}

TEST_F(MailTest, FolderFormMailHasNoAttachmentAndTheUserNameInTheBody) {
  SmtpServer server;
  REQUIRE_SERVER(server);
  zel::MailDelivery m = Mail(server, "user1@example.test");
  m.compressed = false;
  m.userName = "MYDOM\\user1";
  m.messageBody = "Install from \\\\server\\packages\\<username>\\OrbCSetup.exe (<username>)";
  zel::DeliveryOutcome out = zel::DeliverByMail(m);
  EXPECT_EQ(out.status, zel::RESULT_STORED_OR_NO_ATTACHMENT);
  auto messages = server.Messages(1);
  ASSERT_EQ(messages.size(), 1u);
  std::string text = SmtpServer::Extract(messages[0], scratch_ + "/got");
  EXPECT_EQ(text.find("Disposition-Notification-To"), std::string::npos);
  EXPECT_NE(text.find("Install from \\\\server\\packages\\user1@MYDOM\\OrbCSetup.exe (<username>)"),
            std::string::npos)
      << text;
  EXPECT_FALSE(fs::exists(scratch_ + "/got/client.exe"));
}

TEST_F(MailTest, SmtpFailuresGiveTheirCodesAndEndTheJob) {
  SmtpServer server({"--refuse", "nobody@example.test", "--drop", "dropped@example.test"});
  REQUIRE_SERVER(server);
  struct Case {
    std::string to;
    int port;
    const char* text;
  } cases[] = {
      {"nobody@example.test", server.Port(),
       "Failed to send Email via SMTP: Cannot continue\nSMTP error:  Unknown recipient"},
      {"dropped@example.test", server.Port(),
       "Failed to send Email via SMTP: Cannot continue\nSMTP error:  Socket error"},
      {"alice@example.test", FreePort(),
       "Failed to send Email via SMTP: Cannot continue\nSMTP error:  Connect failure"},
  };
  for (const Case& c : cases) {
    zel::MailDelivery m = Mail(server, c.to);
    m.port = c.port;
    zel::DeliveryOutcome out = zel::DeliverByMail(m);
    EXPECT_EQ(out.status, zel::RESULT_FAILED) << c.to;
    EXPECT_TRUE(out.jobFailed) << c.to;
    EXPECT_EQ(out.text, c.text) << c.to;
  }
  // Nothing was stored for the refused, dropped or unreachable sends.
  EXPECT_TRUE(server.Messages().empty());
  // The same server still takes a good message afterwards.
  EXPECT_EQ(zel::DeliverByMail(Mail(server, "alice@example.test")).status,
            zel::RESULT_SENT_WITH_ATTACHMENT);
}

TEST_F(MailTest, StartTlsIsUsedWhenOfferedAndAnUntrustedCertificateStopsTheSend) {
  std::string cert = scratch_ + "/cert.pem", key = scratch_ + "/key.pem", out;
  if (RunProgram({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out",
                  cert, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                  "subjectAltName=IP:127.0.0.1"},
                 &out) != 0)
    GTEST_SKIP() << "openssl cannot make a certificate: " << out;
  SmtpServer server({"--tls", cert, key});
  REQUIRE_SERVER(server);
  // Not trusted: nothing goes out, in clear or otherwise.
  zel::DeliveryOutcome result = zel::DeliverByMail(Mail(server, "alice@example.test"));
  EXPECT_EQ(result.text, "Failed to send Email via SMTP: Cannot continue\nSMTP error:  Connect failure");
  EXPECT_TRUE(server.Messages().empty());
  // Trusted: the message travels over TLS.
  setenv("QVMAPI_CA_FILE", cert.c_str(), 1);
  result = zel::DeliverByMail(Mail(server, "alice@example.test"));
  unsetenv("QVMAPI_CA_FILE");
  EXPECT_EQ(result.status, zel::RESULT_SENT_WITH_ATTACHMENT) << result.text;
  auto messages = server.Messages(1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(fs::exists(server.Folder() + "/msg-1.tls"));
}

TEST_F(MailTest, BadRecordsAreRefusedBeforeAnythingIsSent) {
  QvMailMessage m{};
  m.subject = "s";
  m.body = "b";
  m.sender = "admin@server.test";
  m.recipient = "x@example.test\r\nBcc: y@example.test";  // header injection
  m.server = "127.0.0.1";
  m.port = 25;
  EXPECT_EQ(library_.qvSMAPISendMessage(&m, 1), zel::MAIL_E_INVALID_RECIPS);
  m.recipient = "x@example.test";
  std::string missing = scratch_ + "/missing.exe";
  m.attachment = missing.c_str();
  EXPECT_EQ(library_.qvSMAPISendMessage(&m, 1), zel::MAIL_E_ATTACHMENT_NOT_FOUND);
  EXPECT_EQ(library_.MySMAPISend(&m), zel::MAIL_E_ATTACHMENT_NOT_FOUND);
}

// Sendmail as msmtp, configured through a scratch HOME to relay to the server.
TEST_F(MailTest, MapiPathHandsTheMessageToSendmail) {
  SmtpServer server({"--refuse", "nobody@example.test"});
  REQUIRE_SERVER(server);
  if (access("/usr/bin/msmtp", X_OK) != 0) GTEST_SKIP() << "msmtp is not installed";
  std::string home = scratch_ + "/home";
  fs::create_directories(home);
  WriteText(home + "/.msmtprc",
            "account default\nhost 127.0.0.1\nport " + std::to_string(server.Port()) +
                "\nfrom admin@server.test\nauth off\ntls off\n",
            0600);
  std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("HOME", home.c_str(), 1);
  setenv("QVMAPI_SENDMAIL", "/usr/bin/msmtp", 1);
  EXPECT_EQ(library_.MySMAPIInit(), 1);
  std::atomic<int> busy{0};
  zel::MailDelivery m = Mail(server, "bob@example.test");
  m.useMapi = true;
  m.mapiBusy = &busy;
  zel::DeliveryOutcome out = zel::DeliverByMail(m);
  EXPECT_EQ(out.status, zel::RESULT_SENT_WITH_ATTACHMENT) << out.text;
  EXPECT_EQ(busy.load(), 0);
  auto messages = server.Messages(1);
  ASSERT_EQ(messages.size(), 1u);
  SmtpServer::Extract(messages[0], scratch_ + "/got");
  EXPECT_EQ(ReadText(scratch_ + "/got/client.exe"), ReadText(package_));

  m.emailAddress = "nobody@example.test";
  out = zel::DeliverByMail(m);
  EXPECT_EQ(out.status, zel::RESULT_FAILED);
  EXPECT_TRUE(out.jobFailed);
  EXPECT_EQ(out.text.rfind("Failed to send Email via MAPI: Cannot continue", 0), 0u) << out.text;

  // Without a submission program the MAPI side is missing.
  setenv("QVMAPI_SENDMAIL", (scratch_ + "/no-sendmail").c_str(), 1);
  EXPECT_EQ(library_.qvSMAPIInstalled(0), 0);
  EXPECT_EQ(library_.MySMAPIInit(), 0);
  unsetenv("QVMAPI_SENDMAIL");
  setenv("HOME", oldHome.c_str(), 1);
  EXPECT_EQ(library_.MySMAPIShutdown(), 1);
}

TEST(MailTexts, ResultCodesMapToTheirStrings) {
  EXPECT_EQ(zel::MailResultStringId(-1), 31);
  EXPECT_EQ(zel::MailResultStringId(-12), 42);
  EXPECT_EQ(zel::MailResultStringId(-15), 45);
  EXPECT_EQ(zel::MailResultStringId(-16), 51);
  EXPECT_EQ(zel::MailResultStringId(-20), 46);
  EXPECT_EQ(zel::MailResultStringId(-24), 50);
  EXPECT_EQ(zel::MailResultStringId(-25), 51);
  EXPECT_EQ(zel::MailResultStringId(3), 51);
  EXPECT_STREQ(zel::MailResultText(-1), "Ambiguous recipient");
  EXPECT_EQ(zel::MailFailureText(true, -12),
            "Failed to send Email via MAPI: Cannot continue\nSMTP error:  Unknown recipient");
  EXPECT_EQ(zel::MailFailureText(false, -12),
            "Failed to send Email via SMTP: Cannot continue\nSMTP error:  Unknown recipient");
  EXPECT_EQ(zel::MailFailureText(false, -5),
            "Failed to send Email via SMTP: Cannot continue\nSMTP error:  Mail services not "
            "available.\nPlease check your mail server address.");
}

TEST(MailTexts, OnlyTheFirstPlaceholderIsReplaced) {
  bool found = false;
  EXPECT_EQ(zel::ReplaceUserNamePlaceholder("a <username> b <username>", "MYDOM\\user1", &found),
            "a user1@MYDOM b <username>");
  EXPECT_TRUE(found);
  EXPECT_EQ(zel::ReplaceUserNamePlaceholder("no name here", "bob", &found), "no name here");
  EXPECT_FALSE(found);
  EXPECT_EQ(zel::ReplaceUserNamePlaceholder("<username>", "bob@corp.test", &found), "bob@corp.test");
}

}  // namespace

namespace {

TEST(MimeText, QuotedPrintableKeepsLinesShortAndEndsEveryLine) {
  EXPECT_EQ(qvmapi::QuotedPrintable(""), "\r\n");
  EXPECT_EQ(qvmapi::QuotedPrintable("x"), "x\r\n");  // a one-byte body once threw
  EXPECT_EQ(qvmapi::QuotedPrintable("a=b \nc\r\n.d"), "a=3Db=20\r\nc\r\n=2Ed\r\n");
  std::string longLine(200, 'y');
  std::string qp = qvmapi::QuotedPrintable(longLine);
  EXPECT_EQ(qp.substr(0, 77), std::string(75, 'y') + "=\r");
  EXPECT_EQ(qvmapi::EncodeHeaderText("plain\r\nBcc: x"), "plain  Bcc: x");
  EXPECT_EQ(qvmapi::EncodeHeaderText("Grüße"), "=?UTF-8?B?R3LDvMOfZQ==?=");
}

}  // namespace
