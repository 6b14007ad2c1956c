#include "batch/inputs.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "structure/error.h"

namespace tarvix::batch {
namespace {

namespace fs = std::filesystem;

bool has_extension(const fs::path& p, std::initializer_list<const char*> exts) {
  std::string e = p.extension().string();
  std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const char* x : exts)
    if (e == x) return true;
  return false;
}

// A file with coordinate records among its first lines.
bool looks_like_pdb(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  for (int n = 0; n < 200 && std::getline(in, line); ++n)
    if (line.rfind("ATOM  ", 0) == 0 || line.rfind("HETATM", 0) == 0) return true;
  return false;
}

Entry entry_of(const std::string& pdb, const std::string& contacts, bool ca) {
  Entry e;
  e.name = pdb;
  e.pdb = pdb;
  if (!ca) e.contacts = contacts.empty() ? contacts_of(pdb) : contacts;
  return e;
}

}  // namespace

std::string contacts_of(const std::string& pdb) {
  return fs::path(pdb).replace_extension(".contacts").string();
}

namespace {

bool complex_file_name(const fs::path& p) {
  fs::path q = p;
  if (has_extension(q, {".gz"})) q = q.stem();
  return has_extension(q, {".pdb", ".ent", ".cif", ".mmcif"});
}

// A path as written in a list, taken relative to the list's directory.
std::string relative_to(const std::string& p, const fs::path& dir) {
  const fs::path path(p);
  return (path.is_absolute() || dir.empty() ? path : dir / path).lexically_normal().string();
}

// FILE[:SIDES] with FILE taken relative to dir (a whole word naming a file
// there is FILE alone, as parse_interface_choice takes it).
std::string resolve_choice(const std::string& word, const fs::path& dir) {
  std::error_code ec;
  if (fs::is_regular_file(relative_to(word, dir), ec)) return relative_to(word, dir);
  const size_t colon = word.find(':');
  if (colon == std::string::npos) return relative_to(word, dir);
  return relative_to(word.substr(0, colon), dir) + word.substr(colon);
}

// The regular files of a directory that `keep` takes, sorted by name; none
// when arg is not a directory.
template <class Keep>
std::vector<std::string> directory_files(const std::string& arg, Keep keep) {
  std::error_code ec;
  std::vector<std::string> files;
  for (const auto& f : fs::directory_iterator(arg, ec))
    if (f.is_regular_file(ec) && keep(f.path())) files.push_back(f.path().lexically_normal().string());
  if (ec) throw Error("Error: cannot list the directory " + arg + ": " + ec.message());
  std::sort(files.begin(), files.end());
  return files;
}

// Calls each(words, line number) for every line of a list file that is not
// blank or a comment; the words are separated by blanks.
template <class Each>
void for_each_list_line(const std::string& arg, Each each) {
  std::ifstream in(arg);
  if (!in) throw Error("Error: cannot open " + arg);
  int lineno = 0;
  for (std::string line; std::getline(in, line);) {
    ++lineno;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string x; words >> x;) w.push_back(x);
    if (w.empty() || w[0][0] == '#') continue;
    each(w, lineno);
  }
  if (in.bad()) throw Error("Error: cannot read " + arg);
}

}  // namespace

std::vector<Entry> read_complex_entries(const std::string& arg) {
  std::error_code ec;
  std::vector<Entry> out;
  auto add = [&](const std::string& choice) { out.push_back(Entry{choice, choice, ""}); };
  if (fs::is_directory(arg, ec)) {
    for (const std::string& f : directory_files(arg, complex_file_name)) add(f);
    if (out.empty()) throw Error("Error: no complex file (*.pdb, *.ent, *.cif, *.mmcif, gzipped or not) in " + arg);
    return out;
  }
  const std::string single = resolve_choice(arg, "");
  const std::string file = single.substr(0, fs::is_regular_file(single, ec) ? single.size() : single.find(':'));
  if (complex_file_name(file) || looks_like_pdb(file)) {
    add(single);
    return out;
  }
  const fs::path dir = fs::path(arg).parent_path();
  for_each_list_line(arg, [&](const std::vector<std::string>& w, int lineno) {
    if (w.size() > 1)
      throw Error("Error: line " + std::to_string(lineno) + " of " + arg +
                  " has more than one word; a complex is FILE or FILE:SIDES (chains such as H,L:A)");
    add(resolve_choice(w[0], dir));
  });
  if (out.empty()) throw Error("Error: " + arg + " lists no complex");
  return out;
}

std::vector<Entry> read_entries(const std::string& arg, bool ca) {
  std::error_code ec;
  std::vector<Entry> out;
  if (fs::is_directory(arg, ec)) {
    const auto pdb = [](const fs::path& p) { return has_extension(p, {".pdb"}); };
    for (const std::string& f : directory_files(arg, pdb)) out.push_back(entry_of(f, "", ca));
    if (out.empty()) throw Error("Error: no *.pdb file in the directory " + arg);
    return out;
  }
  if (has_extension(arg, {".pdb", ".ent"}) || looks_like_pdb(arg)) {
    out.push_back(entry_of(arg, "", ca));
    return out;
  }
  const fs::path dir = fs::path(arg).parent_path();
  for_each_list_line(arg, [&](const std::vector<std::string>& w, int lineno) {
    if (w.size() > 2)
      throw Error("Error: line " + std::to_string(lineno) + " of " + arg +
                  " has more than two paths (a PDB file and its contact file)");
    out.push_back(entry_of(relative_to(w[0], dir), w.size() == 2 ? relative_to(w[1], dir) : "", ca));
  });
  if (out.empty()) throw Error("Error: " + arg + " lists no interface");
  return out;
}

}  // namespace tarvix::batch
