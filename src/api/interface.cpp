#include <memory>
#include <sstream>

#include "api/tarvix.h"
#include "structure/chains.h"
#include "structure/readers.h"
#include "structure/structure.h"

namespace tarvix {

struct Interface::Data {
  explicit Data(Structure s) : structure(std::move(s)) {}
  Structure structure;
  std::string name;
  std::vector<std::string> warnings;
  int contacts = 0;
};

namespace {

// Warning lines written by a reader, one entry per line (line end kept).
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line + '\n');
  return lines;
}

}  // namespace

Interface Interface::read(const std::string& pdbfile, const std::string& contactfile) {
  auto s = std::make_unique<Structure>(kReadCapacity);
  std::ostringstream warnings;
  readpdbfile(pdbfile, *s, 0, warnings);
  readcontfile(contactfile, *s, warnings);
  s->chainid_read = s->chainid;
  return from_structure(*s, pdbfile, lines_of(warnings.str()));
}

Interface Interface::read_ca(const std::string& pdbfile) {
  auto s = std::make_unique<Structure>(kReadCapacity);
  std::ostringstream warnings;
  readpdbfile(pdbfile, *s, 1, warnings);
  s->chainid_read = s->chainid;
  return from_structure(*s, pdbfile, lines_of(warnings.str()));
}

Interface Interface::from_structure(const Structure& s, std::string name, std::vector<std::string> warnings) {
  return from_structure(s.compact(), std::move(name), std::move(warnings));
}

Interface Interface::from_structure(Structure&& s, std::string name, std::vector<std::string> warnings) {
  auto d = std::make_shared<Data>(std::move(s));
  mark_sides(d->structure);
  d->name = std::move(name);
  d->warnings = std::move(warnings);
  const Structure& c = d->structure;
  for (int i = 1; i <= c.len && i <= c.chains[1]; ++i) d->contacts += c.contnum[i];
  Interface out;
  out.d_ = std::move(d);
  return out;
}

const std::string& Interface::name() const { return d_->name; }
int Interface::length() const { return d_->structure.len; }
int Interface::chains() const { return d_->structure.nchain; }
int Interface::contacts() const { return d_->contacts; }
const std::vector<std::string>& Interface::warnings() const { return d_->warnings; }
const Structure& Interface::structure() const { return d_->structure; }

Residue Interface::residue(int i) const {
  const Structure& s = d_->structure;
  if (i < 1 || i > s.len) throw Error("residue " + std::to_string(i) + " is outside 1.." + std::to_string(s.len));
  Residue r;
  for (int k = 1; k <= s.nchain; ++k)
    if (i <= s.chains[k]) {
      r.chain = s.chainid_read[k];
      break;
    }
  r.number.assign(s.resnum[i].data(), 5);
  r.name.assign(s.resname[i].data(), 3);
  r.code = s.seq[i];
  r.side = s.id2chain[i];
  return r;
}

std::array<double, 3> Interface::ca(int i) const {
  const Structure& s = d_->structure;
  if (i < 1 || i > s.len) throw Error("residue " + std::to_string(i) + " is outside 1.." + std::to_string(s.len));
  return s.ca[i];
}

std::vector<int> Interface::partners(int i) const {
  const Structure& s = d_->structure;
  if (i < 1 || i > s.len) throw Error("residue " + std::to_string(i) + " is outside 1.." + std::to_string(s.len));
  const int* p = s.partners(i);
  return std::vector<int>(p + 1, p + 1 + s.contnum[i]);
}

}  // namespace tarvix
