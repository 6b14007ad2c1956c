// Secondary-structure classes from mkdssp. The chains go to the program as a
// PDB file written here (a HEADER and a CRYST1 record, which it needs, then
// the atoms with chains renamed to one character and residues numbered from
// 1), so that every line of its answer maps back to one residue.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

#include "complex/complex.h"
#include "complex/pdb_format.h"
#include "structure/error.h"

extern char** environ;

namespace tarvix {
namespace {

constexpr char kChainLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kMaxDsspResidues = 9999;  // residue numbers of one chain in 4 columns

[[noreturn]] void fail(const std::string& path, const std::string& problem) {
  throw Error("Error: " + path + ": " + problem);
}

// The program as found on PATH (or as given, when it holds a '/'); empty
// when there is none.
std::string find_program(const std::string& name) {
  auto runnable = [](const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
  };
  if (name.find('/') != std::string::npos) return runnable(name) ? name : "";
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t at = 0;
  for (;;) {
    const size_t k = dirs.find(':', at);
    const std::string_view dir =
        std::string_view(dirs).substr(at, k == std::string::npos ? std::string::npos : k - at);
    std::string p(dir.empty() ? std::string_view(".") : dir);
    p += '/';
    p += name;
    if (runnable(p)) return p;
    if (k == std::string::npos) return "";
    at = k + 1;
  }
}

// A private directory that is removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tarvix-dssp-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw Error(std::string("Error: cannot make a temporary directory for mkdssp (") + std::strerror(errno) + ")");
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string file(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string dssp_input(const Complex& c, const std::vector<int>& chains) {
  std::string out;
  out += "HEADER    PROTEIN COMPLEX                         01-JAN-00   TRVX              \n";
  out += "CRYST1    1.000    1.000    1.000  90.00  90.00  90.00 P 1           1          \n";
  int serial = 0;
  char line[128];
  for (size_t k = 0; k < chains.size(); ++k) {
    const ComplexChain& ch = c.chains[static_cast<size_t>(chains[k])];
    if (static_cast<int>(ch.residues.size()) > kMaxDsspResidues)
      fail(c.path, "chain " + ch.name + " has more than " + std::to_string(kMaxDsspResidues) +
                       " residues, more than mkdssp can be given; use --ss ca");
    const char id = kChainLetters[k];
    for (size_t r = 0; r < ch.residues.size(); ++r) {
      const ComplexResidue& res = ch.residues[r];
      for (const ComplexAtom& a : res.atoms) {
        serial = serial % 99999 + 1;
        std::snprintf(line, sizeof line,
                      "ATOM  %5d %4s %3.3s %c%4d    %8.3f%8.3f%8.3f  1.00  0.00          %2s\n", serial,
                      pdb_atom_name(a).c_str(), res.name.c_str(), id, static_cast<int>(r) + 1,
                      a.pos[0], a.pos[1], a.pos[2], a.element.substr(0, 2).c_str());
        out += line;
      }
    }
    // A full terminator: mkdssp drops a bare "TER" and then loses the first
    // residue of the next chain.
    if (!ch.residues.empty()) {
      serial = serial % 99999 + 1;
      std::snprintf(line, sizeof line, "TER   %5d      %3.3s %c%4d%54s\n", serial,
                    ch.residues.back().name.c_str(), id, static_cast<int>(ch.residues.size()), "");
      out += line;
    }
  }
  out += "END\n";
  return out;
}

int dssp_class(char ss) {
  switch (ss) {
    case 'H': case 'G': case 'I': case 'P': return 2;
    case 'E': case 'B': return 4;
    case 'T': return 3;
    default: return 1;
  }
}

std::string first_line(const std::string& file) {
  std::ifstream in(file);
  std::string line, msg;
  while (std::getline(in, line) && msg.empty()) {
    const size_t k = line.find_first_not_of(" \t\r");
    if (k != std::string::npos) msg = line.substr(k);
  }
  return msg;
}

}  // namespace

std::vector<std::vector<int>> classes_from_dssp(const Complex& c, const std::vector<int>& chains,
                                                const std::string& program) {
  if (chains.size() > sizeof kChainLetters - 1)
    fail(c.path, "more protein chains than mkdssp can be given at once; use --ss ca");
  const std::string exe = find_program(program);
  if (exe.empty())
    throw Error("Error: --ss dssp needs the program " + program +
                " (Debian package dssp), which is not installed; install it or choose --ss ca");
  TempDir dir;
  const std::string in = dir.file("complex.pdb");
  const std::string out = dir.file("complex.dssp");
  const std::string log = dir.file("mkdssp.log");
  {
    std::ofstream f(in, std::ios::binary);
    f << dssp_input(c, chains);
    f.close();
    if (!f) throw Error("Error: cannot write the input of mkdssp in " + in);
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  // mkdssp's own command line: the classic DSSP text format is the one read below.
  std::vector<std::string> args = {exe, "--output-format", "dssp", in, out};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0)
    throw Error("Error: cannot run " + exe + " (" + std::strerror(spawned) + ")");
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) throw Error("Error: lost track of " + exe);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    const std::string why = first_line(log);
    fail(c.path, "mkdssp failed on the complex" + (why.empty() ? std::string() : ": " + why));
  }

  std::vector<std::vector<int>> classes;
  for (int ch : chains) classes.emplace_back(c.chains[static_cast<size_t>(ch)].residues.size(), 1);
  std::ifstream f(out);
  std::string line;
  bool table = false;
  int rows = 0;
  while (std::getline(f, line)) {
    if (!table) {
      table = line.starts_with("  #  RESIDUE");
      continue;
    }
    if (line.size() < 17 || line[13] == '!') continue;  // chain break
    const char* id = std::strchr(kChainLetters, line[11]);
    const int num = std::atoi(line.substr(5, 5).c_str());
    if (!id || line[11] == '\0' || static_cast<size_t>(id - kChainLetters) >= chains.size()) continue;
    std::vector<int>& cls = classes[static_cast<size_t>(id - kChainLetters)];
    if (num < 1 || num > static_cast<int>(cls.size())) continue;
    cls[static_cast<size_t>(num - 1)] = dssp_class(line[16]);
    ++rows;
  }
  if (!table || rows == 0)
    fail(c.path, "mkdssp gave no secondary structure for the complex" +
                     (first_line(log).empty() ? std::string() : ": " + first_line(log)));
  return classes;
}

}  // namespace tarvix
