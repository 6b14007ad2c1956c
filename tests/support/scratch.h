// For tests that write files: a folder of their own per test, and the message
// of the error a call throws.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "structure/error.h"

namespace {

// <system temporary folder>/tarvix_<tag>_<process>_<test name>, made before
// each test and removed after it.
class ScratchDir : public ::testing::Test {
 protected:
  explicit ScratchDir(const std::string& tag)
      : dir_(std::filesystem::temp_directory_path() /
             ("tarvix_" + tag + "_" + std::to_string(getpid()) + "_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name())) {}
  void SetUp() override { std::filesystem::create_directories(dir_); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  // Writes text, byte for byte, to the file `name` of the folder; returns its path.
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(path(name), std::ios::binary) << text;
    return path(name);
  }

  const std::filesystem::path dir_;
};

// The message of the tarvix::Error that f throws, or "no error".
template <class F>
std::string error_of(F f) {
  try {
    f();
  } catch (const tarvix::Error& e) {
    return e.what();
  }
  return "no error";
}

}  // namespace
