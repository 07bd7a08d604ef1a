// The built-in file tree holds every file it is known by, and each opens
// through the file store as what its name says: certificates as DER, pages
// as well-nested markup, handset images through their decoder, pictograms
// through the pictogram loader and equal to their PNG sources.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "graphics/pict.h"
#include "graphics/sis.h"
#include "kernel/qorrom.h"
#include "tests/support/engine_fixture.h"
#include "tools/pngread.h"

namespace fs = std::filesystem;

namespace {

struct NamedDir {
  const char* path;
  std::vector<const char*> names;
};

// The content service's picture icons ("/images/lumora") and the main
// menu's icons ("/pict/ui/main") have no names of their own and are not here.
const std::vector<NamedDir> kNamed = {
    {"/certs",
     {"108.cer", "109.cer", "110.cer", "112.cer", "113.cer", "115.cer", "116.cer", "117.cer",
      "118.cer", "120.cer", "121.cer", "150.cer"}},
    {"/eng/config",
     {"advance.html", "cookies.html", "imgpref.html", "modhttp.html", "modwebmail.html",
      "notify.html", "resumecfg.html", "wap.html", "zoomctrl.html"}},
    {"/eng/error", {"errhelp.html", "generr.html"}},
    {"/eng/faves",
     {"addnew.html", "addto.html", "delete_yn.html", "delete_yn_online.html", "edit.html",
      "edit_online.html", "select.html", "select_offline.html"}},
    {"/eng/general",
     {"appstarting.html",    "browser_key.html",   "browser_manual.html", "chooseloc.html",
      "chooselocs.html",     "control.html",       "ctrl_menu.html",      "downok2.html",
      "downok_flash.html",   "downpimsok.html",    "fileman.html",        "flashstarting.html",
      "getstart.html",       "gohome.html",        "history.html",        "home.html",
      "info.html",           "makeisp.html",       "openpage.html",       "postpim.html",
      "property.html",       "refresh.html",       "saveloc_def.html",    "saveloc_flash.html",
      "saveloc_img.html",    "saveloc_melody.html", "splash.html",        "usatstarting.html",
      "vodshowing.html"}},
    {"/eng/initurl", {"idelete_yn.html", "uaddnew.html", "uedit.html", "uselect.html"}},
    {"/eng/nconfig",
     {"connection.html", "connection2.html", "modhttp.html", "modisp.html", "modwap.html",
      "naps.html", "newnap.html", "newslot.html", "slots.html", "viewisp.html"}},
    {"/eng/rcell",
     {"rcdns.html", "rcgomenu.html", "rcmakemisp.html", "rcmenu.html", "rcmodhttp.html",
      "rcnonrcsess.html", "rcnotrcellarea.html", "rcnourlerr.html", "rcoption.html",
      "rcuedit.html"}},
    {"/eng/vcalca", {"vcalendar.html", "vcard.html"}},
    {"/images",
     {"0.sis", "1.sis", "2.sis", "3.sis", "4.sis", "5.sis", "6.sis", "7.sis", "8.sis", "9.sis",
      "arrow_gray.sis", "back.sis", "home.sis", "qorlogo.sis", "opt_help_0.sis"}},
    {"/pict/core/action",
     {"Back", "Top", "find", "password"}},
    {"/pict/core/arrow",
     {"lowerleft", "lowerright", "upperleft", "upperright"}},
    {"/pict/core/button",
     {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}},
    {"/pict/core/info",
     {"feecharged", "freeofcharge", "new", "position", "sharpdial", "tollfree"}},
    {"/pict/core/media",
     {"book", "cd", "game", "tv"}},
    {"/pict/core/message",
     {"fax", "send"}},
    {"/pict/library/animal",
     {"cat", "dog"}},
    {"/pict/library/astronomy",
     {"crescentmoon", "fullmoon", "halfmoon", "moon", "waningmoon"}},
    {"/pict/library/astronomy/horoscope",
     {"aquarius", "aries", "cancer", "capricorn", "gemini", "leo", "libra", "pisces",
      "sagittarius", "scorpio", "taurus", "virgo"}},
    {"/pict/library/emotion",
     {"angry", "angryface", "blackheart", "brokenheart", "coldsweat", "comfort", "discourage",
      "dizzy", "exclamation", "flash", "happy", "happyface", "hearts", "kiss", "mood", "punch",
      "really", "sadface", "shakenheart", "shine", "sleepy", "sweat", "what"}},
    {"/pict/library/entertainment",
     {"art", "clover", "diamond", "drama", "event", "heart", "music", "spade"}},
    {"/pict/library/human/body",
     {"ear", "eye", "foot", "paper", "rock", "scissors", "shoe", "glasses", "wheelchair"}},
    {"/pict/library/living/appliance",
     {"camera", "mobilephone", "pager", "phone"}},
    {"/pict/library/living/dress",
     {"bag", "ribbon"}},
    {"/pict/library/map",
     {"amusementpark", "atm", "bank", "beer", "boutique", "building", "cocktail", "coffecup",
      "conveniencestore", "fastfood", "hairdresser", "hospital", "hotel", "house", "karaoke",
      "movie", "nosmoking", "park", "parking", "postoffice", "restaurant", "restroom", "school",
      "signal", "smoking", "ticket"}},
    {"/pict/library/misc",
     {"accept", "bad", "bump", "bydocomo", "clear", "continuing", "cute", "dash", "docomopt",
      "giftbox", "good", "id", "imode", "imode_with_frame", "macron1", "macron2", "memo", "mopaq",
      "phoneto"}},
    {"/pict/library/sport",
     {"baseball", "basketball", "flag", "motorsport", "ski", "soccer", "sport", "tennis"}},
    {"/pict/library/time/event",
     {"birthday", "xmas"}},
    {"/pict/library/vehicle",
     {"bus", "car", "expresstrain", "plane", "rv", "ship", "subway", "train"}},
    {"/pict/library/weapon",
     {"bomb"}},
    {"/pict/library/weather",
     {"cloudy", "drizzle", "foggy", "rainy", "snow", "sunny", "thunder", "typhoon"}},
    {"/pict/ui/pim",
     {"mail"}},
    {"/pict/ui", {"splash", "splash_ending"}},
    {"/pict/ui/qorui", {"authenticated", "circuitcall", "nocall", "packetcall", "spin_e"}},
    {"/pict/ui/qorui/authentication", {"EndtoEnd", "Gateway", "Wap"}},
    {"/pict/ui/qorui/download",
     {"corner_leftbottom", "corner_lefttop", "corner_rightbottom", "corner_righttop",
      "line_bottom", "line_left", "line_right", "line_top", "processing_bar_1",
      "processing_bar_2", "processing_bar_3", "processing_bar_4", "processing_bar_5",
      "processing_bar_6", "processing_bar_7", "progress_border", "progress_border_small",
      "progress_end", "progress_line", "progress_start"}},
    {"/pict/ui/qorui/ext",
     {"down", "endtoend", "gateway", "none", "processingbar_free", "processingbar_pay", "up",
      "updown", "wap"}},
    {"/pict/ui/qorui/pwl",
     {"chkclr", "chkclrfo", "chksel", "chkselfo", "editbx", "editbxfo", "menu", "menufo",
      "new_menu", "new_menufo", "new_menufo_garo", "new_menu_garo", "radclr", "radclrfo",
      "radsel", "radselfo", "scrolldn", "scrollup", "textdn", "textdnfo", "textup", "textupfo"}},
    {"/pict/ui/qorui/scroll", {"down", "up", "updown"}},
};

const std::string kPictSources = QOR_GOLDEN_DIR "/../../../assets/pict/";

uint8_t gWork[kSisWorkBytes];
uint8_t gModel[kSisModelBufferBytes];

bool EndsWith(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// Elements open and close in order and every "[$" marker is closed by "$]"
// before the next begins; loops ("[$for:" ... "[$/for$]") pair up.
void ExpectWellNested(const std::string& page) {
  std::vector<std::string> open;
  for (size_t at = page.find('<'); at != std::string::npos; at = page.find('<', at + 1)) {
    const size_t end = page.find('>', at);
    ASSERT_NE(end, std::string::npos) << "unclosed tag at " << at;
    const std::string tag = page.substr(at + 1, end - at - 1);
    if (tag.empty() || tag[0] == '?' || tag[0] == '!' || tag.back() == '/') continue;
    const std::string name = tag.substr(tag[0] == '/', tag.find_first_of(" \n") - (tag[0] == '/'));
    if (tag[0] != '/') {
      open.push_back(name);
      continue;
    }
    ASSERT_FALSE(open.empty()) << "</" << name << "> closes nothing";
    ASSERT_EQ(open.back(), name);
    open.pop_back();
  }
  EXPECT_TRUE(open.empty()) << open.size() << " elements left open";
  int loops = 0;
  for (size_t at = page.find("[$"); at != std::string::npos; at = page.find("[$", at + 2)) {
    const size_t end = page.find("$]", at);
    ASSERT_NE(end, std::string::npos) << "unclosed marker at " << at;
    ASSERT_GT(end, at + 2) << "empty marker at " << at;
    ASSERT_EQ(page.find("[$", at + 2), page.find("[$", end)) << "marker inside a marker at " << at;
    const std::string marker = page.substr(at + 2, end - at - 2);
    if (marker.rfind("for:", 0) == 0) ++loops;
    if (marker == "/for") {
      ASSERT_GT(loops, 0) << "a loop closed before it opened";
      --loops;
    }
  }
  EXPECT_EQ(loops, 0) << "a loop left open";
}

// The pictogram's pixels are its source's, as the converter maps them:
// RGB565, with pixels less than half opaque as the key colour.
void ExpectFromSource(const std::string& rel, const PglSurface& s) {
  std::string source = kPictSources + rel + ".png";
  // An animation's first frame is drawn among the animations' frames.
  if (!fs::exists(source)) source = kPictSources + "anim/" + rel + "/0.png";
  if (!fs::exists(source)) source = kPictSources + fs::path(rel).filename().string() + ".png";
  PngRgba png;
  std::string error;
  ASSERT_TRUE(PngReadRgba(source, &png, &error)) << error;
  ASSERT_EQ(png.width, s.width);
  ASSERT_EQ(png.height, s.height);
  bool keyed = false;
  for (uint32_t y = 0; y < s.height; ++y)
    for (uint32_t x = 0; x < s.width; ++x) {
      const uint8_t* p = &png.pixels[(static_cast<size_t>(y) * s.width + x) * 4];
      uint16_t want = 0xF81F;
      if (p[3] >= 128) {
        want = static_cast<uint16_t>((p[0] >> 3) << 11 | (p[1] >> 2) << 5 | p[2] >> 3);
        if (want == 0xF81F) --want;
      } else {
        keyed = true;
      }
      uint16_t got;
      std::memcpy(&got, s.pixels + (static_cast<size_t>(y) * s.pitch + x) * 2, 2);
      ASSERT_EQ(got, want) << "pixel " << x << "," << y;
    }
  EXPECT_EQ((s.flags & PglFlag::Keyed) != 0, keyed);
  if (keyed) {
    EXPECT_EQ(s.key, 0xF81F);
  }
}

// Runs in an empty working folder, so that no romfiles folder stands in.
class RomTreeTest : public HeapFixture {
 protected:
  void SetUp() override {
    HeapFixture::SetUp();
    char pattern[] = "/tmp/rom_tree_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    old_ = fs::current_path();
    fs::current_path(dir_);
    SisDecoderInit(gWork, sizeof gWork, gModel, sizeof gModel, 256, 256);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  fs::path dir_, old_;
};

TEST_F(RomTreeTest, EveryNamedFileOpensAsItsKind) {
  size_t files = 0;
  for (const NamedDir& dir : kNamed)
    for (const char* name : dir.names) {
      const std::string path = std::string(dir.path) + "/" + name;
      SCOPED_TRACE(path);
      ++files;
      uint32_t size = 0;
      const uint8_t* file = QorRomOpen(path.c_str(), &size);
      ASSERT_NE(file, nullptr);
      const std::vector<uint8_t> bytes(file, file + size);
      QorRomRelease(file);
      ASSERT_GT(size, 0u);

      if (EndsWith(path, ".cer")) {
        // DER: one SEQUENCE with a two-byte length covering the file.
        ASSERT_GE(size, 4u);
        EXPECT_EQ(bytes[0], 0x30);
        EXPECT_EQ(bytes[1], 0x82);
        EXPECT_EQ(4u + (bytes[2] << 8 | bytes[3]), size);
      } else if (EndsWith(path, ".html")) {
        const std::string page(bytes.begin(), bytes.end());
        EXPECT_EQ(page.rfind("<?xml", 0), 0u);
        EXPECT_NE(page.find("<title>"), std::string::npos);
        EXPECT_TRUE(EndsWith(page, "</html>\n"));
        ExpectWellNested(page);
        // Links to built-in pages lead to pages of the tree.
        static constexpr char kShow[] = "info://SHOW/";
        for (size_t at = page.find(kShow); at != std::string::npos; at = page.find(kShow, at + 1)) {
          const size_t start = at + sizeof kShow - 1;
          const std::string target = page.substr(start, page.find_first_of("\"?", start) - start);
          uint32_t targetSize = 0;
          const uint8_t* linked = QorRomOpen(target.c_str(), &targetSize);
          EXPECT_NE(linked, nullptr) << "a link to " << target;
          QorRomRelease(linked);
        }
      } else if (EndsWith(path, ".sis")) {
        SisImageInfo info{};
        ASSERT_EQ(SisProbeHeader(bytes.data(), size, &info), 1);
        EXPECT_GT(info.width, 0u);
        EXPECT_GT(info.height, 0u);
        std::vector<uint8_t> out(SisOutputSize(1));
        EXPECT_EQ(SisDecodeFrame(bytes.data(), size, out.data(), static_cast<uint32_t>(out.size()),
                                 0, 0),
                  1);
      } else {
        ASSERT_EQ(path.rfind("/pict/", 0), 0u);
        const std::string rel = path.substr(6);
        PglSurface surface{};
        const uint8_t* pict = nullptr;
        ASSERT_EQ(PictLoadImage(rel.c_str(), 0, &surface, &pict), kOk);
        EXPECT_EQ(surface.flags & PglFlag::Format, static_cast<uint32_t>(kPglRgb565));
        ExpectFromSource(rel, surface);
        QorRomRelease(pict);
      }
    }
  EXPECT_EQ(files, 333u);
}

TEST_F(RomTreeTest, TheTreeHoldsOnlyNamedFiles) {
  std::set<std::string> named;
  for (const NamedDir& dir : kNamed)
    for (const char* name : dir.names) named.insert(std::string(dir.path) + "/" + name);
  for (uint32_t d = 0; d < kQorRomDirCount; ++d) {
    const uint32_t end = d + 1 < kQorRomDirCount ? kQorRomDirs[d + 1].first : kQorRomFileCount;
    for (uint32_t f = kQorRomDirs[d].first; f < end; ++f) {
      const std::string path = std::string(kQorRomDirs[d].path) + "/" + kQorRomFiles[f].name;
      EXPECT_EQ(named.erase(path), 1u) << path << " is in the tree but not named";
    }
  }
  for (const std::string& path : named) ADD_FAILURE() << path << " is missing from the tree";
}

TEST(PngRead, ANonPngFileIsRefusedWithItsPath) {
  const std::string path = kPictSources + "draw.py";
  PngRgba png;
  std::string error;
  EXPECT_FALSE(PngReadRgba(path, &png, &error));
  EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
  EXPECT_FALSE(PngReadRgba(kPictSources + "no such file.png", &png, &error));
}

}  // namespace
