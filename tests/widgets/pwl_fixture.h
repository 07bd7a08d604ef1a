// The toolkit's test harness: the real kernel with a 160 x 240 screen, a
// recorder task owning the root window, and control classes that log.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "host/fontft.h"
#include "tests/support/golden.h"
#include "tests/support/engine_fixture.h"
#include "widgets/pwl.h"

// One message as a test control received it.
struct ControlCall {
  PwlControl* control;
  uint32_t message;
  uint32_t flags;
  uintptr_t argument;
};

// The test classes' shared log and answers.
struct TestClassLog {
  std::vector<ControlCall> calls;
  // Answers message `message` with the result for any control; default 0.
  std::function<Result(PwlControl*, uint32_t message, uintptr_t argument, void* data)> answer;
  std::vector<uint32_t> Messages(const PwlControl* c) const;
  size_t Count(uint32_t message) const;
};
extern TestClassLog gTestLog;

// Installs a test class in every row 1 to 10 (the instance size holds a
// radio head), and takes them out again.
void InstallTestClasses();
void RemoveTestClasses();

// A rectangle's edges (left, top, right, bottom), to compare in one go.
inline std::vector<int32_t> Edges(const PglRect& r) { return {r.left, r.top, r.right, r.bottom}; }
using Ints = std::vector<int32_t>;

// Font settings as the shipped qor.ini, fontconfig started once a process.
FontSettings PwlTestFontSettings();

class PwlFixture : public EngineFixture {
 protected:
  static constexpr uint32_t kOwnerId = Mod::TestCode;
  void SetUp() override;
  void TearDown() override;

  // A control of the type at the content rectangle; enabled and focusable.
  PwlControl* Make(uint32_t type, uintptr_t group, PglRect rect, PwlWindow* in = nullptr,
                   uint32_t row = 0);
  // Posts key sub-code to the toolkit task and pumps the ring.
  void Key(uint32_t subCode, uintptr_t argument = 0);
  // Messages the owner task received, without its start.
  std::vector<Received> OwnerEvents(uint32_t message) const;
#ifdef QOR_GOLDEN_DIR
  // The whole screen against the golden image of that name.
  ::testing::AssertionResult ScreenMatches(const char* name) const {
    const GoldenImage image = GoldenFromRgb565(platform->screen.data(), 160, 240, 160);
    return GoldenMatches(std::string(QOR_GOLDEN_DIR) + "/" + name, image);
  }
#endif

  PwlContext* context = nullptr;
  PwlWindow* root = nullptr;
  std::unique_ptr<Recorder> owner;
  // Set before SetUp: the toolkit comes up with its own control classes
  // instead of the logging ones; the font layer starts, with the body font
  // open in `font`.
  bool realClasses = false;
  bool withFonts = false;
  FontInstance* font = nullptr;
};
