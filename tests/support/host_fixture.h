// The real host under Qt's offscreen platform: one application for the test
// binary, and per test a fresh working folder with a modem.ini whose port is
// a pseudo-terminal (the host will not start without an openable modem).
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

class HostFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // Writes qor.ini in the working folder.
  void WriteIni(const std::string& text);
  // A qor.ini naming the default skin of the source tree.
  void WriteIniWithDefaultSkin(const std::string& more = "");

  std::filesystem::path dir_, old_;
  int modem_ = -1;
};
