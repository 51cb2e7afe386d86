// The mail library "qvmapi.dll": sends the message record of the send job
// over SMTP with libcurl (qvSMAPISendMessage) or hands it to the system's
// mail submission program, `sendmail -t -i` (the MAPI calls).
#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "mime.h"
#include "zel/delivery.h"

#define QVMAPI_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Owners of the C handles used here.
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;
struct CurlCleanup {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
using Curl = std::unique_ptr<CURL, CurlCleanup>;
struct SlistFree {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using Slist = std::unique_ptr<curl_slist, SlistFree>;

std::string Text(const char* s) { return s ? s : ""; }

// The mail submission program: $QVMAPI_SENDMAIL, else sendmail on PATH,
// else /usr/sbin/sendmail and /usr/lib/sendmail.
std::string SendmailProgram() {
  if (const char* env = std::getenv("QVMAPI_SENDMAIL"); env && *env)
    return access(env, X_OK) == 0 ? env : "";
  if (const char* path = std::getenv("PATH")) {
    std::string p = path;
    std::size_t start = 0;
    while (start <= p.size()) {
      std::size_t end = p.find(':', start);
      if (end == std::string::npos) end = p.size();
      std::string dir = p.substr(start, end - start);
      if (!dir.empty()) {
        std::string candidate = dir + "/sendmail";
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
      }
      start = end + 1;
    }
  }
  for (const char* candidate : {"/usr/sbin/sendmail", "/usr/lib/sendmail"})
    if (access(candidate, X_OK) == 0) return candidate;
  return "";
}

// The checks common to both paths; 0 or a result code.
int CheckMessage(const QvMailMessage* message, qvmapi::MessageParts* parts) {
  if (!message) return zel::MAIL_E_INVALID_SESSION;
  parts->from = Text(message->sender);
  parts->to = Text(message->recipient);
  parts->subject = Text(message->subject);
  parts->body = Text(message->body);
  parts->attachment = Text(message->attachment);
  parts->receipt = message->receipt == 1;
  if (!qvmapi::IsPlainAddress(parts->to)) return zel::MAIL_E_INVALID_RECIPS;
  if (!parts->from.empty() && !qvmapi::IsPlainAddress(parts->from))
    return zel::MAIL_E_INVALID_RECIPS;
  if (parts->receipt && parts->from.empty()) return zel::MAIL_E_BAD_RECEIPT_TYPE;
  if (!parts->attachment.empty()) {
    struct stat st{};
    if (stat(parts->attachment.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      return zel::MAIL_E_ATTACHMENT_NOT_FOUND;
    if (access(parts->attachment.c_str(), R_OK) != 0) return zel::MAIL_E_ATTACHMENT_OPEN;
  }
  return 0;
}

// The message composed into an unnamed temporary file, rewound.
int Compose(const qvmapi::MessageParts& parts, File* out) {
  File file(std::tmpfile());
  if (!file) return zel::MAIL_E_INSUFFICIENT_MEMORY;
  if (!qvmapi::WriteMessage(parts, file.get()))
    return errno == ENOSPC || errno == ENOMEM ? zel::MAIL_E_INSUFFICIENT_MEMORY
                                              : zel::MAIL_E_ATTACHMENT_OPEN;
  std::rewind(file.get());
  *out = std::move(file);
  return 0;
}

// --- SMTP -----------------------------------------------------------------

size_t ReadFromFile(char* buffer, size_t size, size_t count, void* userdata) {
  return std::fread(buffer, size, count, static_cast<std::FILE*>(userdata));
}

int MapCurlResult(CURLcode code, const char* errorText, long responseCode) {
  std::string error = errorText ? errorText : "";
  auto has = [&](const char* what) { return error.find(what) != std::string::npos; };
  switch (code) {
    case CURLE_OK: return 0;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return zel::MAIL_E_HOST_LOOKUP;
    case CURLE_COULDNT_CONNECT:
    // STARTTLS offered but the secure connection failed (an untrusted
    // certificate, say): the message is not sent in clear instead.
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_USE_SSL_FAILED: return zel::MAIL_E_CONNECT;
    case CURLE_OPERATION_TIMEDOUT: return responseCode ? zel::MAIL_E_DISCONNECT : zel::MAIL_E_CONNECT;
    case CURLE_LOGIN_DENIED:
    case CURLE_AUTH_ERROR: return zel::MAIL_E_LOGIN_FAILURE;
    case CURLE_OUT_OF_MEMORY: return zel::MAIL_E_INSUFFICIENT_MEMORY;
    case CURLE_READ_ERROR: return zel::MAIL_E_ATTACHMENT_OPEN;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_FAILED_INIT:
    case CURLE_URL_MALFORMAT: return zel::MAIL_E_INIT_FAILURE;
    default: break;
  }
  // The server's answer to a command: libcurl names the command that failed.
  if (has("RCPT failed")) {
    if (responseCode == 552 || responseCode == 452) return zel::MAIL_E_TOO_MANY_RECIPIENTS;
    return zel::MAIL_E_UNKNOWN_RECIPIENT;
  }
  if (has("MAIL failed")) {
    if (responseCode == 552) return zel::MAIL_E_TEXT_TOO_LARGE;
    return responseCode == 530 ? zel::MAIL_E_LOGIN_FAILURE : zel::MAIL_E_INVALID_RECIPS;
  }
  if (responseCode == 552) return zel::MAIL_E_TEXT_TOO_LARGE;
  if (responseCode == 530 || responseCode == 535) return zel::MAIL_E_LOGIN_FAILURE;
  switch (code) {
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_WEIRD_SERVER_REPLY: return zel::MAIL_E_SOCKET;
    default: return -99;  // "Unknown"
  }
}

std::once_flag curlInit;

int SendSmtp(const QvMailMessage* message) {
  qvmapi::MessageParts parts;
  if (int rc = CheckMessage(message, &parts)) return rc;
  std::string server = Text(message->server);
  if (server.empty()) return zel::MAIL_E_HOST_LOOKUP;
  if (message->port <= 0 || message->port > 65535) return zel::MAIL_E_CONNECT;
  File body;
  if (int rc = Compose(parts, &body)) return rc;

  std::call_once(curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  Curl curl(curl_easy_init());
  if (!curl) return zel::MAIL_E_INIT_FAILURE;
  // An IPv6 literal needs brackets in the URL.
  std::string host = server.find(':') != std::string::npos && server.front() != '['
                         ? "[" + server + "]" : server;
  std::string url = "smtp://" + host + ":" + std::to_string(message->port);
  char hostname[256] = "localhost";
  gethostname(hostname, sizeof hostname - 1);
  url += "/" + std::string(hostname);  // the EHLO name
  std::string from = "<" + parts.from + ">";
  Slist recipients(curl_slist_append(nullptr, ("<" + parts.to + ">").c_str()));
  char errorBuffer[CURL_ERROR_SIZE] = "";
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.c_str());
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT, recipients.get());
  curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
  curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(c, CURLOPT_READFUNCTION, ReadFromFile);
  curl_easy_setopt(c, CURLOPT_READDATA, body.get());
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 30L);
  // A server that stops answering ends the send after a minute without progress.
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 60L);
  // A mail server whose certificate comes from a private authority.
  if (const char* ca = std::getenv("QVMAPI_CA_FILE"); ca && *ca) curl_easy_setopt(c, CURLOPT_CAINFO, ca);
  if (const char* verbose = std::getenv("QVMAPI_VERBOSE"); verbose && *verbose == '1')
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
  CURLcode result = curl_easy_perform(c);
  long responseCode = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &responseCode);
  return MapCurlResult(result, errorBuffer, responseCode);
}

// --- mail submission program -------------------------------------------------

// sysexits.h codes of sendmail-compatible programs.
int MapSendmailExit(int code) {
  switch (code) {
    case 0: return 0;
    case 64: case 65: return zel::MAIL_E_INVALID_RECIPS;  // usage, data error
    case 67: return zel::MAIL_E_UNKNOWN_RECIPIENT;        // no such user
    case 68: return zel::MAIL_E_HOST_LOOKUP;              // host unknown
    case 69: return zel::MAIL_E_SERVICES_NOT_AVAILABLE;   // unavailable
    case 71: case 74: return zel::MAIL_E_SOCKET;          // OS or I/O error
    case 75: return zel::MAIL_E_CONNECT;                  // temporary failure
    case 77: return zel::MAIL_E_LOGIN_FAILURE;            // permission denied
    case 78: return zel::MAIL_E_INIT_FAILURE;             // configuration error
    default: return -99;
  }
}

int SendThroughSendmail(const QvMailMessage* message) {
  qvmapi::MessageParts parts;
  if (int rc = CheckMessage(message, &parts)) return rc;
  std::string program = SendmailProgram();
  if (program.empty()) return zel::MAIL_E_API_MISSING;
  File body;
  if (int rc = Compose(parts, &body)) return rc;
  pid_t pid = fork();
  if (pid < 0) return zel::MAIL_E_INSUFFICIENT_MEMORY;
  if (pid == 0) {
    // The child reads the composed message; its output goes nowhere.
    dup2(fileno(body.get()), 0);
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    execl(program.c_str(), program.c_str(), "-t", "-i", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return zel::MAIL_E_SOCKET;
  if (WIFSIGNALED(status)) return zel::MAIL_E_USER_ABORT;
  int code = WEXITSTATUS(status);
  return code == 127 ? zel::MAIL_E_API_MISSING : MapSendmailExit(code);
}

bool initialized = false;

}  // namespace

// Nonzero when a mail submission program is there.
QVMAPI_EXPORT int qvSMAPIInstalled(int) { return SendmailProgram().empty() ? 0 : 1; }

QVMAPI_EXPORT int MySMAPIInit(void) {
  initialized = !SendmailProgram().empty();
  return initialized ? 1 : 0;
}

QVMAPI_EXPORT int MySMAPIShutdown(void) {
  initialized = false;
  return 1;
}

QVMAPI_EXPORT int MySMAPISend(const QvMailMessage* message) {
  return SendThroughSendmail(message);
}

// smtp 1: over SMTP to the record's server and port; 0: like MySMAPISend.
QVMAPI_EXPORT int qvSMAPISendMessage(const QvMailMessage* message, int smtp) {
  return smtp ? SendSmtp(message) : SendThroughSendmail(message);
}
