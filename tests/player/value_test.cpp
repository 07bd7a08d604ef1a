#include <gtest/gtest.h>

#include <string>

#include "player_support.h"

namespace {

std::string Take(TestPlayer& p, char* owned) {
  std::string out = owned ? owned : "(null)";
  AnimStr_Free(p.get(), owned);
  return out;
}

TEST(AnimPath, ResolvesToTheFullPath) {
  const struct {
    const char *base, *path;
    uint32_t mode;
    const char* full;
  } cases[] = {{"/a", "b:x", kAnimPathVariable, "/a/b:x"}, {"", "x", kAnimPathVariable, "/:x"},
               {"/a", "..", kAnimPathClip, ""},           {"/a", "..:x", kAnimPathVariable, "/:x"},
               {"/a/b", "../c", kAnimPathClip, "/a/c"},   {"/a", "./c", kAnimPathClip, "/a/c"},
               {"/a", "/z/y", kAnimPathClip, "/z/y"},     {"/a", "", kAnimPathClip, "/a"}};
  TestPlayer p;
  for (const auto& c : cases) EXPECT_EQ(Take(p, AnimPath_Resolve(p.get(), c.base, c.path, c.mode)), c.full);
}

TEST(AnimPath, SplitsAtTheLastSeparatorAndCountsDepth) {
  char path[] = "/a/b:x";
  EXPECT_STREQ(AnimPath_Split(path, 0), "x");
  EXPECT_STREQ(path, "/a/b");
  EXPECT_STREQ(AnimPath_Split(path, 1), "b");
  EXPECT_STREQ(path, "/a");
  EXPECT_EQ(AnimPath_Depth("/a/b/c"), 3u);
}

TEST(AnimPath, NamesIgnoreOnlyAsciiCase) {
  EXPECT_EQ(AnimName_Equal("/a:Name", "/A:nAME"), 0);
  EXPECT_EQ(AnimName_Equal("/:x", "/:xy"), 1);
  EXPECT_EQ(AnimName_Equal("@", "`"), 1);
  EXPECT_EQ(AnimName_Equal("\xC4", "\xE4"), 1);
}

TEST(AnimVariables, NamesDifferingInCaseAreOneAndAMissingOneIsCreatedEmpty) {
  TestPlayer p;
  AnimVar_Set(p.get(), "/:X", AnimStr_Dup(p.get(), "1"));
  AnimVar_Set(p.get(), "/:x", AnimStr_Dup(p.get(), "2"));
  EXPECT_EQ(Take(p, AnimVar_Get(p.get(), "/:X")), "2");
  EXPECT_EQ(Take(p, AnimVar_Get(p.get(), "/a:missing")), "");
  ASSERT_NE(AnimVar_Find(p.get(), "/A:MISSING"), nullptr);
  AnimVar_Clear(p.get());
  EXPECT_EQ(AnimVar_Find(p.get(), "/a:missing"), nullptr);
  EXPECT_EQ(p->heap.bytesInUse, 0u);
}

TEST(AnimVariables, CollectListsTheRootsVariables) {
  TestPlayer p;
  AnimVar_Set(p.get(), "/:name", AnimStr_Dup(p.get(), "joe"));
  AnimVar_Set(p.get(), "/:zero", AnimStr_Dup(p.get(), "0x"));
  AnimVar_Set(p.get(), "/clip:inner", AnimStr_Dup(p.get(), "no"));
  std::string list = Take(p, AnimVar_Collect(p.get(), ""));
  // Order follows the buckets.
  EXPECT_TRUE(list == "name=joe&zero=&" || list == "zero=&name=joe&") << list;
  EXPECT_EQ(Take(p, AnimVar_Collect(p.get(), "/clip")), "");
  AnimVar_Clear(p.get());
}

TEST(AnimValues, TextOfNumbers) {
  TestPlayer p;
  EXPECT_EQ(Take(p, AnimText_FromFloat(p.get(), 0.05f)), "0.05000");
  EXPECT_EQ(Take(p, AnimText_FromInt(p.get(), -2147483647 - 1)), "-2147483648");
  EXPECT_EQ(Take(p, AnimText_FromResult(p.get(), 6.0f)), "6");
  EXPECT_EQ(Take(p, AnimText_FromResult(p.get(), 0.5f)), "0.50000");
}

TEST(AnimValues, ConversionsByKindAndTheStackLastInFirstOut) {
  TestPlayer p;
  AnimValue_Push(p.get(), AnimValue_NewFloat(p.get(), -2.75f));
  AnimValue_Push(p.get(), AnimValue_NewText(p.get(), " 12.5xyz"));
  AnimValue* t = AnimValue_Pop(p.get());
  EXPECT_EQ(AnimValue_Integer(t), 12);
  EXPECT_DOUBLE_EQ(AnimValue_Number(t), 12.5);
  AnimValue* f = AnimValue_Pop(p.get());
  EXPECT_EQ(AnimValue_Integer(f), -2);
  AnimValue_SetText(p.get(), f, AnimStr_Dup(p.get(), "7"));
  EXPECT_EQ(f->kind, kAnimString);
  EXPECT_EQ(AnimValue_Integer(f), 7);
  AnimValue_Push(p.get(), AnimValue_NewInt(p.get(), 3));
  EXPECT_EQ(AnimValue_ClearStack(p.get()), 1u);
  AnimValue* empty = AnimValue_Pop(p.get());  // an empty stack gives the empty text
  EXPECT_EQ(Take(p, AnimValue_Text(p.get(), empty)), "");
  for (AnimValue* v : {t, f, empty}) AnimValue_Release(p.get(), v);
  EXPECT_EQ(p->heap.bytesInUse, 0u);
}

TEST(AnimValues, AFullHeapMakesTheRoutinesReturnNull) {
  TestPlayer p;
  while (AnimHeap_Malloc(&p->heap, 4000)) {
  }
  while (AnimHeap_Malloc(&p->heap, 8)) {
  }
  EXPECT_EQ(AnimVar_Set(p.get(), "/:x", nullptr), nullptr);
  EXPECT_EQ(AnimVar_Get(p.get(), "/:x"), nullptr);
  EXPECT_EQ(AnimPath_Resolve(p.get(), "/a", "b", kAnimPathClip), nullptr);
  EXPECT_EQ(p->heap.abortFlag, 1u);
}

}  // namespace
