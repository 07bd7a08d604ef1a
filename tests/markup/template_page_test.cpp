// Built-in pages into a load: the vCard page filled from a source whose data
// the client holds, and a file appended as it is.
#include <gtest/gtest.h>

#include <string>

#include "browser/url.h"
#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "kernel/qorrom.h"
#include "markup/template_page.h"
#include "markup/varparse.h"
#include "tests/support/engine_fixture.h"

namespace {

// The client: one card with its fields; the source reaches it as the job's
// owner.
struct Card {
  const char* name;
  const char* phone;
  int steps;
};

void* VcOpen(const char*, void** holder, VarParseJob* job, uint32_t*, uint32_t*) {
  auto* card = static_cast<Card*>(VarParseGetOwner(job));
  if (!holder || card->steps++ > 0) return nullptr;
  *holder = card;
  return card;
}
void* VcNext(void* loop, uint32_t*) {
  return static_cast<Card*>(loop)->steps++ > 0 ? nullptr : loop;
}
void VcClose(void*) {}
void* VcProperty(void* loop, const char* name, uint32_t*) {
  auto* card = static_cast<Card*>(loop);
  const std::string field(name);
  if (field.find("name") != std::string::npos) return const_cast<char*>(card->name);
  if (field.find("phone") != std::string::npos) return const_cast<char*>(card->phone);
  return const_cast<char*>("");
}

const VarParseSource kSources[] = {
    {"vc", VcOpen, VcNext, VcClose, VcProperty},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

class TemplatePageTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    VarParseInstallSources(kSources);
    heap = HeapGetStats().freeBytes;
    UrlParsed url{};
    load = UrlLoadCreate(&url);
    ASSERT_NE(load, nullptr);
  }
  void TearDown() override {
    UrlLoadFree(load);
    EXPECT_EQ(HeapGetStats().freeBytes, heap);
    VarParseInstallSources(nullptr);
    EngineFixture::TearDown();
  }
  std::string Bytes() {
    std::string out(UtilDataChunkQueueBytes(&load->input), '\0');
    UtilDataChunkTake(&load->input, reinterpret_cast<uint8_t*>(out.data()),
                      static_cast<uint32_t>(out.size()));
    return out;
  }
  uint32_t heap = 0;
  UrlLoad* load = nullptr;
};

TEST_F(TemplatePageTest, TheCardPageFillsFromTheClientsSourceAsUtf16) {
  Card card{"Ada Lovelace", "+44 20 7946 0000", 0};
  ASSERT_EQ(UtilLoadTemplatePage(load, &card, "vcalca/vcard.html"), kOk);
  EXPECT_EQ(load->charset, 32766u);
  EXPECT_EQ(load->delivered, UtilDataChunkQueueBytes(&load->input));
  const std::string bytes = Bytes();
  std::string narrow;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) narrow += bytes[i];  // ASCII in UTF-16LE
  EXPECT_NE(narrow.find("<b>Ada Lovelace</b>"), std::string::npos) << narrow;
  EXPECT_NE(narrow.find("number=+44 20 7946 0000"), std::string::npos);
  EXPECT_EQ(narrow.find("[$"), std::string::npos);
}

TEST_F(TemplatePageTest, AFileIsAppendedAsItIsAndAMissingOneSaysSo) {
  uint32_t size = 0;
  const uint8_t* file = QorRomOpen("general/gohome.html", &size);
  ASSERT_NE(file, nullptr);
  const std::string expected(reinterpret_cast<const char*>(file), size);
  QorRomRelease(file);
  ASSERT_EQ(UtilAppendRomFile(load, "general/gohome.html"), kOk);
  EXPECT_EQ(load->delivered, size);
  EXPECT_EQ(Bytes(), expected);
  EXPECT_EQ(UtilAppendRomFile(load, "general/none.html"), kUtilNoFile);
  EXPECT_EQ(UtilLoadTemplatePage(load, nullptr, "general/none.html"), kUtilNoFile);
  EXPECT_EQ(load->charset, 0u);
}

}  // namespace
