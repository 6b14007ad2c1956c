// End-to-end tests of the runs that start from whole complexes.
#include <gtest/gtest.h>

#include "../support/program.h"
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

namespace {

const std::string kData = TARVIX_TEST_DATA;


// The report without its file names and running time.
std::string masked(const std::string& report) {
  std::istringstream in(report);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("Running time:")) {
      line = "Running time:";
    } else if (line.starts_with("Structure 1: ") || line.starts_with("Structure 2: ")) {
      const size_t name_end = line.find(' ', 13);
      const size_t next = line.find_first_not_of(' ', name_end);
      line.erase(13, next == std::string::npos ? std::string::npos : next - 13);
    }
    out += line;
    out += '\n';
  }
  return out;
}

std::string classic(const std::string& opts, const std::string& a, const std::string& b) {
  return opts + " " + a + "_AB.pdb " + b + "_AB.pdb " + a + "_AB.contacts " + b + "_AB.contacts";
}

TEST(ComplexCli, ComparingComplexesPrintsTheReportOfTheirInterfaceFiles) {
  struct Case {
    const char* opts;
    const char* a;
    const char* b;
  };
  for (const Case& c : {Case{"", "1A2K", "7CEI"}, Case{"-v 2", "1CGI", "2SIC"}, Case{"-s", "1GPW", "1R6Q"},
                        Case{"-t", "1MLC", "2I25"}, Case{"-a", "3CPH", "3MXW"}, Case{"", "1M27", "1KTZ"}}) {
    const ProgramRun direct = tarvix(std::string("--complex ") + c.opts + " complexes/" + c.a + ".pdb.gz:A:B complexes/" +
                              c.b + ".pdb.gz");
    const ProgramRun files = tarvix(classic(c.opts, c.a, c.b));
    EXPECT_EQ(direct.status, files.status) << c.a << " " << c.b;
    // Warnings about the input go to standard error, ahead of the report.
    std::string report = direct.out;
    while (report.starts_with("Warning: complexes/")) report.erase(0, report.find('\n') + 1);
    EXPECT_NE(report.find("-score = "), std::string::npos) << report;
    EXPECT_EQ(masked(report), masked(files.out)) << c.a << " " << c.b;
  }
  const ProgramRun cif = tarvix("--complex -b complexes/mmcif/1ZHI.cif.gz complexes/mmcif/7CEI.cif");
  EXPECT_EQ(masked(cif.out), masked(tarvix(classic("-b", "1ZHI", "7CEI")).out));
}

TEST(ComplexCli, ExtractedFilesGiveTheDirectReport) {
  const std::string dir = std::filesystem::temp_directory_path() / ("tarvix_cli_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const ProgramRun ex = tarvix("--extract complexes/1AZS.pdb.gz:A:B --out " + dir + "/az");
  EXPECT_EQ(ex.status, 0) << ex.out;
  EXPECT_NE(ex.out.find("az.contacts: 34 residues ("), std::string::npos) << ex.out;
  const ProgramRun direct = tarvix("--complex -c complexes/7CEI.pdb.gz complexes/1AZS.pdb.gz");
  const ProgramRun files = tarvix("-c 7CEI_AB.pdb " + dir + "/az.pdb 7CEI_AB.contacts " + dir + "/az.contacts");
  EXPECT_NE(direct.out.find("TX-score"), std::string::npos) << direct.out;
  EXPECT_EQ(masked(direct.out.substr(direct.out.find('\n') + 1)), masked(files.out));
  // With --ss ca the classes come from the CA geometry, mkdssp or not.
  const ProgramRun ca = tarvix("--extract complexes/7CEI.pdb.gz --ss ca --out " + dir + "/ca", "PATH=/nonexistent");
  EXPECT_EQ(ca.status, 0) << ca.out;
  std::filesystem::remove_all(dir);
}

TEST(ComplexCli, MisuseAndBadInput) {
  auto status = [](const std::string& args) { return tarvix(args).status; };
  EXPECT_EQ(status("--complex complexes/1A2K.pdb.gz"), 2);
  EXPECT_EQ(status("--complex --ss xyz complexes/1A2K.pdb.gz complexes/7CEI.pdb.gz"), 2);
  EXPECT_EQ(status("--complex -ca complexes/1A2K.pdb.gz complexes/7CEI.pdb.gz"), 2);
  EXPECT_EQ(status("--extract complexes/1A2K.pdb.gz"), 2);
  EXPECT_EQ(status("--ss ca " + classic("", "1A2K", "7CEI")), 2);
  EXPECT_EQ(status("--out x " + classic("", "1A2K", "7CEI")), 2);
  const ProgramRun missing = tarvix("--complex complexes/1A2K.pdb.gz:A:C complexes/7CEI.pdb.gz");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "Error: complexes/1A2K.pdb.gz: there is no protein chain \"C\" (its protein chains: A, B)\n");
  const ProgramRun nodssp = tarvix("--complex complexes/1A2K.pdb.gz complexes/7CEI.pdb.gz", "PATH=/nonexistent");
  EXPECT_EQ(nodssp.status, 1);
  EXPECT_NE(nodssp.out.find("needs the program mkdssp"), std::string::npos) << nodssp.out;
  const ProgramRun notpdb = tarvix("--complex 1A2K_AB.contacts complexes/7CEI.pdb.gz");
  EXPECT_EQ(notpdb.status, 1);
  EXPECT_NE(notpdb.out.find("1A2K_AB.contacts: the file is neither PDB"), std::string::npos) << notpdb.out;
}

}  // namespace
