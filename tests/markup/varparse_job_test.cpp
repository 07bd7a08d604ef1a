// Template jobs against a model of the handset's variable sources: values, loops,
// answers at once, inside the call or later, text cut at every byte.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "kernel/qorrom.h"
#include "browser/url.h"
#include "markup/template_page.h"
#include "markup/varparse.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/recorder.h"

namespace {

// How the fake source answers.
enum class Answer { AtOnce, InsideTheCall, Later };

// A tree of values by dotted name, read the way the handset's sources read
// theirs: a loop over "x" walks the items "x.1", "x.2", ... while any value
// lies below one; inside a loop, "x.field" is the current item's field and
// "x" alone its number; a loop over "x.y" inside a loop over "x" walks the
// current item's "y" items.
struct FakeTree {
  std::map<std::string, std::string> values;
  Answer answer = Answer::AtOnce;
  std::deque<std::function<void()>> deferred;
  struct Loop* open = nullptr;  // innermost open loop
  int opened = 0, closed = 0;

  void Set(const std::string& name, const std::string& value) { values[name] = value; }
  bool HasItem(const std::string& item) const {
    auto it = values.lower_bound(item + ".");
    return it != values.end() && it->first.rfind(item + ".", 0) == 0;
  }
  // Delivers every answer held back, including those the answers ask for.
  void DeliverAll() {
    while (!deferred.empty()) {
      auto f = std::move(deferred.front());
      deferred.pop_front();
      f();
    }
  }
};

struct Loop {
  FakeTree* tree;
  Loop* outer;
  uint32_t index;
  std::string* name;  // as opened (below the source)
  std::string* base;  // the items' common prefix
  std::string* number;
};

std::string Item(const Loop* loop) { return *loop->base + "." + std::to_string(loop->index); }

void Deliver(FakeTree* tree, std::function<void()> answer) {
  if (tree->answer == Answer::Later)
    tree->deferred.push_back(std::move(answer));
  else
    answer();
}

void* StepAnswer(Loop* loop, uint32_t* pending) {
  const bool has = loop->tree->HasItem(Item(loop));
  if (loop->tree->answer == Answer::AtOnce) return has ? loop : nullptr;
  *pending = 1;
  Deliver(loop->tree, [loop, has] {
    if (has)
      VarParseValueReady(loop, nullptr);
    else
      VarParseSourceDone(loop);
  });
  return nullptr;
}

void* FakeOpen(const char* name, void** holder, VarParseJob* job, uint32_t* charset,
               uint32_t* pending) {
  auto* tree = static_cast<FakeTree*>(VarParseGetOwner(job));
  EXPECT_EQ(*charset, Mib::Utf8);
  if (!holder) {
    void* copy = nullptr;
    if (tree->values.count(name)) {
      const std::string& v = tree->values[name];
      copy = MemAlloc(static_cast<uint32_t>(v.size() + 1), Use::String, Mod::TestCode);
      LibcMemCopy(copy, v.c_str(), static_cast<uint32_t>(v.size() + 1));
    }
    if (tree->answer == Answer::AtOnce) return copy;
    *pending = 1;
    Deliver(tree, [copy] { VarParseValueReady(nullptr, copy); });
    return nullptr;
  }
  auto* loop = static_cast<Loop*>(MemAllocZero(sizeof(Loop), Use::Context, Mod::TestCode));
  loop->tree = tree;
  loop->outer = tree->open;
  loop->index = 1;
  loop->name = new std::string(name);
  loop->base = new std::string(name);
  loop->number = new std::string;
  for (Loop* o = tree->open; o; o = o->outer)
    if (loop->name->rfind(*o->name + ".", 0) == 0) {
      *loop->base = Item(o) + loop->name->substr(o->name->size());
      break;
    }
  tree->open = loop;
  ++tree->opened;
  *holder = loop;
  return StepAnswer(loop, pending);
}

void* FakeNext(void* state, uint32_t* pending) {
  auto* loop = static_cast<Loop*>(state);
  ++loop->index;
  return StepAnswer(loop, pending);
}

void FakeClose(void* state) {
  auto* loop = static_cast<Loop*>(state);
  EXPECT_EQ(loop->tree->open, loop) << "only the innermost loop closes";
  loop->tree->open = loop->outer;
  ++loop->tree->closed;
  delete loop->name;
  delete loop->base;
  delete loop->number;
  MemFree(&loop);
}

void* FakeProperty(void* state, const char* name, uint32_t* pending) {
  auto* loop = static_cast<Loop*>(state);
  FakeTree* tree = loop->tree;
  const std::string rest = std::string(name).substr(loop->name->size());
  void* value = nullptr;
  if (rest.empty()) {
    *loop->number = std::to_string(loop->index);
    value = loop->number->data();
  } else {
    const std::string key = Item(loop) + rest;
    if (tree->values.count(key)) value = tree->values[key].data();
  }
  if (tree->answer == Answer::AtOnce) return value;
  *pending = 1;
  Deliver(tree, [loop, value] { VarParseValueReady(loop, value); });
  return nullptr;
}

// A source that closes the job asking it, from inside the call.
VarParseJob* gJobToClose = nullptr;
void* CloserOpen(const char*, void**, VarParseJob*, uint32_t*, uint32_t*) {
  VarParseClose(&gJobToClose);
  return nullptr;
}

const VarParseSource kFakeSources[] = {
    {"closer", CloserOpen, nullptr, nullptr, nullptr},
    {"page", FakeOpen, FakeNext, FakeClose, FakeProperty},
    {"hist", FakeOpen, FakeNext, FakeClose, FakeProperty},
    {"vc", FakeOpen, FakeNext, FakeClose, FakeProperty},
    {"dl", FakeOpen, FakeNext, FakeClose, FakeProperty},
    {"t", FakeOpen, FakeNext, FakeClose, FakeProperty},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// Takes the sink's chunks: the output as UTF-8.
std::string Drain(Queue* sink) {
  std::string bytes(UtilDataChunkQueueBytes(sink), '\0');
  UtilDataChunkTake(sink, reinterpret_cast<uint8_t*>(bytes.data()),
                    static_cast<uint32_t>(bytes.size()));
  EXPECT_EQ(bytes.size() % 2, 0u);
  std::u16string w(bytes.size() / 2, u'\0');
  LibcMemCopy(w.data(), bytes.data(), static_cast<uint32_t>(w.size() * 2));
  char* utf8 = nullptr;
  EXPECT_EQ(LngWideToCharset(&utf8, w.c_str(), Mib::Utf8), kOk);
  std::string out = utf8 ? utf8 : "";
  MemFree(&utf8);
  return out;
}

std::string RomText(const char* path) {
  uint32_t size = 0;
  const uint8_t* file = QorRomOpen(path, &size);
  EXPECT_NE(file, nullptr) << path;
  std::string text(reinterpret_cast<const char*>(file), size);
  QorRomRelease(file);
  return text;
}

void Feed(VarParseJob* job, const std::string& text, size_t from, size_t to) {
  if (to <= from) return;
  UtilDataChunk* block = UtilDataChunkNew(reinterpret_cast<const uint8_t*>(text.data() + from),
                                          static_cast<uint32_t>(to - from), Mod::TestCode);
  ASSERT_NE(block, nullptr);
  VarParseFeed(job, block);
}

// Fills the template fed in pieces ending at the given cuts; held-back
// answers are delivered after each piece.
std::string Fill(FakeTree& tree, const std::string& text, const std::vector<size_t>& cuts = {}) {
  VarParseJob* job = nullptr;
  EXPECT_EQ(VarParseCreate(&job, 0, &tree), kOk);
  Queue sink{};
  VarParseSetSink(job, &sink);
  VarParseSetSources(job, kFakeSources);
  size_t at = 0;
  for (size_t cut : cuts) {
    Feed(job, text, at, cut);
    tree.DeliverAll();
    at = cut;
  }
  Feed(job, text, at, text.size());
  tree.DeliverAll();
  EXPECT_TRUE(VarParseIsDrained(job));
  VarParseClose(&job);
  EXPECT_EQ(job, nullptr);
  EXPECT_EQ(tree.opened, tree.closed);
  std::string out = Drain(&sink);
  EXPECT_EQ(sink.head, nullptr);
  return out;
}

// A history of two entries and a calendar of two objects (two and one entries).
void FillTree(FakeTree& tree) {
  tree.Set("title", "Zoë's page");
  tree.Set("size", "1234");
  tree.Set("item.1.url", "http://a.example/");
  tree.Set("item.1.title", "Alpha");
  tree.Set("item.2.url", "http://b.example/");
  tree.Set("item.2.title", "Beta €");
  tree.Set("item.1.name", "one.png");
  tree.Set("item.2.name", "two.png");
  tree.Set("count", "2");
  tree.Set("vcal.1.entity.1.summary", "Lunch");
  tree.Set("vcal.1.entity.1.location", "Canteen");
  tree.Set("vcal.1.entity.2.summary", "Meeting");
  tree.Set("vcal.2.entity.1.summary", "Trip");
  tree.Set("vcal.2.entity.1.description", "By train");
}

class TemplateTest : public HeapFixture {
 protected:
  void SetUp() override {
    HeapFixture::SetUp();
    start_ = HeapGetStats().freeBytes;
  }
  void TearDown() override {
    EXPECT_EQ(HeapGetStats().freeBytes, start_);
    EXPECT_EQ(HeapValidate(), nullptr);
  }

  uint32_t start_ = 0;
};

TEST_F(TemplateTest, EveryCutAndEveryWayOfAnsweringGiveTheSameOutput) {
  std::vector<std::string> texts;
  for (const char* path : {"/eng/general/property.html", "/eng/general/history.html",
                           "/eng/general/chooselocs.html", "/eng/vcalca/vcalendar.html"})
    texts.push_back(RomText(path));
  // Characters of several bytes around markers.
  texts.push_back("ë€😀[$t.title$]😀[$/for$]x[$t.missing$]y[$nosource.a$]z");
  for (const std::string& page : texts) {
    FakeTree whole;
    FillTree(whole);
    const std::string expected = Fill(whole, page);
    for (Answer answer : {Answer::AtOnce, Answer::InsideTheCall, Answer::Later}) {
      for (size_t cut = 1; cut < page.size(); ++cut) {
        FakeTree tree;
        FillTree(tree);
        tree.answer = answer;
        ASSERT_EQ(Fill(tree, page, {cut}), expected)
            << page.substr(0, 40) << " cut at " << cut << ", answer " << static_cast<int>(answer);
      }
      FakeTree tree;
      FillTree(tree);
      tree.answer = answer;
      std::vector<size_t> bytes;
      for (size_t i = 1; i < page.size(); ++i) bytes.push_back(i);
      EXPECT_EQ(Fill(tree, page, bytes), expected) << page.substr(0, 40) << " byte by byte";
    }
  }
}

struct OddCase {
  const char* what;
  std::string text;
  std::string out;
};

TEST_F(TemplateTest, OddMarkersStayTextOrGiveNothing) {
  const std::vector<OddCase> cases = {
      {"a loop without a source runs zero times, nested loops too",
       "<[$for:none.x$]a[$for:t.item$]b[$/for$]c[$/for$]>", "<>"},
      {"a marker cut off by the end", "a[$t.title", "a[$t.title"},
      {"a loop whose end never comes", "<[$for:t.item$]a", "<a"},
      {"query fields: percent-encoded UTF-8, left out when empty, bare without a key",
       "?[$field:a=t.title$][$field:b=t.missing$][$field:t.size$]",
       "?a=Zo%C3%AB%27s%20page&amp;1234"},
      {"a character cut off by a marker", "a\xE2\x82[$t.size$]", "a\xEF\xBF\xBD\xEF\xBF\xBD" "1234"},
  };
  for (const OddCase& c : cases) {
    FakeTree tree;
    FillTree(tree);
    EXPECT_EQ(Fill(tree, c.text), c.out) << c.what;
  }
}

TEST_F(TemplateTest, ALongOutputLeavesInChunksOfBoundedSize) {
  FakeTree tree;
  FillTree(tree);
  const std::string body(3000, 'b');
  const std::string text = "[$for:t.item$]" + body + "[$t.item.title$][$/for$]";
  VarParseJob* job = nullptr;
  ASSERT_EQ(VarParseCreate(&job, 0, &tree), kOk);
  Queue sink{};
  VarParseSetSink(job, &sink);
  VarParseSetSources(job, kFakeSources);
  Feed(job, text, 0, text.size());
  VarParseClose(&job);
  size_t chunks = 0;
  for (QueueNode* n = sink.head; n; n = n->next, ++chunks)
    EXPECT_LE(UtilDataChunkOf(n)->remaining, 2u * 3000u);
  EXPECT_GE(chunks, 2u);
  EXPECT_EQ(Drain(&sink), body + "Alpha" + body + "Beta €");
}

TEST_F(TemplateTest, ASourceMayCloseTheJobFromInsideItsCall) {
  FakeTree tree;
  FillTree(tree);
  Queue sink{};
  ASSERT_EQ(VarParseCreate(&gJobToClose, 0, &tree), kOk);
  VarParseSetSink(gJobToClose, &sink);
  VarParseSetSources(gJobToClose, kFakeSources);
  // The job ends once the call returns, with the text it already has.
  const std::string text = "a[$closer.x$]b[$for:t.item$]c[$/for$]d";
  Feed(gJobToClose, text, 0, text.size());
  EXPECT_EQ(gJobToClose, nullptr);
  EXPECT_EQ(Drain(&sink), "abccd");
  EXPECT_EQ(tree.opened, tree.closed);
}

// A built-in page whose source answers later is whole only once it has, and
// is never cut short.
TEST_F(TemplateTest, TemplatePagesWaitForSourcesThatAnswerLater) {
  const VarParseSource* old = VarParseInstallSources(kFakeSources);
  FakeTree whole;
  FillTree(whole);
  const std::string expected = Fill(whole, RomText("/eng/vcalca/vcalendar.html"));
  UrlLoad load{};
  for (Answer answer : {Answer::AtOnce, Answer::InsideTheCall, Answer::Later}) {
    FakeTree tree;
    FillTree(tree);
    tree.answer = answer;
    Result r = kOk;
    ASSERT_EQ(UtilLoadTemplatePage(&load, &tree, "vcalca/vcalendar.html"), kOk);
    EXPECT_EQ(UtilTemplatePagePending(&load, &r), answer == Answer::Later);
    tree.DeliverAll();
    EXPECT_FALSE(UtilTemplatePagePending(&load, &r));
    EXPECT_EQ(r, kOk);
    EXPECT_EQ(load.charset, Mib::Utf16Native);
    EXPECT_EQ(Drain(&load.input), expected) << static_cast<int>(answer);
    EXPECT_EQ(tree.opened, tree.closed);
  }
  // A load that goes away while its page waits leaves nothing behind.
  FakeTree tree;
  FillTree(tree);
  tree.answer = Answer::Later;
  ASSERT_EQ(UtilLoadTemplatePage(&load, &tree, "vcalca/vcalendar.html"), kOk);
  UtilTemplatePageCancel(&load);
  tree.DeliverAll();
  UtilDataChunkFreeQueue(&load.input);
  VarParseInstallSources(old);
}

// With the heap nearly full at every level of spare room, a page either comes
// whole or fails as out of memory.
TEST_F(TemplateTest, TemplatePagesThatLoseTextFailAsOutOfMemory) {
  const std::string page = RomText("/eng/config/advance.html");
  int lost = 0;
  for (uint32_t spare = 0; spare < 8192; spare += 16) {
    std::vector<void*> ballast;
    for (HeapStats s = HeapGetStats(); s.largestFree > spare + 32; s = HeapGetStats()) {
      void* b = HeapBlockAlloc(s.largestFree - spare - 32);
      if (!b) break;
      ballast.push_back(b);
    }
    UrlLoad load{};
    const Result r = UtilLoadTemplatePage(&load, nullptr, "config/advance.html");
    for (void* b : ballast) HeapBlockFree(b);
    const std::string out = Drain(&load.input);
    if (r == kUtilNoMemory) {
      ++lost;
    } else if (r != kUtilNoFile) {  // the file itself wants memory to be opened
      ASSERT_EQ(r, kOk) << spare;
      ASSERT_EQ(out, page) << spare;
    }
  }
  EXPECT_GT(lost, 0);
}

// A file is appended as it is, and a missing one says so.
TEST_F(TemplateTest, AFileIsAppendedAsItIsAndAMissingOneSaysSo) {
  UrlLoad load{};
  ASSERT_EQ(UtilAppendRomFile(&load, "general/gohome.html"), kOk);
  const std::string page = RomText("/eng/general/gohome.html");
  EXPECT_EQ(load.delivered, page.size());
  std::string bytes(UtilDataChunkQueueBytes(&load.input), '\0');
  UtilDataChunkTake(&load.input, reinterpret_cast<uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
  EXPECT_EQ(bytes, page);
  EXPECT_EQ(UtilAppendRomFile(&load, "general/none.html"), kUtilNoFile);
  EXPECT_EQ(UtilAppendRomFile(nullptr, "general/gohome.html"), kUtilBadArg);
  EXPECT_EQ(UtilLoadTemplatePage(&load, nullptr, "general/none.html"), kUtilNoFile);
  EXPECT_EQ(load.delivered, page.size());
}

// A job registered with the task runs there in steps, and after the task
// has stopped runs inside the calls again.
class TemplateTaskTest : public EngineFixture {};

TEST_F(TemplateTaskTest, ARegisteredJobRunsOnTheTaskAndWaitsForItsAnswers) {
  const uint32_t start = HeapGetStats().freeBytes;
  {
    Recorder requester(Mod::TestCode);
    ASSERT_EQ(VarParseStartTask(requester.task()), kOk);
    Pump();
    ASSERT_EQ(requester.Count(VarParseMsg::Ready), 1u);

    FakeTree tree;
    FillTree(tree);
    tree.answer = Answer::Later;
    Queue sink{};
    VarParseJob* job = nullptr;
    ASSERT_EQ(VarParseCreate(&job, 1, &tree), kOk);
    VarParseSetSink(job, &sink);
    VarParseSetSources(job, kFakeSources);
    const std::string page = RomText("/eng/general/history.html");
    Feed(job, page, 0, page.size());
    // Nothing runs inside the feeding call.
    EXPECT_EQ(sink.head, nullptr);
    EXPECT_FALSE(VarParseIsDrained(job));
    for (int rounds = 0; !VarParseIsDrained(job) && rounds < 100; ++rounds) {
      Pump();
      tree.DeliverAll();
    }
    EXPECT_TRUE(VarParseIsDrained(job));
    FakeTree whole;
    FillTree(whole);
    EXPECT_EQ(Drain(&sink), Fill(whole, page));
    VarParseClose(&job);

    // A job closed while its run is posted: the message finds no job.
    ASSERT_EQ(VarParseCreate(&job, 1, &tree), kOk);
    VarParseSetSink(job, &sink);
    VarParseSetSources(job, kFakeSources);
    Feed(job, std::string("x"), 0, 1);
    VarParseClose(&job);
    Pump();
    EXPECT_EQ(Drain(&sink), "x");

    VarParseStopTask(requester.task());
    Pump();
    EXPECT_EQ(requester.Count(VarParseMsg::Stopped), 1u);

    // Without the task a registered job runs inside the calls.
    ASSERT_EQ(VarParseCreate(&job, 1, &tree), kOk);
    VarParseSetSink(job, &sink);
    VarParseSetSources(job, kFakeSources);
    Feed(job, std::string("y"), 0, 1);
    EXPECT_TRUE(VarParseIsDrained(job));
    VarParseClose(&job);
    EXPECT_EQ(Drain(&sink), "y");
    requester.Destroy();
  }
  Pump();
  EXPECT_EQ(HeapGetStats().freeBytes, start);
}

}  // namespace
