// A mail library whose Simple MAPI send blocks until the test lets it go:
// it creates the file named by TEST_MAIL_STARTED when a send begins and
// returns once the file named by TEST_MAIL_RELEASE exists (at most 60 s).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "zel/delivery.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT int qvSMAPIInstalled(int) { return 1; }
EXPORT int MySMAPIInit(void) { return 1; }
EXPORT int MySMAPIShutdown(void) { return 1; }

EXPORT int MySMAPISend(const QvMailMessage*) {
  const char* started = std::getenv("TEST_MAIL_STARTED");
  const char* release = std::getenv("TEST_MAIL_RELEASE");
  if (started) {
    if (std::FILE* f = std::fopen(started, "w")) std::fclose(f);
  }
  for (int i = 0; release && i < 6000 && access(release, F_OK) != 0; ++i) usleep(10000);
  return 0;
}

EXPORT int qvSMAPISendMessage(const QvMailMessage*, int) { return 0; }
