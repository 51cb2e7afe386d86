// Helpers for package tests: building members by hand and running programs.
#pragma once
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "scratch.h"
#include "zel/implode.h"

extern char** environ;

namespace pkgtest {

inline std::string Compress(const std::string& content) {
  struct State {
    const std::string* in;
    std::size_t pos;
    std::string out;
  } state{&content, 0, {}};
  std::vector<char> work(zel::kImplodeWorkSize);
  unsigned type = zel::CMP_BINARY, dict = 4096;
  zel::implode(
      [](char* buf, unsigned* size, void* p) -> unsigned {
        auto* s = static_cast<State*>(p);
        std::size_t n = std::min<std::size_t>(*size, s->in->size() - s->pos);
        s->in->copy(buf, n, s->pos);
        s->pos += n;
        return static_cast<unsigned>(n);
      },
      [](char* buf, unsigned* size, void* p) { static_cast<State*>(p)->out.append(buf, *size); },
      work.data(), &state, &type, &dict);
  return state.out;
}

inline std::uint32_t Crc(const std::string& content) {
  unsigned long crc = 0xFFFFFFFFul;
  unsigned size = static_cast<unsigned>(content.size());
  crc = zel::crc32(const_cast<char*>(content.data()), &size, &crc);
  return static_cast<std::uint32_t>(~crc);
}

inline void PutLe32(std::string* out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// One member's bytes, with every field as given.
inline std::string RawMember(const std::string& compressed, std::uint32_t crc, std::uint32_t sequence,
                             const std::string& name) {
  std::string out = compressed;
  PutLe32(&out, crc);
  PutLe32(&out, static_cast<std::uint32_t>(compressed.size()));
  PutLe32(&out, sequence);
  PutLe32(&out, static_cast<std::uint32_t>(name.size()));
  out += name;
  PutLe32(&out, static_cast<std::uint32_t>(name.size() + 16));
  return out;
}

inline std::string Member(const std::string& content, std::uint32_t sequence, const std::string& name) {
  return RawMember(Compress(content), Crc(content), sequence, name);
}

struct RunResult {
  int status = -1;
  std::string output;  // standard output and error together
};

// Starts a program with extra environment settings (and no display), its
// standard output and error going to outputFile; the process id, or -1.
inline pid_t Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& outputFile) {
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const std::string& set : env)
      if (entry.compare(0, set.find('=') + 1, set, 0, set.find('=') + 1) == 0) replaced = true;
    if (!replaced && entry.rfind("DISPLAY=", 0) != 0 && entry.rfind("WAYLAND_DISPLAY=", 0) != 0)
      environment.push_back(entry);
  }
  for (const std::string& set : env) environment.push_back(set);
  std::vector<char*> envp, args;
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argCopy = argv;
  for (auto& a : argCopy) args.push_back(a.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The exit status of a started program (128 + signal when killed), or -1.
inline int Wait(pid_t pid) {
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs a program with extra environment settings and waits for it.
inline RunResult Run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& outputFile) {
  RunResult result;
  result.status = Wait(Start(argv, env, outputFile));
  result.output = ScratchTest::ReadFile(outputFile);
  return result;
}

}  // namespace pkgtest
