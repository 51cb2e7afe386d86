// Stands in for the client setup program: writes its arguments, one a
// line, and then "TMPDIR=" with its temporary directory to the file named by
// FAKE_SETUP_OUT (complete or not at all).
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  const char* out = std::getenv("FAKE_SETUP_OUT");
  if (!out) return 1;
  std::string temp = std::string(out) + ".part";
  FILE* f = std::fopen(temp.c_str(), "w");
  if (!f) return 1;
  for (int i = 0; i < argc; ++i) std::fprintf(f, "%s\n", argv[i]);
  const char* tmp = std::getenv("TMPDIR");
  std::fprintf(f, "TMPDIR=%s\n", tmp ? tmp : "");
  std::fclose(f);
  return std::rename(temp.c_str(), out) == 0 ? 0 : 1;
}
