// The "Storage" section of qor.ini reaches the storage classes: a block the
// built-in quota refuses goes through once qor.ini raises it.
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "host/hostini.h"
#include "host/hostsettings.h"
#include "kernel/ubstore.h"
#include "tests/kernel/config_fixture.h"

namespace {

class StorageQuotaTest : public WorkDirFixture {};

TEST_F(StorageQuotaTest, PageTakes8001BytesOnlyAfterQorIniRaisesItsQuota) {
  Recorder task(70);
  Pump();
  const std::vector<uint8_t> block(8001, 0x5A);
  UbstoreWrite(task.task(), "page", block.data(), 8001, 1);
  Pump();
  EXPECT_EQ(task.log.back(), (Received{UbstoreMsg::Written, kUbstoreOverQuota, 1}));
  EXPECT_FALSE(Exists("page"));

  std::ofstream("qor.ini") << "[Storage]\npage=9000\naccess=-1\n";
  HostSettings settings{};
  HostReadIniFile(&settings, "qor.ini");
  EXPECT_EQ(UbstoreGetQuota(UbstoreClassIndex("page")), 9000);
  EXPECT_EQ(UbstoreGetQuota(UbstoreClassIndex("access")), 8000);

  UbstoreWrite(task.task(), "page", block.data(), 8001, 2);
  Pump();
  EXPECT_EQ(task.log.back(), (Received{UbstoreMsg::Written, kOk, 2}));
  EXPECT_EQ(ReadFile("page"), block);
}

}  // namespace
