#include <gtest/gtest.h>

#include <string>

#include "player_support.h"

namespace {

std::string Take(TestPlayer& p, char* owned) {
  std::string out = owned ? owned : "(null)";
  AnimStr_Free(p.get(), owned);
  return out;
}

struct PathCase {
  const char* base;
  const char* path;
  uint32_t mode;
  const char* full;
};
class AnimPathResolve : public ::testing::TestWithParam<PathCase> {};

TEST_P(AnimPathResolve, GivesTheFullPath) {
  TestPlayer p;
  const PathCase c = GetParam();
  EXPECT_EQ(Take(p, AnimPath_Resolve(p.get(), c.base, c.path, c.mode)), c.full);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, AnimPathResolve,
    ::testing::Values(PathCase{"/a", "b", kAnimPathClip, "/a/b"}, PathCase{"/a", "x", kAnimPathVariable, "/a:x"},
                      PathCase{"/a", "b:x", kAnimPathVariable, "/a/b:x"},
                      PathCase{"", "x", kAnimPathVariable, "/:x"}, PathCase{"/a", "..", kAnimPathClip, ""},
                      PathCase{"/a", "..:x", kAnimPathVariable, "/:x"},
                      PathCase{"/a/b", "..", kAnimPathClip, "/a"}, PathCase{"/a/b", "../c", kAnimPathClip, "/a/c"},
                      PathCase{"/a", "./c", kAnimPathClip, "/a/c"}, PathCase{"/a", "/z/y", kAnimPathClip, "/z/y"},
                      PathCase{"/a", "", kAnimPathClip, "/a"}, PathCase{"", "b", kAnimPathClip, "/b"},
                      PathCase{"/a", "/:v", kAnimPathVariable, "/:v"}));

TEST(AnimPath, SplitsAtTheLastSeparatorAndCountsDepth) {
  char path[] = "/a/b:x";
  EXPECT_STREQ(AnimPath_Split(path, 0), "x");
  EXPECT_STREQ(path, "/a/b");
  EXPECT_STREQ(AnimPath_Split(path, 1), "b");
  EXPECT_STREQ(path, "/a");
  EXPECT_EQ(AnimPath_Depth("/a/b/c"), 3u);
  EXPECT_EQ(AnimPath_Depth(""), 0u);
}

struct NameCase {
  const char* a;
  const char* b;
  int result;
};
class AnimNameEqual : public ::testing::TestWithParam<NameCase> {};

TEST_P(AnimNameEqual, IgnoresOnlyAsciiCase) {
  EXPECT_EQ(AnimName_Equal(GetParam().a, GetParam().b), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(Names, AnimNameEqual,
                         ::testing::Values(NameCase{"/:X", "/:x", 0}, NameCase{"/a:Name", "/A:nAME", 0},
                                           NameCase{"/:x", "/:xy", 1}, NameCase{"@", "`", 1},
                                           NameCase{"[", "{", 1}, NameCase{"\xC4", "\xE4", 1},
                                           NameCase{nullptr, "a", 1}, NameCase{"", "", 0}));

TEST(AnimVariables, NamesDifferingInCaseAreOneVariable) {
  TestPlayer p;
  AnimVar_Set(p.get(), "/:X", AnimStr_Dup(p.get(), "1"));
  AnimVar_Set(p.get(), "/:x", AnimStr_Dup(p.get(), "2"));
  EXPECT_EQ(AnimVar_Bucket("/:X"), AnimVar_Bucket("/:x"));
  EXPECT_EQ(Take(p, AnimVar_Get(p.get(), "/:X")), "2");
  int count = 0;
  for (AnimVariable* bucket : p->variables)
    for (AnimVariable* v = bucket; v; v = v->next) ++count;
  EXPECT_EQ(count, 1);
  AnimVar_Clear(p.get());
}

TEST(AnimVariables, ReadingAMissingVariableCreatesItEmpty) {
  TestPlayer p;
  EXPECT_EQ(AnimVar_Find(p.get(), "/a:missing"), nullptr);
  EXPECT_EQ(Take(p, AnimVar_Get(p.get(), "/a:missing")), "");
  ASSERT_NE(AnimVar_Find(p.get(), "/A:MISSING"), nullptr);
  AnimVar_Clear(p.get());
  EXPECT_EQ(AnimVar_Find(p.get(), "/a:missing"), nullptr);
  EXPECT_EQ(p->heap.bytesInUse, 0u);
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
  EXPECT_EQ(p->heap.bytesInUse, 0u);  // the overwritten value went back too
}

TEST(AnimVariables, BucketIsTheWeightedByteSum) {
  EXPECT_EQ(AnimVar_Bucket(""), 0u);
  EXPECT_EQ(AnimVar_Bucket("ab"), (97u * 1 + 98u * 2) & 31);
  EXPECT_EQ(AnimVar_Bucket("\xFF"), 255u & 31);
}

TEST(AnimVariables, CollectListsTheRootsVariables) {
  TestPlayer p;
  AnimVar_Set(p.get(), "/:name", AnimStr_Dup(p.get(), "joe"));
  AnimVar_Set(p.get(), "/:zero", AnimStr_Dup(p.get(), "0x"));
  AnimVar_Set(p.get(), "/:empty", AnimStr_Dup(p.get(), ""));
  AnimVar_Set(p.get(), "/clip:inner", AnimStr_Dup(p.get(), "no"));
  std::string list = Take(p, AnimVar_Collect(p.get(), ""));
  // Order follows the buckets; compare as a set of pairs.
  for (const char* pair : {"name=joe&", "zero=&", "empty=&"}) EXPECT_NE(list.find(pair), std::string::npos) << list;
  EXPECT_EQ(list.size(), std::string("name=joe&zero=&empty=&").size());
  EXPECT_EQ(Take(p, AnimVar_Collect(p.get(), "/clip")), "");
  AnimVar_Clear(p.get());
}

TEST(AnimValues, TextOfNumbers) {
  TestPlayer p;
  EXPECT_EQ(Take(p, AnimText_FromFloat(p.get(), 3.0f)), "3.00000");
  EXPECT_EQ(Take(p, AnimText_FromFloat(p.get(), 2.0f)), "2.00000");
  EXPECT_EQ(Take(p, AnimText_FromFloat(p.get(), 0.05f)), "0.05000");
  EXPECT_EQ(Take(p, AnimText_FromFloat(p.get(), -2.5f)), "-2.50000");
  EXPECT_EQ(Take(p, AnimText_FromInt(p.get(), 3)), "3");
  EXPECT_EQ(Take(p, AnimText_FromInt(p.get(), -2147483647 - 1)), "-2147483648");
  EXPECT_EQ(Take(p, AnimText_FromResult(p.get(), 6.0f)), "6");
  EXPECT_EQ(Take(p, AnimText_FromResult(p.get(), 0.5f)), "0.50000");
}

TEST(AnimValues, ConversionsByKind) {
  TestPlayer p;
  AnimValue* f = AnimValue_NewFloat(p.get(), -2.75f);
  AnimValue* i = AnimValue_NewInt(p.get(), 42);
  AnimValue* t = AnimValue_NewText(p.get(), " 12.5xyz");
  EXPECT_EQ(AnimValue_Integer(f), -2);
  EXPECT_DOUBLE_EQ(AnimValue_Number(f), -2.75);
  EXPECT_EQ(Take(p, AnimValue_Text(p.get(), f)), "-2.75000");
  EXPECT_EQ(AnimValue_Integer(i), 42);
  EXPECT_EQ(Take(p, AnimValue_Text(p.get(), i)), "42");
  EXPECT_EQ(AnimValue_Integer(t), 12);
  EXPECT_DOUBLE_EQ(AnimValue_Number(t), 12.5);
  AnimValue_SetText(p.get(), i, AnimStr_Dup(p.get(), "7"));
  EXPECT_EQ(i->kind, kAnimString);
  EXPECT_EQ(AnimValue_Integer(i), 7);
  AnimValue_Release(p.get(), f);
  AnimValue_Release(p.get(), i);
  AnimValue_Release(p.get(), t);
  EXPECT_EQ(p->heap.bytesInUse, 0u);
}

TEST(AnimValues, TheStackIsLastInFirstOut) {
  TestPlayer p;
  AnimValue_Push(p.get(), AnimValue_NewInt(p.get(), 1));
  AnimValue_Push(p.get(), AnimValue_NewText(p.get(), "two"));
  AnimValue* top = AnimValue_Pop(p.get());
  EXPECT_EQ(Take(p, AnimValue_Text(p.get(), top)), "two");
  AnimValue_Release(p.get(), top);
  AnimValue_Push(p.get(), AnimValue_NewInt(p.get(), 3));
  EXPECT_EQ(AnimValue_ClearStack(p.get()), 1u);
  AnimValue* empty = AnimValue_Pop(p.get());  // an empty stack gives the empty text
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->kind, kAnimString);
  EXPECT_EQ(Take(p, AnimValue_Text(p.get(), empty)), "");
  AnimValue_Release(p.get(), empty);
  EXPECT_EQ(p->heap.bytesInUse, 0u);
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
