// The image map: coordinates scaled to the shown image, the areas' boxes and
// reading order, moves with the keys and past the ends, the red outline and
// the screen under it, select and the soft-key actions.
#include <vector>

#include "browser/benmap.h"
#include "browser/benpage.h"
#include "layout/ddriver.h"
#include "tests/support/golden.h"
#include "tests/widgets/sel_fixture.h"
#include "widgets/pwl_imagemap.h"

namespace {

constexpr uint16_t kRed = 0xF800;

class ImageMapTest : public SelFixture {
 protected:
  void SetUp() override {
    SelFixture::SetUp();
    ListInit(&page.maps);
    page.contentHeight = 240;
    page.viewHeight = 240;
    page.mapVersion = 1;
    ui.page = &page;
    map.name = u"#nav";
    ListAppend(&page.maps, &map.link);
    object = {100, 80, 100, 80, 0, 0, 0, nullptr};
    image.kind = DDriverKind::Image;
    image.flags = DDriverFlag::Loaded;
    image.object = &object;
    image.left = 20;
    image.top = 40;
  }
  void TearDown() override {
    SelFixture::TearDown();
    ui.page = nullptr;
  }
  // Areas are kept in `areas` (stable storage) and linked in order.
  void Area(uint32_t shape, std::vector<BenMapCoord> c, const char16_t* target = u"t") {
    coords.push_back(std::move(c));
    areas.push_back(BenMapArea{nullptr, shape, static_cast<uint32_t>(coords.back().size()),
                               target, 0, nullptr, {}});
  }
  void Link() {
    for (size_t i = 0; i < areas.size(); ++i) {
      areas[i].coords = coords[i].data();
      areas[i].next = i + 1 < areas.size() ? &areas[i + 1] : nullptr;
    }
    map.areas = areas.empty() ? nullptr : &areas[0];
  }
  PwlControl* MakeMap(const char16_t* name = u"nav") {
    Link();
    PwlControl* c = Make(PwlType::ImageMap, 7, {20, 40, 119, 119});
    PwlMapBinding binding{name, &image};
    EXPECT_EQ(PwlSend(c, nullptr, &binding, PwlMsgFlag::Bound, PwlMsg::Bind, 0), kOk);
    return c;
  }
  PwlImageMap* M(PwlControl* c) { return reinterpret_cast<PwlImageMap*>(c); }
  int Index(const PwlMapArea* a) {
    if (!a) return -1;
    return static_cast<int>(a->source - areas.data());
  }
  Result Move(PwlControl* c, uint32_t key) {
    return PwlSend(c, nullptr, nullptr, 0, PwlMsg::Event, key);
  }

  BenPage page{};
  BenMap map{};
  DDriverImageObject object{};
  DDriverItem image{};
  std::vector<std::vector<BenMapCoord>> coords;
  std::vector<BenMapArea> areas;
};

// ---- coordinates and boxes ------------------------------------------------------------

TEST_F(ImageMapTest, PercentagesAreCappedAtAHundredAndSizesScaleEveryCoordinate) {
  const BenMapCoord c[] = {{150, 1}, {50, 1}, {10, 0}, {20, 0}};
  int32_t out[4];
  ASSERT_EQ(PwlScaleMapCoords(&image, c, 4, out), kOk);
  EXPECT_EQ(out[0], 100);
  EXPECT_EQ(out[1], 40);
  EXPECT_EQ(out[2], 10);
  EXPECT_EQ(out[3], 20);
  object.shownWidth = 200;
  object.shownHeight = 160;
  ASSERT_EQ(PwlScaleMapCoords(&image, c, 4, out), kOk);
  EXPECT_EQ(out[0], 200);
  EXPECT_EQ(out[1], 80);
  EXPECT_EQ(out[2], 20);
  EXPECT_EQ(out[3], 40);
}

TEST_F(ImageMapTest, HugeCoordinatesScaleIn64BitsWithoutWrapping) {
  object.shownWidth = 4000000;
  object.naturalWidth = 3;
  const BenMapCoord c[] = {{2000000000, 0}};
  int32_t out[1];
  ASSERT_EQ(PwlScaleMapCoords(&image, c, 1, out), kOk);
  EXPECT_EQ(out[0], INT32_MAX);
}

TEST_F(ImageMapTest, ACircleOfRadiusTenAtFiveFiveHasTheBoxZeroToFifteen) {
  Area(BenMapShape::Circle, {{5, 0}, {5, 0}, {10, 0}});
  Area(BenMapShape::Rect, {{90, 0}, {70, 0}, {500, 0}, {500, 0}});
  PwlControl* c = MakeMap();
  const PwlMapArea* a = M(c)->areas;
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->box[0], 0);
  EXPECT_EQ(a->box[1], 0);
  EXPECT_EQ(a->box[2], 15);
  EXPECT_EQ(a->box[3], 15);
  // Clipped to the natural size.
  EXPECT_EQ(a->next->box[2], 100);
  EXPECT_EQ(a->next->box[3], 80);
}

TEST_F(ImageMapTest, AnImageShownAtTwiceItsSizeDoublesTheBoxes) {
  object.shownWidth = 200;
  object.shownHeight = 160;
  Area(BenMapShape::Rect, {{10, 0}, {5, 0}, {20, 0}, {15, 0}});
  PwlControl* c = MakeMap();
  const PwlMapArea* a = M(c)->areas;
  EXPECT_EQ(a->box[0], 20);
  EXPECT_EQ(a->box[1], 10);
  EXPECT_EQ(a->box[2], 40);
  EXPECT_EQ(a->box[3], 30);
}

TEST_F(ImageMapTest, WithoutAMatchingMapOrAUsableImageThereAreNoAreas) {
  Area(BenMapShape::Rect, {{0, 0}, {0, 0}, {10, 0}, {10, 0}});
  PwlControl* c = MakeMap(u"#other");
  EXPECT_EQ(M(c)->areas, nullptr);
  EXPECT_EQ(Move(c, PwlKey::Next), PwlErr::NullRect);
  image.flags = 0;
  PwlControl* d = MakeMap();
  EXPECT_EQ(M(d)->areas, nullptr);
  BenMap* found = nullptr;
  EXPECT_EQ(BenPageFindMap(&page, u"nav", &found), kOk) << "a leading # is skipped";
  EXPECT_EQ(found, &map);
  EXPECT_EQ(BenPageFindMap(&page, u"navx", &found), kBenMapNotFound);
}

// ---- reading order and moves ------------------------------------------------------------

TEST_F(ImageMapTest, NextAndPreviousFollowReadingOrderWhateverTheMapsOrder) {
  Area(BenMapShape::Rect, {{50, 0}, {40, 0}, {60, 0}, {50, 0}});  // 2
  Area(BenMapShape::Rect, {{50, 0}, {0, 0}, {60, 0}, {10, 0}});   // 1
  Area(BenMapShape::Rect, {{0, 0}, {0, 0}, {10, 0}, {10, 0}});    // 0
  Area(BenMapShape::Rect, {{0, 0}, {40, 0}, {10, 0}, {50, 0}});   // 2, left
  PwlControl* c = MakeMap();
  EXPECT_EQ(Index(M(c)->first), 2);
  EXPECT_EQ(Index(M(c)->last), 0);
  std::vector<int> order;
  for (const PwlMapArea* a = M(c)->first; a; a = a->nextInOrder) order.push_back(Index(a));
  EXPECT_EQ(order, (std::vector<int>{2, 1, 3, 0}));
  M(c)->selected = M(c)->first;
  ASSERT_EQ(Move(c, PwlKey::Next), kOk);
  EXPECT_EQ(Index(M(c)->selected), 1);
  ASSERT_EQ(Move(c, PwlKey::Previous), kOk);
  EXPECT_EQ(Index(M(c)->selected), 2);
  EXPECT_EQ(PwlNavDirection, 0u);
  ASSERT_EQ(Move(c, PwlKey::Down), kOk);
  EXPECT_EQ(Index(M(c)->selected), 3) << "below and not left of the selection";
  ASSERT_EQ(Move(c, PwlKey::Up), kOk);
  EXPECT_EQ(Index(M(c)->selected), 2);
  // Nothing comes before the first area, above the top row or after the last.
  for (uint32_t key : {PwlKey::Previous, PwlKey::Up}) {
    M(c)->exhausted = 0;
    M(c)->selected = M(c)->first;
    EXPECT_EQ(Move(c, key), PwlErr::NullRect) << key;
    EXPECT_EQ(M(c)->exhausted, 1u);
  }
  M(c)->exhausted = 0;
  M(c)->selected = M(c)->last;
  EXPECT_EQ(Move(c, PwlKey::Next), PwlErr::NullRect);
}

TEST_F(ImageMapTest, DownOnTheLastRowFailsAndTheFocusLeavesTheMap) {
  Area(BenMapShape::Rect, {{0, 0}, {0, 0}, {10, 0}, {10, 0}});
  Area(BenMapShape::Rect, {{0, 0}, {40, 0}, {10, 0}, {50, 0}});
  PwlControl* map = MakeMap();
  PwlControl* below = Make(PwlType::CheckBox, 8, {20, 150, 60, 170});
  PwlNavDirection = 1;
  PwlSetFocus(context, map, 1, 1);
  Pump();
  EXPECT_EQ(Index(M(map)->selected), 0) << "entered forward: the first area";
  Key(PwlKey::Down);
  EXPECT_EQ(Index(M(map)->selected), 1);
  EXPECT_EQ(root->focused, map);
  EXPECT_EQ(Move(map, PwlKey::Down), PwlErr::NullRect);
  EXPECT_EQ(M(map)->exhausted, 1u);
  Key(PwlKey::Down);
  EXPECT_EQ(root->focused, below);
  // Back up into the map: its last area.
  Key(PwlKey::Up);
  EXPECT_EQ(root->focused, map);
  EXPECT_EQ(Index(M(map)->selected), 1);
}

TEST_F(ImageMapTest, AMapEnteredBeforeAnyKeyStartsAtItsFirstArea) {
  // A toolkit brought up afresh, as at the start of the browser phase.
  PwlNavDirection = 0;
  PwlShutdown();
  ASSERT_EQ(PwlInit(), kOk);
  context = PwlGetContext();
  root = context->root;
  Area(BenMapShape::Rect, {{0, 0}, {0, 0}, {10, 0}, {10, 0}});
  Area(BenMapShape::Rect, {{0, 0}, {40, 0}, {10, 0}, {50, 0}});
  PwlControl* map = MakeMap();
  PwlControl* other = Make(PwlType::CheckBox, 8, {20, 150, 60, 170});
  // Focus given and taken by the page, not by a key: the map starts over.
  PwlSetFocus(context, map, 1, 1);
  PwlSetFocus(context, other, 1, 1);
  PwlSetFocus(context, map, 1, 1);
  Pump();
  EXPECT_EQ(Index(M(map)->selected), 0);
}

// The key routing hands keys to a map only while its image is loaded and an
// area is selected.
TEST_F(ImageMapTest, AMapIsActiveWithALoadedImageAndASelectedArea) {
  Area(BenMapShape::Rect, {{0, 0}, {0, 0}, {10, 0}, {10, 0}});
  PwlControl* map = MakeMap();
  ASSERT_NE(M(map)->areas, nullptr);
  struct Case {
    bool loaded, selected, active;
  };
  for (const Case k : {Case{true, true, true}, Case{true, false, false},
                       Case{false, true, false}, Case{false, false, false}}) {
    image.flags = k.loaded ? DDriverFlag::Loaded : 0;
    M(map)->selected = k.selected ? M(map)->areas : nullptr;
    EXPECT_EQ(PwlImageMapIsActive(map), k.active) << k.loaded << k.selected;
  }
  M(map)->selected = M(map)->areas;
  image.flags = DDriverFlag::Loaded;
  map->flags &= ~PwlCtl::Enabled;
  EXPECT_TRUE(PwlImageMapIsActive(map)) << "enabled or not";
}

TEST_F(ImageMapTest, AreasOutsideTheViewAreLeftOutOfTheChain) {
  image.top = 200;
  Area(BenMapShape::Rect, {{0, 0}, {0, 0}, {10, 0}, {10, 0}});
  Area(BenMapShape::Rect, {{0, 0}, {60, 0}, {10, 0}, {70, 0}});  // at 260: below the view
  PwlControl* c = MakeMap();
  EXPECT_EQ(M(c)->areas->next->box[3], -1);
  EXPECT_EQ(Index(M(c)->first), 0);
  EXPECT_EQ(M(c)->first, M(c)->last);
  M(c)->selected = M(c)->first;
  EXPECT_EQ(Move(c, PwlKey::Next), PwlErr::NullRect);
}

// ---- outline, select and soft keys ------------------------------------------------------------

TEST_F(ImageMapTest, TheSelectedAreaIsOutlinedInRedAndTheScreenComesBack) {
  Area(BenMapShape::Rect, {{10, 0}, {10, 0}, {30, 0}, {20, 0}});
  Area(BenMapShape::Polygon, {{50, 0}, {10, 0}, {70, 0}, {30, 0}, {50, 0}, {30, 0}});
  PwlControl* c = MakeMap();
  const std::vector<uint16_t> before = Screen();
  PwlSetFocus(context, c, 1, 1);
  Pump();
  ASSERT_EQ(Index(M(c)->selected), 0);
  EXPECT_EQ(Px(20 + 10, 40 + 15), kRed);
  EXPECT_EQ(Px(20 + 30, 40 + 20), kRed);
  EXPECT_NE(Px(20 + 20, 40 + 15), kRed);
  // A three-point polygon is outlined too.
  ASSERT_EQ(Move(c, PwlKey::Next), kOk);
  EXPECT_NE(Px(20 + 10, 40 + 15), kRed) << "the old outline is gone";
  EXPECT_EQ(Px(20 + 50, 40 + 20), kRed);
  EXPECT_EQ(Px(20 + 60, 40 + 30), kRed);
  const GoldenImage image = GoldenFromRgb565(platform->screen.data(), 160, 240, 160);
  EXPECT_TRUE(GoldenMatches(std::string(QOR_GOLDEN_DIR) + "/imagemap_outline.png", image));
  // Focus out takes the outline and the inverted frame away again.
  PwlSetFocus(context, nullptr, 1, 1);
  Pump();
  EXPECT_EQ(Screen(), before);
}

// Every shape is outlined inside its own box only, and the screen comes
// back whole when the focus leaves, the focus frame included where an area
// reaches over it; an area reaching past the window is cut to it.
TEST_F(ImageMapTest, EachShapeIsOutlinedInsideItsBox) {
  struct Row {
    const char* name;
    uint32_t shape;
    std::vector<BenMapCoord> coords;
    PglRect box;  // in the image
  };
  const Row rows[] = {
      {"circle", BenMapShape::Circle, {{50, 0}, {40, 0}, {10, 0}}, {40, 30, 60, 50}},
      {"four_point_polygon",
       BenMapShape::Polygon,
       {{10, 0}, {10, 0}, {40, 0}, {10, 0}, {40, 0}, {30, 0}, {10, 0}, {30, 0}},
       {10, 10, 40, 30}},
      {"two_point_polygon", BenMapShape::Polygon, {{10, 0}, {20, 0}, {60, 0}, {20, 0}}, {10, 20, 60, 20}},
      {"past_the_window", BenMapShape::Rect, {{90, 0}, {60, 0}, {400, 0}, {70, 0}}, {90, 60, 139, 70}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    areas.clear();
    coords.clear();
    Area(row.shape, row.coords);
    PwlControl* c = MakeMap();
    const std::vector<uint16_t> before = Screen();
    PwlSetFocus(context, c, 1, 1);
    Pump();
    ASSERT_EQ(Index(M(c)->selected), 0);
    int inside = 0, outside = 0;
    for (int32_t y = 0; y < 240; ++y)
      for (int32_t x = 0; x < 160; ++x) {
        if (Px(x, y) != kRed || before[static_cast<size_t>(y) * 160 + static_cast<size_t>(x)] == kRed)
          continue;
        const bool in = x >= 20 + row.box.left && x <= 20 + row.box.right && y >= 40 + row.box.top &&
                        y <= 40 + row.box.bottom;
        ++(in ? inside : outside);
      }
    EXPECT_GT(inside, 0);
    EXPECT_EQ(outside, 0);
    PwlSetFocus(context, nullptr, 1, 1);
    Pump();
    EXPECT_EQ(Screen(), before);
    PwlDestroy(c);
  }
}

TEST_F(ImageMapTest, APointerIsReportedWithItsPointAndOtherEventsAreRefused) {
  Area(BenMapShape::Rect, {{0, 0}, {0, 0}, {10, 0}, {10, 0}});
  PwlControl* c = MakeMap();
  const PglPoint at{33, 44};
  owner->log.clear();
  ASSERT_EQ(PwlSend(c, nullptr, const_cast<PglPoint*>(&at), 0, PwlMsg::Event, PwlEvt::Pointer), kOk);
  ASSERT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::Event, PwlEvt::Pointer), kOk);
  Pump();
  EXPECT_EQ(OwnerEvents(PwlEvent::Point),
            (std::vector<Received>{{PwlEvent::Point, reinterpret_cast<uintptr_t>(c), 33u | 44u << 16},
                                   {PwlEvent::Point, reinterpret_cast<uintptr_t>(c), 0}}));
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::Event, PwlEvt::Leave), kOk);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::Event, 0x4000), PwlMapErr::BadEvent);
  // A disabled map takes nothing.
  c->flags &= ~PwlCtl::Enabled;
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::Event, 0x4000), kOk);
}

TEST_F(ImageMapTest, SelectPostsTheTargetToTheUiTask) {
  Area(BenMapShape::Circle, {{50, 0}, {40, 0}, {10, 0}}, u"page2");
  PwlControl* c = MakeMap();
  PwlSetFocus(context, c, 1, 1);
  Pump();
  auto labels = UiEvents(PwlEvent::Label);
  ASSERT_FALSE(labels.empty()) << "a map with areas offers its select label";
  Key(PwlKey::Select);
  auto posted = UiEvents(PwlEvent::MapArea);
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(posted[0].arg1)), u"page2");
  EXPECT_EQ(posted[0].arg2, 0u);
}

TEST_F(ImageMapTest, ATapSelectsTheGivenArea) {
  Area(BenMapShape::Rect, {{0, 0}, {0, 0}, {10, 0}, {10, 0}});
  Area(BenMapShape::Rect, {{50, 0}, {50, 0}, {60, 0}, {60, 0}});
  PwlControl* c = MakeMap();
  PwlMapArea* a = PwlImageMapSelect(c, &areas[1]);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(M(c)->selected, a);
  EXPECT_EQ(Px(20 + 50, 40 + 55), kRed);
  EXPECT_EQ(PwlImageMapSelect(c, &map), nullptr);
}

int gCalls = 0;
uintptr_t gArgument = 0;
void Callback(PwlControl*, uintptr_t argument) {
  ++gCalls;
  gArgument = argument;
}

TEST_F(ImageMapTest, SoftKeyActionsAreOfferedAndCalledWithTheirArgument) {
  PwlControl* c = Make(PwlType::ImageMap, 1, {0, 0, 159, 239});
  gCalls = 0;
  PwlSoftAction first{Callback, 41, PwlDupUiString(12)};
  PwlSoftAction second{Callback, 42, PwlDupUiString(13)};
  ASSERT_EQ(PwlSend(c, nullptr, &first, 0, PwlMapMsg::SoftAction1, 0), kOk);
  ASSERT_EQ(PwlSend(c, nullptr, &second, 0, PwlMapMsg::SoftAction2, 0), kOk);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMapMsg::SoftAction1, 0), PwlMapErr::NullData);
  PwlFocusControl(c, 1);
  Pump();
  auto offered = OwnerEvents(PwlEvent::Labels);
  ASSERT_EQ(offered.size(), 1u);
  EXPECT_EQ(offered[0].arg1, reinterpret_cast<uintptr_t>(M(c)->actions[0].label));
  Key(PwlKey::Soft2);
  EXPECT_EQ(gCalls, 1);
  EXPECT_EQ(gArgument, 42u);
  Key(PwlKey::Soft1);
  EXPECT_EQ(gArgument, 41u);
}

TEST_F(ImageMapTest, DestroyResetsTheSharedWords) {
  PwlControl* c = MakeMap();
  PwlNavDirection = 0;
  BenScrollMark = 1;
  PwlDestroy(c);
  EXPECT_EQ(PwlNavDirection, 1u);
  EXPECT_EQ(BenScrollMark, 0u);
}

}  // namespace
