// The font layer's tests stand on this: settings as the shipped qor.ini gives
// them, a scripted font chooser in place of the desktop's dialog, and
// instances that are released whatever the test did.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "host/fontft.h"

// Answers the chooser with the next scripted answer (1 chosen, 0 closed
// without choosing, -1 no chooser); past the script it chooses.
struct FakeChooser {
  std::vector<int> answers;
  std::u16string face = u"Arial";
  int32_t tenths = 100;
  int calls = 0;
  void* lastOwner = nullptr;
  std::vector<std::pair<std::string, std::string>> writes;  // {key, value}
  bool toFile = false;  // also write through the real .ini writer

  FontChooserOps Ops();
};

class FontFixture : public ::testing::Test {
 public:
  static FontDescription Describe(const FontFace* face);

 protected:
  void SetUp() override;
  void TearDown() override;

  // The shipped qor.ini's fonts, as the host presets them.
  static FontSettings ShippedSettings();

  // FontInit with the settings; the test fails when it does not answer 0.
  void Init(const FontSettings& settings);
  // An instance released in TearDown; null when FontCreate failed.
  FontInstance* Create(int32_t family, int32_t level, Result* result = nullptr);
  FakeChooser chooser;

 private:
  FontChooserOps ops_{};
  std::vector<FontInstance*> instances_;
};
