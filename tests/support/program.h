// Running the program itself, for the end-to-end tests.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace {

// What a run printed (standard output and error together) and its exit
// status (-1 when it did not exit normally).
struct ProgramRun {
  std::string out;
  int status = -1;
};

// Runs "Tarvix ARGS" in the bundled data folder; `env` holds variable
// assignments put before the command.
inline ProgramRun tarvix(const std::string& args, const std::string& env = "") {
  const std::string cmd = "cd '" + std::string(TARVIX_TEST_DATA) + "' && " + env + " '" + TARVIX_BIN + "' " +
                          args + " 2>&1";
  ProgramRun r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

}  // namespace
