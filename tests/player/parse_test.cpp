#include <gtest/gtest.h>

#include <cstring>

#include "movie_writer.h"
#include "player_support.h"

namespace {

using movie::Bytes;

struct Parsed {
  AnimStream stream;
  uint32_t flags;
};

uint32_t Parse(TestPlayer& p, AnimStream* s, const Bytes& data) {
  AnimStream_Init(s, p.get(), 0);
  return AnimMovie_ReadHeader(s, data.data(), static_cast<uint32_t>(data.size()));
}

// A movie with every kind of tag the parser reads.
Bytes RichMovie() {
  using namespace movie;
  Place2 p2;
  p2.flags = 2 | 4 | 8 | 16 | 32 | 64;
  p2.depth = 3;
  p2.id = 1;
  p2.tx = -40;
  p2.ty = 60;
  p2.mul = {256, 128, 64, 255};
  p2.add = {1, -2, 3, -4};
  p2.ratio = 9;
  p2.name = "clip";
  p2.clipDepth = 7;
  EditText e;
  e.id = 20;
  e.flags = 0x0001 | 0x0004 | 0x0002 | 0x2000 | 0x0080;
  e.variable = "name";
  e.text = "a\rb\nc\r\nd";
  EditText own;
  own.id = 6001;
  own.variable = "/:ticker";
  own.text = "hello";
  own.first = 1;
  own.last = 3;
  const Bytes actions = Concat({GotoFrame(2), GetUrl("http://x/", "_level1"), PushFloat(3.0f), PushText("t"),
                                Action(0x8A, Writer().U16(4).U8(2).bytes()), Action(0x8C, Writer().Str("lbl").bytes()),
                                Action(0x8D, Writer().U8(1).bytes()), Action(0x9A, Writer().U8(0x47).bytes()),
                                Action(0x9F, Writer().U8(1).bytes()), Action(0x07), Action(0x96 + 1, {9, 9}),
                                Jump(0x99, -5), EndActions()});
  const Bytes spriteTags = Concat({Place(1, 1, 0, 0), ShowFrame(), RemoveDepth(1), ShowFrame(), End()});
  return Qvx({},
             Concat({Background(1, 2, 3), SolidShape(2, 1, 10, 20, 30), SolidShape(32, 2, 11, 21, 31),
                     SolidShape(521, 3, 12, 22, 32, true), SolidShape(523, 4, 13, 23, 33, true),
                     GradientShape(5, 3), Sound(6, 5, 0x5F, 4, {1, 2, 3, 4}),
                     Sound(7, 134, 0x00, 3, {9, 8, 7, 6, 5}), Button(8, 1, Concat({Action(0x06), EndActions()})),
                     ButtonWithConditions(9, true, 2,
                                          {{0x0080, Concat({Action(0x07), EndActions()})},
                                           {0x0001, Concat({GotoFrame(1), EndActions()})}}),
                     ButtonCxform(8, {128, 128, 128}), EditTextTag(e), EditTextTag(own),
                     Bitmap(10, {0xFF, 0xD8, 1, 2}), Font(10, 11, {{0x10, 0xAB, 0}, {0x11, 0}}), Font(524, 12, {{0x10, 0}}),
                     FontWithLayout(48, 13, 0x80, "abc", {{0x10, 1, 2, 0}, {0x10, 0}}, {'a', 'b'}),
                     FontWithLayout(525, 14, 0x80 | 8 | 4, "wide", {{0x10, 0}}, {0x263A}),
                     FontInfo(11, "ff", {65}), Text(11, 15, {0x88, 11, 0, 0, 0, 0xF0, 0}),
                     Text(33, 16, {0x80, 0}), Morph(17, {0x11, 0xC0, 0}, {0x22, 0x80, 0}), Tag(3, Writer().U16(1).bytes()),
                     Tag(40, {1, 2, 3}), Tag(999, {1, 2}), FrameLabel("first"), FrameLabel("second"),
                     Place(1, 1, 100, -200), Place(2, 2, 0, 0, true), PlaceWithFlags(p2), StartSound(6, 0x2F, 3, 2),
                     StartSound(99, 0), Actions(actions), Caption(560, 20), Caption(561, 6001),
                     Caption(562, 0x1234), Caption(563, 0), ShowFrame(), Remove(1, 1), RemoveDepth(2),
                     Sprite(30, 2, spriteTags), Place(30, 4, 0, 0), ShowFrame(), End()}));
}

TEST(AnimParser, ReadsTheHeader) {
  TestPlayer p;
  movie::Header h;
  h.version = 4;
  h.frames = 5;
  h.rate = (15 << 8) | 0x80;
  h.reservedA = 0x11;
  h.reservedB = 0x22;
  const Bytes data = movie::Qvx(h, movie::Concat({movie::ShowFrame(), movie::End()}));
  AnimStream s;
  const uint32_t flags = Parse(p, &s, data);
  EXPECT_EQ(flags, kAnimHeaderRead | kAnimFrameClosed | kAnimEnd);
  EXPECT_EQ(s.version, 4u);
  EXPECT_EQ(s.frameRate, 15u);
  EXPECT_EQ(s.frameCount, 5u);
  EXPECT_EQ(s.reservedA, 0x11u);
  EXPECT_EQ(s.reservedB, 0x22u);
  EXPECT_EQ(s.frameRect.xmax, 176 * 20);
  EXPECT_EQ(s.frameRect.ymax, 208 * 20);
  EXPECT_EQ(s.headerPending, 0u);
  EXPECT_EQ(s.root->framesLoaded, 5u);
  EXPECT_EQ(s.root->framesClosed, 2u);
  AnimStream_Free(&s);
}

TEST(AnimParser, TotalLengthOf66ParsesAnd65IsRefused) {
  TestPlayer p;
  movie::Header small;
  small.xmax = small.ymax = 0;
  const Bytes ok = movie::Qvx(small, movie::End(), 66);
  ASSERT_EQ(ok.size(), 66u);
  AnimStream s;
  EXPECT_EQ(Parse(p, &s, ok), kAnimHeaderRead | kAnimEnd);
  AnimStream_Free(&s);
  const Bytes refused = movie::Qvx(small, movie::End(), 65);
  ASSERT_EQ(refused.size(), 65u);
  EXPECT_EQ(Parse(p, &s, refused), 0u);
  EXPECT_EQ(s.headerPending, 1u);
}

TEST(AnimParser, RefusesOtherSignaturesAndWaitsForTheWholeMovie) {
  TestPlayer p;
  Bytes data = movie::Qvx({}, movie::Concat({movie::ShowFrame(), movie::End()}), 80);
  AnimStream s;
  EXPECT_EQ(Parse(p, &s, Bytes(data.begin(), data.begin() + 20)), kAnimNeedMore);
  EXPECT_EQ(Parse(p, &s, Bytes(data.begin(), data.end() - 1)), kAnimNeedMore);
  EXPECT_EQ(s.headerPending, 1u);  // nothing read yet: the next call reads the header
  Bytes fws = data;
  std::memcpy(fws.data(), "FWS", 3);
  EXPECT_EQ(Parse(p, &s, fws), 0u);
  EXPECT_EQ(Parse(p, &s, {}), kAnimNeedMore);
}

TEST(AnimParser, EveryTagOfARichMovieReadsAsWritten) {
  TestPlayer p;
  const Bytes data = RichMovie();
  AnimStream s;
  const uint32_t flags = Parse(p, &s, data);
  ASSERT_EQ(flags, kAnimHeaderRead | kAnimFrameClosed | kAnimEnd) << DumpStream(&s);
  AnimClip* root = s.root;
  AnimFrame& f0 = root->frames[0];
  EXPECT_STREQ(f0.label, "first");  // the second label of a frame is dropped
  // Commands of frame 0 in tag order.
  std::vector<uint32_t> kinds;
  for (AnimFrameCommand* c = f0.first; c; c = c->next) kinds.push_back(c->kind);
  EXPECT_EQ(kinds, (std::vector<uint32_t>{7, 0, 0, 1, 5, 4, 8, 9, 10, 11}));
  AnimFrameCommand* c = f0.first;
  EXPECT_EQ(c->color[0], 1);
  EXPECT_EQ(c->color[2], 3);
  c = c->next;
  EXPECT_EQ(c->flags, 6u);
  EXPECT_EQ(c->character->id, 1u);
  EXPECT_EQ(c->matrix.tx, 100);
  EXPECT_EQ(c->matrix.ty, -200);
  c = c->next;
  EXPECT_EQ(c->flags, 14u);
  EXPECT_EQ(c->cxform.rMul, 128);
  EXPECT_EQ(c->cxform.bMul, 512);
  EXPECT_EQ(c->cxform.aMul, 256);
  c = c->next;
  EXPECT_EQ(c->flags, 126u);
  EXPECT_EQ(c->depth, 3);
  EXPECT_STREQ(c->name, "clip");
  EXPECT_EQ(c->ratio, 9);
  EXPECT_EQ(c->clipDepth, 7);
  EXPECT_EQ(c->matrix.tx, -40);
  EXPECT_EQ(c->cxform.aMul, 255);
  EXPECT_EQ(c->cxform.gAdd, -2);
  EXPECT_EQ(c->cxform.bAdd, 3);
  EXPECT_EQ(c->cxform.aAdd, -4);
  c = c->next;
  ASSERT_NE(c->soundInfo, nullptr);
  EXPECT_EQ(c->soundInfo->syncBits, 2);
  EXPECT_EQ(c->soundInfo->loopCount, 3);
  c = c->next;
  EXPECT_EQ(DumpActions(c->actions),
            "[129@0 2 0 0 null null][131@5 0 0 0 \"http://x/\" \"_level1\"][150@26 3 0 0 null null]"
            "[150@34 0 0 0 null \"t\"][138@40 4 2 0 null null][140@46 0 0 0 null \"lbl\"]"
            "[141@53 0 1 0 null null][154@57 0 0 3 null null][159@61 0 0 1 null null]"
            "[7@65 0 0 0 null null][151@66 0 0 0 null null][153@71 0 0 0 null null ->71]");
  c = c->next;
  EXPECT_EQ(c->character->id, 20u);
  c = c->next->next;
  EXPECT_EQ(c->depth, 0x1234);
  EXPECT_EQ(c->ratio, -1);
  // Depth buckets note what the frame places.
  EXPECT_NE(f0.depths[1], nullptr);
  EXPECT_NE(f0.depths[3], nullptr);
  // Frame 1 removes; frame 1 also places the sprite.
  EXPECT_EQ(root->frames[1].first->kind, 2u);
  EXPECT_EQ(root->frames[1].first->next->kind, 3u);
  // The sprite got its own clip with its own frames.
  AnimChar* sprite = AnimDict_Find(s.dictionary, 30);
  ASSERT_NE(sprite, nullptr);
  AnimClip* sc = static_cast<AnimSprite*>(sprite->body)->clip;
  EXPECT_EQ(sc->frameCount, 2u);
  EXPECT_EQ(sc->framesLoaded, 2u);
  EXPECT_EQ(sc->frames[0].first->kind, 0u);
  EXPECT_EQ(sc->frames[1].first->kind, 3u);
  EXPECT_EQ(root->frames[1].first->next->next->character, sprite);
  AnimStream_Free(&s);
}

TEST(AnimParser, ShapesKeepTheirStylesAndRecords) {
  TestPlayer p;
  AnimStream s;
  ASSERT_NE(Parse(p, &s, RichMovie()) & kAnimEnd, 0u);
  for (uint32_t id : {1u, 2u, 3u, 4u}) {
    AnimChar* c = AnimDict_Find(s.dictionary, id);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->type, kAnimShape);
    auto* shape = static_cast<AnimShape*>(c->body);
    EXPECT_EQ(shape->bounds.xmax, 200);
    ASSERT_EQ(shape->styles.fillCount, 1u);
    EXPECT_EQ(shape->styles.fills[0].r, 9 + id);
    EXPECT_EQ(shape->styles.fills[0].a, 255);
    ASSERT_EQ(shape->styles.lineCount, 1u);
    EXPECT_EQ(shape->styles.lines[0].width, 20u);
    EXPECT_EQ(shape->fillBits, 1);
    EXPECT_EQ(shape->lineBits, 1);
    EXPECT_EQ(shape->recordSize, 2u);
  }
  auto* gradient = static_cast<AnimShape*>(AnimDict_Find(s.dictionary, 5)->body);
  EXPECT_EQ(gradient->styles.fills[0].type, 0x10u);
  EXPECT_EQ(gradient->styles.fills[0].count, 3u);
  EXPECT_EQ(gradient->styles.fills[0].records[2].g, 4);
  EXPECT_FLOAT_EQ(gradient->styles.fills[0].matrix.a, 2.0f);
  EXPECT_NE(gradient->styles.fills[0].ramp, nullptr);
  AnimStream_Free(&s);
}

// The rich movie's morph shape and fonts, read among all its other tags.
TEST(AnimParser, TheRichMoviesCharactersReadAsWritten) {
  TestPlayer p;
  AnimStream s;
  ASSERT_NE(Parse(p, &s, RichMovie()) & kAnimEnd, 0u);
  AnimChar* morph = AnimDict_Find(s.dictionary, 17);
  ASSERT_NE(morph, nullptr);
  auto* m = static_cast<AnimMorph*>(morph->body);
  ASSERT_EQ(m->fillCount, 3u);
  EXPECT_EQ(m->fills[0].end[3], 8);
  EXPECT_EQ(m->fills[1].records[1].endColor[3], 43);
  EXPECT_EQ(m->fills[2].endMatrix.tx, 7);
  EXPECT_EQ(m->lines[0].endWidth, 40u);
  ASSERT_EQ(m->endSize, 3u);
  EXPECT_EQ(m->endEdges[0], 0x22);

  ASSERT_NE(AnimDict_Find(s.dictionary, 11), nullptr);
  EXPECT_STREQ(static_cast<AnimFont*>(AnimDict_Find(s.dictionary, 11)->body)->name, "ff");  // from the font info
  ASSERT_NE(AnimDict_Find(s.dictionary, 14), nullptr);
  EXPECT_EQ(static_cast<AnimFont*>(AnimDict_Find(s.dictionary, 14)->body)->codes[0], 0x263A);
  AnimStream_Free(&s);
}

TEST(AnimParser, AGradientOfMoreThanEightRecordsKeepsTheFirstEight) {
  TestPlayer p;
  AnimStream s;
  ASSERT_NE(Parse(p, &s, movie::Qvx({}, movie::Concat({movie::GradientShape(1, 12), movie::End()}))) & kAnimEnd,
            0u);
  auto* shape = static_cast<AnimShape*>(AnimDict_Find(s.dictionary, 1)->body);
  EXPECT_EQ(shape->styles.fills[0].count, 8u);
  EXPECT_EQ(shape->recordSize, 1u);  // the reader stayed in step past the extra records
  AnimStream_Free(&s);
}

TEST(AnimParser, SoundsButtonsAndEditTextRead) {
  TestPlayer p;
  AnimStream s;
  ASSERT_NE(Parse(p, &s, RichMovie()) & kAnimEnd, 0u);
  auto* snd = static_cast<AnimSound*>(AnimDict_Find(s.dictionary, 6)->body);
  EXPECT_EQ(snd->typeBit, 4u);
  EXPECT_EQ(snd->codecClass, 255);
  EXPECT_EQ(snd->sampleRate, 44100);
  EXPECT_EQ(snd->bytesPerSample, 2);
  EXPECT_EQ(snd->stereo, 1);
  EXPECT_EQ(snd->dataSize, 4u);
  auto* streamed = static_cast<AnimSound*>(AnimDict_Find(s.dictionary, 7)->body);
  EXPECT_EQ(streamed->streamed, 1);
  EXPECT_EQ(streamed->typeBit, 64u);
  EXPECT_EQ(streamed->dataSize, 3u);  // the sample count, not the bytes left
  EXPECT_EQ(streamed->data[2], 7);

  auto* button = static_cast<AnimButton*>(AnimDict_Find(s.dictionary, 8)->body);
  ASSERT_NE(button->records, nullptr);
  EXPECT_EQ(button->records->states, 9u);
  EXPECT_EQ(button->records->next->matrix.tx, 100);
  ASSERT_NE(button->records->cxform, nullptr);  // from the colour transform tag
  EXPECT_EQ(button->records->cxform->rMul, 128);
  EXPECT_EQ(DumpActions(button->actions), "[6@0 0 0 0 null null]");

  auto* menu = static_cast<AnimButton*>(AnimDict_Find(s.dictionary, 9)->body);
  EXPECT_EQ(menu->menu, 1u);
  EXPECT_EQ(menu->records->cxform->aMul, 128);
  ASSERT_NE(menu->conditions, nullptr);
  EXPECT_EQ(menu->conditions->bits, 1u);  // conditions are pushed at the front
  EXPECT_EQ(menu->conditions->next->bits, 0x80u);
  const AnimActionRecord* down = AnimButton_TransitionActions(menu, 4, 1);
  ASSERT_NE(down, nullptr);
  EXPECT_EQ(down->code, 7u);

  auto* field = static_cast<AnimButton*>(AnimDict_Find(s.dictionary, 20)->body)->editText;
  ASSERT_NE(field, nullptr);
  EXPECT_STREQ(field->text, "a\r\nb\r\nc\r\nd");
  EXPECT_STREQ(field->variable, "name");
  EXPECT_EQ(field->fontHeight, 240);
  EXPECT_EQ(field->color, 0xFF000000u);
  EXPECT_EQ(field->leftMargin, 10);
  EXPECT_EQ(field->leading, 40);
  EXPECT_EQ(field->firstFrame, -1);
  auto* own = static_cast<AnimButton*>(AnimDict_Find(s.dictionary, 6001)->body)->editText;
  EXPECT_STREQ(own->variable, "/:ticker");
  EXPECT_STREQ(own->text, "hello");
  EXPECT_EQ(own->firstFrame, 1);
  EXPECT_EQ(own->lastFrame, 3);
  EXPECT_EQ(own->color, 0xFF000000u);
  EXPECT_EQ(own->options[3], 4);
  AnimStream_Free(&s);
}

TEST(AnimParser, CutAtEveryByteWaitsThenGivesTheSameStream) {
  TestPlayer p;
  const Bytes data = RichMovie();
  AnimStream whole;
  Parse(p, &whole, data);
  const std::string expected = DumpStream(&whole);
  AnimStream_Free(&whole);
  // Fed one more byte at a time into the same stream.
  AnimStream s;
  AnimStream_Init(&s, p.get(), 0);
  uint32_t flags = 0;
  for (uint32_t n = 0; n <= data.size(); ++n) {
    flags = AnimMovie_ReadHeader(&s, data.data(), n);
    if (n < data.size()) {
      ASSERT_EQ(flags, kAnimNeedMore) << n;
    }
  }
  EXPECT_NE(flags & kAnimEnd, 0u);
  EXPECT_EQ(DumpStream(&s), expected);
  AnimStream_Free(&s);
  EXPECT_EQ(p->heap.bytesInUse, 0u);
}

// A header whose total length ends the data at every byte of the tag stream:
// every read stays inside the data and the heap stays whole.
TEST(AnimParser, TruncatedAtEveryByteStaysInsideTheData) {
  TestPlayer p;
  const Bytes data = RichMovie();
  for (uint32_t n = 66; n < data.size(); ++n) {
    Bytes cut(data.begin(), data.begin() + n);
    cut[4] = static_cast<uint8_t>(n);
    cut[5] = static_cast<uint8_t>(n >> 8);
    AnimStream s;
    const uint32_t flags = Parse(p, &s, cut);
    EXPECT_EQ(flags & kAnimHeaderRead, flags ? kAnimHeaderRead : 0u) << n;
    AnimStream_Free(&s);
    ASSERT_EQ(p->heap.bytesInUse, 0u) << n;
    ASSERT_EQ(AnimHeap_Check(&p->heap), nullptr) << n;
  }
}

TEST(AnimParser, ATagRunningPastTheDataEndsWithoutClosingTheFrame) {
  TestPlayer p;
  Bytes tags = movie::Concat({movie::ShowFrame(), movie::Tag(9, {1, 2, 3})});
  tags.resize(tags.size() - 1);
  AnimStream s;
  const uint32_t flags = Parse(p, &s, movie::Qvx({}, tags));
  EXPECT_EQ(flags, kAnimHeaderRead | kAnimFrameClosed | kAnimEnd);
  EXPECT_EQ(s.root->framesClosed, 1u);
  EXPECT_EQ(s.root->framesLoaded, 0u);
  AnimStream_Free(&s);
}

TEST(AnimParser, ALongTagLengthIsRead) {
  TestPlayer p;
  AnimStream s;
  const Bytes tags = movie::Concat({movie::Tag(9, {4, 5, 6}, true), movie::End()});
  EXPECT_NE(Parse(p, &s, movie::Qvx({}, tags)) & kAnimEnd, 0u);
  EXPECT_EQ(s.root->frames[0].first->color[1], 5);
  AnimStream_Free(&s);
}

TEST(AnimParser, BranchesResolveToActionStartsOnly) {
  TestPlayer p;
  using namespace movie;
  // Jump 0: to the action after it. Jump 1: into the middle of the next action.
  const Bytes list = Concat({Jump(0x99, 0), Action(0x07), Jump(0x9D, 1), GotoFrame(1), Jump(0x99, -13), EndActions()});
  // The last jump lands at 8, inside the conditional jump at 6: no target.
  AnimStream s;
  ASSERT_NE(Parse(p, &s, Qvx({}, Concat({Actions(list), End()}))) & kAnimEnd, 0u);
  EXPECT_EQ(DumpActions(s.root->frames[0].first->actions),
            "[153@0 0 0 0 null null ->5][7@5 0 0 0 null null][157@6 0 0 0 null null]"
            "[129@11 1 0 0 null null][153@16 0 0 0 null null]");
  AnimStream_Free(&s);
}

TEST(AnimParser, BranchBackToTheStartResolves) {
  TestPlayer p;
  using namespace movie;
  const Bytes list = Concat({Action(0x07), Jump(0x99, -6), EndActions()});
  AnimStream s;
  ASSERT_NE(Parse(p, &s, Qvx({}, Concat({Actions(list), End()}))) & kAnimEnd, 0u);
  EXPECT_EQ(DumpActions(s.root->frames[0].first->actions), "[7@0 0 0 0 null null][153@1 0 0 0 null null ->0]");
  AnimStream_Free(&s);
}

struct PushCase {
  float value;
  int32_t stored;
};
class AnimPushFloat : public ::testing::TestWithParam<PushCase> {};

TEST_P(AnimPushFloat, StoresSmallWholeNumbersOnly) {
  TestPlayer p;
  AnimStream s;
  const Bytes tags = movie::Concat({movie::Actions(movie::Concat({movie::PushFloat(GetParam().value), {0}})),
                                    movie::End()});
  ASSERT_NE(Parse(p, &s, movie::Qvx({}, tags)) & kAnimEnd, 0u);
  EXPECT_EQ(s.root->frames[0].first->actions->number1, GetParam().stored);
  AnimStream_Free(&s);
}

INSTANTIATE_TEST_SUITE_P(Values, AnimPushFloat,
                         ::testing::Values(PushCase{0.0f, 0}, PushCase{3.0f, 3}, PushCase{18.0f, 18},
                                           PushCase{2.5f, 16384}, PushCase{19.0f, 16384}, PushCase{-1.0f, 16384}));

TEST(AnimDictionary, ALaterDefinitionHidesAnEarlierOne) {
  TestPlayer p;
  using namespace movie;
  AnimStream s;
  const Bytes tags = Concat({Sound(1, 5, 0, 2, {1, 1}), Sound(1, 5, 0, 3, {2, 2, 2}), Place(1, 1, 0, 0), End()});
  ASSERT_NE(Parse(p, &s, Qvx({}, tags)) & kAnimEnd, 0u);
  auto* sound = static_cast<AnimSound*>(AnimDict_Find(s.dictionary, 1)->body);
  EXPECT_EQ(sound->dataSize, 3u);
  EXPECT_EQ(s.root->frames[0].first->character, &sound->header);
  EXPECT_EQ(AnimDict_Find(s.dictionary, 2), nullptr);
  AnimStream_Free(&s);
}

TEST(AnimDictionary, UnknownTagsAreSkippedAndFreeCharacterDoesNothing) {
  TestPlayer p;
  using namespace movie;
  AnimStream s;
  const Bytes tags =
      Concat({Tag(700, {1, 2, 3, 4}), Tag(1023, Bytes(100, 7)), Sound(1, 5, 0, 1, {1}), Tag(3, {1, 0}), End()});
  ASSERT_EQ(Parse(p, &s, Qvx({}, tags)), kAnimHeaderRead | kAnimEnd);
  EXPECT_NE(AnimDict_Find(s.dictionary, 1), nullptr);
  EXPECT_EQ(s.root->frames[0].first, nullptr);
  AnimStream_Free(&s);
}

struct SoundCase {
  uint8_t type, format;
  uint32_t flags;
  uint32_t typeBit;
};
class AnimSoundType : public ::testing::TestWithParam<SoundCase> {};

TEST_P(AnimSoundType, MapsTypeAndFormat) {
  TestPlayer p;
  AnimStream s;
  const SoundCase c = GetParam();
  const uint32_t flags = Parse(p, &s, movie::Qvx({}, movie::Concat({movie::Sound(1, c.type, c.format, 1, {1}),
                                                                    movie::End()})));
  EXPECT_EQ(flags, c.flags);
  if (flags & kAnimEnd) {
    EXPECT_EQ(static_cast<AnimSound*>(AnimDict_Find(s.dictionary, 1)->body)->typeBit, c.typeBit);
  }
  AnimStream_Free(&s);
}

INSTANTIATE_TEST_SUITE_P(
    Types, AnimSoundType,
    ::testing::Values(SoundCase{200, 0x50, kAnimHeaderRead | kAnimEnd, 4},   // the format nibble's type stays
                      SoundCase{10, 0x40, kAnimHeaderRead | kAnimSoundRefused, 0},  // nibble 4: no type bit
                      SoundCase{6, 0x00, kAnimHeaderRead | kAnimEnd, 64},
                      SoundCase{135, 0x00, kAnimHeaderRead | kAnimEnd, 128},
                      SoundCase{0, 0x70, kAnimHeaderRead | kAnimSoundRefused, 8},
                      SoundCase{200, 0x90, kAnimHeaderRead | kAnimSoundRefused, 32768}));

TEST(AnimDictionary, ASoundWithoutDataIsATagError) {
  TestPlayer p;
  AnimStream s;
  const uint32_t flags =
      Parse(p, &s, movie::Qvx({}, movie::Concat({movie::Sound(1, 5, 0, 0, {}), movie::End()})));
  EXPECT_EQ(flags, kAnimHeaderRead | kAnimTagFailed);
  EXPECT_EQ(AnimDict_Find(s.dictionary, 1), nullptr);
  AnimStream_Free(&s);
}

TEST(AnimDictionary, FontInfoForAnUnknownFontIsATagErrorAndEntersNothing) {
  TestPlayer p;
  AnimStream s;
  EXPECT_EQ(Parse(p, &s, movie::Qvx({}, movie::Concat({movie::FontInfo(1, "x", {}), movie::End()}))),
            kAnimHeaderRead | kAnimTagFailed);
  EXPECT_EQ(AnimDict_Find(s.dictionary, 1), nullptr);
  AnimStream_Free(&s);
}

TEST(AnimDictionary, ASpriteWithoutFramesOrWithBrokenTagsIsNotEntered) {
  TestPlayer p;
  using namespace movie;
  AnimStream s;
  Bytes broken = Concat({ShowFrame(), Tag(9, {1, 2, 3})});
  broken.pop_back();  // the inner tag runs past the sprite's end
  const Bytes tags = Concat({Sprite(1, 0, Concat({ShowFrame(), End()})), Sprite(2, 1, broken),
                             Sprite(3, 1, Concat({ShowFrame(), End()})), End()});
  ASSERT_NE(Parse(p, &s, Qvx({}, tags)) & kAnimEnd, 0u);
  EXPECT_EQ(AnimDict_Find(s.dictionary, 1), nullptr);
  EXPECT_EQ(AnimDict_Find(s.dictionary, 2), nullptr);
  EXPECT_NE(AnimDict_Find(s.dictionary, 3), nullptr);
  AnimStream_Free(&s);
}

struct TransitionCase {
  uint32_t menu, to, from, bits;
};
class AnimButtonTransition : public ::testing::TestWithParam<TransitionCase> {};

TEST_P(AnimButtonTransition, GivesTheConditionBits) {
  AnimButton b{};
  b.menu = GetParam().menu;
  EXPECT_EQ(AnimButton_TransitionBits(&b, GetParam().to, GetParam().from), GetParam().bits);
}

INSTANTIATE_TEST_SUITE_P(Table, AnimButtonTransition,
                         ::testing::Values(TransitionCase{0, 2, 1, 1}, TransitionCase{0, 1, 2, 2},
                                           TransitionCase{0, 4, 2, 4}, TransitionCase{0, 2, 4, 8},
                                           TransitionCase{1, 4, 1, 128}, TransitionCase{1, 1, 4, 256},
                                           TransitionCase{0, 4, 1, 32}, TransitionCase{0, 1, 4, 16},
                                           TransitionCase{0, 2, 2, 0}, TransitionCase{1, 2, 1, 1}));

TEST(AnimPackage, UnpacksMembersAndFindsThemByExactName) {
  const Bytes inner = movie::Qvx({}, movie::End());
  const Bytes pkg = movie::Qvz({{"main.qvx", inner}, {"empty", {}}, {"Vars.txt", {'a', '=', '1'}}});
  AnimPackage table{};
  uint32_t size = 0;
  const uint8_t* first = AnimPackage_Unpack(&table, pkg.data(), static_cast<uint32_t>(pkg.size()), &size);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(size, inner.size());
  EXPECT_EQ(std::memcmp(first, inner.data(), size), 0);
  EXPECT_EQ(table.count, 3u);
  const AnimPackageEntry* empty = AnimPackage_Find(&table, "empty");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->size, 0u);
  EXPECT_EQ(empty->data + 1 + 8 + 4, AnimPackage_Find(&table, "Vars.txt")->data);  // the next member's start
  EXPECT_EQ(AnimPackage_Find(&table, "vars.txt"), nullptr);
}

TEST(AnimPackage, RefusesBrokenPackages) {
  AnimPackage table{};
  uint32_t size = 0;
  const Bytes member = {1, 2, 3};
  std::vector<Bytes> bad = {
      {'Q', 'V', 'Z', 0},
      movie::Qvz({{std::string(52, 'n'), member}}),
      {'Q', 'V', 'X', 1, 'a', 5, 0, 0, 0, 1},
      {'Q', 'V', 'Z', 1, 'a', 9, 0, 0, 0, 1, 2},
      {'Q', 'V', 'Z', 1, 'a', 1, 0},
  };
  std::vector<std::pair<std::string, Bytes>> eleven;
  for (int i = 0; i < 11; ++i) eleven.push_back({"m" + std::to_string(i), member});
  bad.push_back(movie::Qvz(eleven));
  for (const Bytes& b : bad) {
    EXPECT_EQ(AnimPackage_Unpack(&table, b.data(), static_cast<uint32_t>(b.size()), &size), nullptr);
    EXPECT_EQ(table.count, 0u);
  }
}

}  // namespace

namespace {

TEST(AnimParser, FontsAndTextsReadTheirRecords) {
  TestPlayer p;
  using namespace movie;
  const Bytes tags = Concat({
      Font(10, 1, {{0x10, 0xAB, 0}, {0x21, 0}}),
      FontInfo(1, "Sans", {'h', 'i'}),
      FontWithLayout(525, 2, 0x80 | 8 | 4, "wide", {{0x10, 7, 0}, {0x10, 0}}, {0x263A, 'x'}),
      Text(11, 3, {0x8D, 1, 0, 10, 20, 30, 0xF6, 0xFF, 240, 0, 2, 1, 100, 0, 0xFD, 0}),
      Text(33, 4, {0x84, 1, 2, 3, 4, 1, 2, 5, 0x01, 3, 7}),
      End(),
  });
  AnimStream s;
  ASSERT_EQ(Parse(p, &s, Qvx({}, tags)), kAnimHeaderRead | kAnimEnd);
  auto* f1 = static_cast<AnimFont*>(AnimDict_Find(s.dictionary, 1)->body);
  ASSERT_EQ(f1->glyphCount, 2u);
  EXPECT_EQ(f1->glyphs[0].fillBits, 1);
  EXPECT_EQ(f1->glyphs[0].size, 2u);
  EXPECT_EQ(f1->glyphs[0].records[0], 0xAB);
  EXPECT_EQ(f1->glyphs[1].lineBits, 1);
  EXPECT_STREQ(f1->name, "Sans");
  EXPECT_EQ(f1->codes[1], 'i');
  auto* f2 = static_cast<AnimFont*>(AnimDict_Find(s.dictionary, 2)->body);
  ASSERT_EQ(f2->glyphCount, 2u);
  EXPECT_STREQ(f2->name, "wide");
  EXPECT_EQ(f2->glyphs[0].size, 2u);
  EXPECT_EQ(f2->codes[0], 0x263A);
  EXPECT_EQ(f2->codes[1], 'x');
  auto* t3 = static_cast<AnimText*>(AnimDict_Find(s.dictionary, 3)->body);
  EXPECT_EQ(t3->matrix.tx, 20);
  ASSERT_NE(t3->records, nullptr);
  EXPECT_EQ(t3->records->font, &f1->header);
  EXPECT_EQ(t3->records->b, 30);
  EXPECT_EQ(t3->records->a, 255);
  EXPECT_EQ(t3->records->x, -10);
  EXPECT_EQ(t3->records->height, 240u);
  ASSERT_EQ(t3->records->glyphCount, 2u);
  EXPECT_EQ(t3->records->glyphs[0].advance, 100);
  EXPECT_EQ(t3->records->glyphs[1].advance, -3);
  EXPECT_EQ(t3->records->next, nullptr);
  auto* t4 = static_cast<AnimText*>(AnimDict_Find(s.dictionary, 4)->body);
  ASSERT_NE(t4->records, nullptr);
  EXPECT_EQ(t4->records->a, 4);
  EXPECT_EQ(t4->records->glyphs[0].index, 2u);
  ASSERT_NE(t4->records->next, nullptr);  // a plain run of one glyph
  EXPECT_EQ(t4->records->next->glyphs[0].advance, 7);
  AnimStream_Free(&s);
}

TEST(AnimParser, MorphShapesReadBothStyleSetsAndBothEdgeSets) {
  TestPlayer p;
  AnimStream s;
  ASSERT_NE(Parse(p, &s, movie::Qvx({}, movie::Concat({movie::Morph(1, {0x11, 0xC0, 0}, {0x22, 0x80, 0}), movie::End()}))) &
                kAnimEnd,
            0u);
  auto* m = static_cast<AnimMorph*>(AnimDict_Find(s.dictionary, 1)->body);
  EXPECT_EQ(m->endBounds.xmax, 20);
  ASSERT_EQ(m->fillCount, 3u);
  EXPECT_EQ(m->fills[0].end[3], 8);
  EXPECT_EQ(m->fills[1].type, 0x12u);
  EXPECT_EQ(m->fills[1].endMatrix.ty, 4);
  EXPECT_EQ(m->fills[1].records[1].endRatio, 64);
  EXPECT_EQ(m->fills[1].records[1].endColor[3], 43);
  EXPECT_NE(m->fills[1].endRamp, nullptr);
  EXPECT_EQ(m->fills[2].type, 0x41u);
  EXPECT_EQ(m->fills[2].bitmapId, 9u);
  EXPECT_EQ(m->fills[2].endMatrix.tx, 7);
  ASSERT_EQ(m->lineCount, 1u);
  EXPECT_EQ(m->lines[0].endWidth, 40u);
  EXPECT_EQ(m->lines[0].end[0], 2);
  EXPECT_EQ(m->fillBits, 1);
  EXPECT_EQ(m->lineBits, 1);
  ASSERT_EQ(m->startSize, 2u);
  EXPECT_EQ(m->startEdges[0], 0xC0);
  ASSERT_EQ(m->endSize, 3u);
  EXPECT_EQ(m->endEdges[0], 0x22);
  AnimStream_Free(&s);
}

TEST(AnimParser, FontInfoForAnUnknownFontIsATagError) {
  TestPlayer p;
  AnimStream s;
  EXPECT_EQ(Parse(p, &s, movie::Qvx({}, movie::Concat({movie::FontInfo(9, "x", {}), movie::End()}))),
            kAnimHeaderRead | kAnimTagFailed);
  AnimStream_Free(&s);
}

}  // namespace
