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

// FILE[:SIDES] with FILE taken relative to dir (a whole word naming a file
// there is FILE alone, as parse_interface_spec takes it).
std::string resolve_spec(const std::string& word, const fs::path& dir) {
  auto join = [&](const std::string& p) {
    const fs::path path(p);
    return (path.is_absolute() || dir.empty() ? path : dir / path).lexically_normal().string();
  };
  std::error_code ec;
  if (fs::is_regular_file(join(word), ec)) return join(word);
  const size_t colon = word.find(':');
  if (colon == std::string::npos) return join(word);
  return join(word.substr(0, colon)) + word.substr(colon);
}

}  // namespace

std::vector<Entry> read_complex_entries(const std::string& arg) {
  std::error_code ec;
  std::vector<Entry> out;
  auto add = [&](const std::string& spec) { out.push_back(Entry{spec, spec, ""}); };
  if (fs::is_directory(arg, ec)) {
    std::vector<std::string> files;
    for (const auto& f : fs::directory_iterator(arg, ec))
      if (f.is_regular_file(ec) && complex_file_name(f.path())) files.push_back(f.path().lexically_normal().string());
    if (ec) throw Error("Error: cannot list the directory " + arg + ": " + ec.message());
    std::sort(files.begin(), files.end());
    for (const std::string& f : files) add(f);
    if (out.empty()) throw Error("Error: no complex file (*.pdb, *.ent, *.cif, *.mmcif, gzipped or not) in " + arg);
    return out;
  }
  const std::string single = resolve_spec(arg, "");
  const std::string file = single.substr(0, fs::is_regular_file(single, ec) ? single.size() : single.find(':'));
  if (complex_file_name(file) || looks_like_pdb(file)) {
    add(single);
    return out;
  }
  std::ifstream in(arg);
  if (!in) throw Error("Error: cannot open " + arg);
  const fs::path dir = fs::path(arg).parent_path();
  int lineno = 0;
  for (std::string line; std::getline(in, line);) {
    ++lineno;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string x; words >> x;) w.push_back(x);
    if (w.empty() || w[0][0] == '#') continue;
    if (w.size() > 1)
      throw Error("Error: line " + std::to_string(lineno) + " of " + arg +
                  " has more than one word; a complex is FILE or FILE:SIDES (chains such as H,L:A)");
    add(resolve_spec(w[0], dir));
  }
  if (in.bad()) throw Error("Error: cannot read " + arg);
  if (out.empty()) throw Error("Error: " + arg + " lists no complex");
  return out;
}

std::vector<Entry> read_entries(const std::string& arg, bool ca) {
  std::error_code ec;
  std::vector<Entry> out;
  if (fs::is_directory(arg, ec)) {
    std::vector<std::string> files;
    for (const auto& f : fs::directory_iterator(arg, ec))
      if (f.is_regular_file(ec) && has_extension(f.path(), {".pdb"}))
        files.push_back(f.path().lexically_normal().string());
    if (ec) throw Error("Error: cannot list the directory " + arg + ": " + ec.message());
    std::sort(files.begin(), files.end());
    for (const std::string& f : files) out.push_back(entry_of(f, "", ca));
    if (out.empty()) throw Error("Error: no *.pdb file in the directory " + arg);
    return out;
  }
  if (has_extension(arg, {".pdb", ".ent"}) || looks_like_pdb(arg)) {
    out.push_back(entry_of(arg, "", ca));
    return out;
  }
  std::ifstream in(arg);
  if (!in) throw Error("Error: cannot open " + arg);
  const fs::path dir = fs::path(arg).parent_path();
  auto resolve = [&](const std::string& p) {
    const fs::path path(p);
    return (path.is_absolute() || dir.empty() ? path : dir / path).lexically_normal().string();
  };
  int lineno = 0;
  for (std::string line; std::getline(in, line);) {
    ++lineno;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string s; words >> s;) w.push_back(s);
    if (w.empty() || w[0][0] == '#') continue;
    if (w.size() > 2)
      throw Error("Error: line " + std::to_string(lineno) + " of " + arg +
                  " has more than two paths (a PDB file and its contact file)");
    out.push_back(entry_of(resolve(w[0]), w.size() == 2 ? resolve(w[1]) : "", ca));
  }
  if (in.bad()) throw Error("Error: cannot read " + arg);
  if (out.empty()) throw Error("Error: " + arg + " lists no interface");
  return out;
}

}  // namespace tarvix::batch
