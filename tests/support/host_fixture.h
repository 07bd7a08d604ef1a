// The real host under Qt's offscreen platform: one application for the test
// binary, and per test a fresh working folder with a modem.ini whose port is
// a pseudo-terminal (the host will not start without an openable modem) and
// a qor.ini whose short-message ports are ones the system has free.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

class HostFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // Writes qor.ini in the working folder; the free ports are added unless the
  // text has its own "[SMS]" section, and the shipped memory size unless it
  // has its own "[Memory]" section.
  void WriteIni(const std::string& text);
  // A qor.ini naming the default skin of the source tree.
  void WriteIniWithDefaultSkin(const std::string& more = "");

  std::filesystem::path dir_, old_;
  int modem_ = -1;
  uint16_t smsPort_ = 0, smsPeerPort_ = 0;
};
