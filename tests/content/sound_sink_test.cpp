// Sound bodies through their sinks to the host's sound output, which writes
// each sound it is handed to a numbered file: the file holds exactly the
// body, from its first non-NUL byte.
#include "content/sound_sink.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/handset_host.h"
#include "host/shellsvc.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "markup/html_node.h"
#include "tests/support/engine_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), {});
}

std::vector<std::string> gPlayed;  // "play" or "stop"
const ShellServiceOps kRecordingOps{nullptr, [](void*, const char*) { gPlayed.push_back("play"); },
                                    [](void*) { gPlayed.push_back("stop"); },
                                    [](void*, const char*) { return 0; }};

class SoundSinkTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    HostHandsetInstall();
    char pattern[] = "/tmp/qor-sound-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(root_);
    ShellServicesInstall(&kRecordingOps);
    ShellPlaySystemSound(0, nullptr, 0);  // the numbering starts at 1
    gPlayed.clear();
  }
  void TearDown() override {
    ShellServicesInstall(nullptr);
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(root_);
    EngineFixture::TearDown();
  }

  // Feeds the body in blocks of `block` bytes and closes the sink.
  uint32_t Play(uint32_t contentClass, const Bytes& body, uint32_t block) {
    SoundSink* sink = nullptr;
    EXPECT_EQ(SoundSinkOpen(contentClass, nullptr, &sink), SoundSinkCode::Opened);
    EXPECT_EQ(sink->soundCode, contentClass - 9);
    for (size_t at = 0; at < body.size(); at += block) {
      const size_t n = std::min<size_t>(block, body.size() - at);
      UtilDataChunk* chunk = UtilDataChunkNew(body.data() + at, static_cast<uint32_t>(n), 0);
      EXPECT_EQ(SoundSinkWrite(nullptr, sink, chunk), 0u);
      MemFree(&chunk);
    }
    EXPECT_EQ(sink->length, body.size());  // a buffer of exactly the body's length
    const uint32_t answer = SoundSinkClose(nullptr, &sink);
    EXPECT_EQ(sink, nullptr);
    return answer;
  }

  std::filesystem::path root_, old_;
};

// Every sound type reaches the host whole in any blocks; leading NULs are
// not handed over, nothing but NULs stops the playing, and a sink without
// data hands nothing over.
TEST_F(SoundSinkTest, EverySoundTypeReachesTheHostWhole) {
  const uint32_t heapAtStart = HeapGetStats().freeBytes;
  int number = 0;
  for (uint32_t contentClass = 10; contentClass <= 19; ++contentClass)
    for (uint32_t block : {1u, 1000u}) {
      SCOPED_TRACE(std::to_string(contentClass) + " in blocks of " + std::to_string(block));
      Bytes body(300 + contentClass);
      for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i * 31 + contentClass + 1);
      EXPECT_EQ(Play(contentClass, body, block), SoundSinkCode::Handed);
      EXPECT_EQ(ReadFile(std::to_string(++number) + ".sound"), body);
    }
  gPlayed.clear();
  // An empty body still closes through the host: it stops the playing.
  EXPECT_EQ(Play(10, Bytes{}, 1), SoundSinkCode::Handed);
  number = 0;  // a stop starts the host's numbering again
  EXPECT_EQ(Play(18, Bytes{0, 0, 'M', 'T', 0}, 2), SoundSinkCode::Handed);
  EXPECT_EQ(ReadFile(std::to_string(++number) + ".sound"), (Bytes{'M', 'T', 0}));
  EXPECT_EQ(Play(18, Bytes{0, 0}, 1), SoundSinkCode::Handed);
  EXPECT_EQ(gPlayed, (std::vector<std::string>{"stop", "play", "stop"}));
  EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
}

// A page sound waiting when a sink closes plays instead of the body, also
// when the body is empty.
TEST_F(SoundSinkTest, APendingPageSoundPlaysWhenAnySinkCloses) {
  const uint32_t heapAtStart = HeapGetStats().freeBytes;
  const Bytes page{'P', 'G'};
  for (const Bytes& body : {Bytes{}, Bytes{'M', 'T'}}) {
    SCOPED_TRACE(body.size());
    gPlayed.clear();
    auto* data = static_cast<uint8_t*>(MemAlloc(2, Use::Data, 0));
    std::copy(page.begin(), page.end(), data);
    HtmlSetPendingPageSound(data, 2, 3);
    EXPECT_EQ(Play(18, body, 1), SoundSinkCode::Handed);
    EXPECT_FALSE(HtmlHasPendingPageSound());
    EXPECT_EQ(gPlayed, (std::vector<std::string>{"play"}));
  }
  EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
}

}  // namespace
