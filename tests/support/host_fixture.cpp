#include "tests/support/host_fixture.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "tests/support/qt_app.h"
#include "tests/support/udp_ports.h"

void HostFixture::SetUpTestSuite() { EnsureQApplication(); }

void HostFixture::SetUp() {
  // One folder of its own directly in the temporary folder: a
  // parameterised test's name ("Name/0") must not make two.
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::replace(name.begin(), name.end(), '/', '_');
  dir_ = std::filesystem::temp_directory_path() /
         ("qor-host-" + std::to_string(::getpid()) + "-" + name);
  std::filesystem::create_directories(dir_);
  old_ = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  modem_ = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(modem_, 0);
  ASSERT_EQ(::grantpt(modem_), 0);
  ASSERT_EQ(::unlockpt(modem_), 0);
  std::ofstream("modem.ini") << "[modem]\nport=" << ::ptsname(modem_) << "\n";
  std::vector<uint16_t> ports = FreeUdpPorts(2);
  ASSERT_EQ(ports.size(), 2u);
  smsPort_ = ports[0];
  smsPeerPort_ = ports[1];
  WriteIni("");
}

void HostFixture::TearDown() {
  ::close(modem_);
  std::filesystem::current_path(old_);
  std::filesystem::remove_all(dir_);
}

void HostFixture::WriteIni(const std::string& text) {
  std::ofstream out("qor.ini");
  out << text;
  if (text.find("[SMS]") == std::string::npos)
    out << "\n[SMS]\nPort=" << smsPort_ << "\nPeerPort=" << smsPeerPort_ << "\n";
  // The shipped qor.ini's size, which runs all of it: a test of a size short
  // of that names its own.
  if (text.find("[Memory]") == std::string::npos) out << "\n[Memory]\nSize=2048\n";
}

void HostFixture::WriteIniWithDefaultSkin(const std::string& more) {
  WriteIni(std::string("[Display]\nSkin=") + QOR_SOURCE_DIR +
           "/dist/skins/default/default.ini\n" + more);
}
