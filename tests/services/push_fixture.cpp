#include "tests/services/push_fixture.h"

#include <fstream>
#include <iterator>

#include "browser/cache.h"
#include "browser/status.h"
#include "kernel/config.h"
#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "services/push/lc.h"
#include "services/push/notify.h"
#include "services/service_rows.h"
#include "tests/support/pushed_object.h"

void PushFixture::SetUp() {
  WorkDirFixture::SetUp();
  platform->now = 1765000000;  // December 2025
  starter = std::make_unique<Recorder>(Mod::UiStart);
  status = std::make_unique<Recorder>(Mod::Stat);
  writer = std::make_unique<Recorder>(Mod::TestHarness);
  Pump();
  ASSERT_EQ(ConfigStart(starter->task()), kOk);
  Pump();
  ServiceRowsInstall();
  heapAtStart = HeapGetStats().freeBytes;
  StartServices();
}

void PushFixture::BeginServices() {
  starter->log.clear();
  LcStartTask(starter->task());
  ASSERT_EQ(NotifyStartTask(starter->task()), kOk);
}

void PushFixture::StopAfter(int steps) {
  for (int i = 0; i < steps; ++i) Step();
  NotifyStopTask();
  Pump();
  ASSERT_EQ(starter->Count(NotifyMsg::Stopped), 1u);
  LcStopTask(starter->task());
  Pump();
}

void PushFixture::StartServices() {
  ASSERT_NO_FATAL_FAILURE(BeginServices());
  Pump();
  ASSERT_EQ(starter->Count(LcMsg::Started), 1u);
  ASSERT_EQ(starter->Count(NotifyMsg::Started), 1u);
}

void PushFixture::StopServices() {
  NotifyStopTask();
  Pump();
  EXPECT_EQ(starter->Count(NotifyMsg::Stopped), 1u);
  LcStopTask(starter->task());
  Pump();
  EXPECT_EQ(starter->Count(LcMsg::Stopped), 1u);
}

void PushFixture::TearDown() {
  if (TskmanFind(Mod::Notify)) StopServices();
  EXPECT_EQ(UrlGetModule(), nullptr);
  EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
  ServiceRowsRemove();
  ConfigStop();
  Pump();
  writer.reset();
  status.reset();
  starter.reset();
  WorkDirFixture::TearDown();
}

std::string PushFixture::Data(const std::string& name) {
  std::ifstream in(std::string(QOR_TEST_DATA) + "/push/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::string PushFixture::PushPage(const std::string& marker, uint32_t size) {
  return Push("multipart/related",
              "Content-Type: text/html\r\nContent-Location: http://example.com/index.html\r\n\r\n"
              "<html><body>" + marker + std::string(size, 'x') + "</body></html>\r\n",
              {{"X-Wap-Application-Id", "32768"}});
}

void PushFixture::PushHomePage(uint32_t size) {
  PushPage("", size);
  Pump();
}

std::string PushFixture::DocOfSize(uint32_t size) {
  const std::string real = Data("../prov/full.wbxml");
  std::string doc;
  while (doc.size() < size) doc += real;
  doc.resize(size);
  return doc;
}

std::vector<PushHeader> ProvHeaders() {
  return {{"Content-Type", kConnectivity},
          {"SEC", "USERPIN"},
          {"MAC", "8347ed41acd72a5be79224933677c5234194b5e7"}};
}

std::string Body(const UrlLoad* load) {
  std::string body;
  for (const QueueNode* n = load->output.head; n; n = n->next) {
    const UtilDataChunk* block = UtilDataChunkOf(const_cast<QueueNode*>(n));
    body.append(reinterpret_cast<const char*>(UtilDataChunkData(block) + block->offset),
                block->remaining);
  }
  return body;
}

std::string PushFixture::Push(const std::string& mime, const std::string& body,
                              const std::vector<PushHeader>& headers, const std::string& sender) {
  const std::string url = "push:" + sender + "." + std::to_string(++serial);
  PushNamed(url, mime, body, headers);
  return url;
}

void PushFixture::PushNamed(const std::string& url, const std::string& mime, const std::string& body,
                            const std::vector<PushHeader>& headers) {
  UrlLoad* load = CachePushedObject(url, mime.c_str(), body);
  ASSERT_NE(load, nullptr);
  for (const PushHeader& h : headers) UrlAddHeader(load, h.name, h.value.c_str());
  TskmanPost(TskmanFind(Mod::Notify), NotifyMsg::Push, reinterpret_cast<uintptr_t>(LibcStrDup(url.c_str())),
             0);
}

std::string PushFixture::PushDoc(const std::string& name, const std::vector<PushHeader>& headers) {
  const bool sl = name.rfind("sl", 0) == 0;
  return Push(sl ? "application/vnd.wap.slc" : "application/vnd.wap.sic", Data(name + ".wbxml"),
              headers);
}

UrlLoad* PushFixture::Cached(const std::string& url) {
  UrlParsed parsed;
  UrlParse(&parsed, url.c_str(), 0);
  UrlLoad* load = CacheFindByName(&parsed);
  UrlFreeParsed(&parsed);
  return load;
}

std::vector<uint32_t> PushFixture::Indicators() const {
  std::vector<uint32_t> values;
  for (const Received& r : status->log)
    if (r.message == StatusMsg::Indicator && r.arg1 == StatusKind::Push)
      values.push_back(static_cast<uint32_t>(r.arg2));
  return values;
}

ConfigHandle* PushFixture::OpenSection(const char* name) {
  writer->log.clear();
  ConfigOpen(writer->task(), name, true);
  Pump();
  for (const Received& r : writer->log)
    if (r.message == ConfigMsg::Opened && r.arg1 == 0) return reinterpret_cast<ConfigHandle*>(r.arg2);
  return nullptr;
}

std::vector<std::pair<std::string, std::string>> PushFixture::Section(const char* name) {
  std::vector<std::pair<std::string, std::string>> out;
  ConfigHandle* handle = OpenSection(name);
  if (!handle) return out;
  uintptr_t cursor = 0;
  const char* key = nullptr;
  const uint8_t* value = nullptr;
  uint32_t keyLength = 0, valueLength = 0;
  ConfigKind kind{};
  while (ConfigEnum(handle, &cursor, &key, &keyLength, &value, &valueLength, &kind) == kOk)
    out.emplace_back(key, kind == ConfigKind::String
                              ? std::string(reinterpret_cast<const char*>(value))
                              : std::string(reinterpret_cast<const char*>(value), valueLength));
  ConfigRelease(&handle);
  return out;
}

void PushFixture::StoreString(const char* section, const char* key, const char* value) {
  ConfigHandle* handle = OpenSection(section);
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(ConfigSetString(handle, key, value), kOk);
  ASSERT_EQ(ConfigSave(handle, nullptr), kOk);
  Pump();
}
