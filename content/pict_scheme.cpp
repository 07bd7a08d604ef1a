#include "content/pict_scheme.h"

#include <span>

#include "content/content_rows.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/qorrom.h"

namespace {

constexpr const char* kClasses[] = {
    "ui/pim",           "core/arrow",     "core/media",
    "core/message",     "core/info",      "core/action",
    "core/button",      "library/weather", "library/astronomy/horoscope",
    "library/sport",    "library/living/appliance", "library/vehicle",
    "library/map",      "library/living/food", "library/entertainment",
    "library/living/dress", "library/misc", "library/human/body",
    "library/astronomy", "library/animal", "library/time/event",
    "library/emotion",  "library/weapon",
};

struct CodeRow {
  uint8_t cls;
  const char* name;
};

// Indexed as PictCodePath maps the codes.
constexpr CodeRow kCodes[] = {
    {7, "sunny"}, {7, "cloudy"}, {7, "rainy"}, {7, "snow"}, {7, "thunder"}, {7, "typhoon"},
    {7, "foggy"}, {7, "drizzle"},
    {8, "aries"}, {8, "taurus"}, {8, "gemini"}, {8, "cancer"}, {8, "leo"}, {8, "virgo"},
    {8, "libra"}, {8, "scorpio"}, {8, "sagittarius"}, {8, "capricorn"}, {8, "aquarius"},
    {8, "pisces"},
    {9, "sport"}, {9, "baseball"}, {9, "flag"}, {9, "tennis"}, {9, "soccer"}, {9, "ski"},
    {9, "basketball"}, {9, "motorsport"},
    {10, "pager"},
    {11, "train"}, {11, "subway"}, {11, "expresstrain"}, {11, "car"}, {11, "rv"}, {11, "bus"},
    {11, "ship"}, {11, "plane"},
    {12, "house"}, {12, "building"}, {12, "postoffice"}, {12, "hospital"}, {12, "bank"},
    {12, "atm"}, {12, "school"}, {12, "conveniencestore"}, {12, "park"}, {12, "parking"},
    {12, "signal"}, {12, "restroom"}, {12, "restaurant"}, {12, "coffecup"}, {12, "cocktail"},
    {12, "beer"}, {12, "fastfood"}, {12, "boutique"}, {12, "hairdresser"}, {12, "karaoke"},
    {12, "movie"},
    {1, "upperright"},
    {12, "amusementpark"},
    {14, "music"}, {14, "art"}, {14, "drama"}, {14, "event"},
    {12, "ticket"}, {12, "smoking"}, {12, "nosmoking"},
    {10, "camera"},
    {15, "bag"},
    {2, "book"},
    {15, "ribbon"},
    {16, "giftbox"},
    {20, "birthday"},
    {10, "phone"}, {10, "mobilephone"},
    {16, "memo"},
    {2, "tv"}, {2, "game"}, {2, "cd"},
    {14, "heart"}, {14, "spade"}, {14, "diamond"}, {14, "clover"},
    {17, "eye"}, {17, "ear"}, {17, "rock"}, {17, "scissors"}, {17, "paper"},
    {1, "lowerright"}, {1, "upperleft"},
    {17, "foot"}, {17, "shoe"}, {17, "spectacles"}, {17, "wheelchair"},
    {18, "moon"}, {18, "waningmoon"}, {18, "halfmoon"}, {18, "crescentmoon"}, {18, "fullmoon"},
    {19, "dog"}, {19, "cat"},
    {12, "hotel"},
    {20, "xmas"},
    {1, "lowerleft"},
    {16, "phoneto"},
    {3, "send"}, {3, "fax"},
    {16, "imode"}, {16, "imode_with_frame"},
    {0, "mail"},
    {16, "bydocomo"}, {16, "docomopt"},
    {4, "feecharged"}, {4, "freeofcharge"},
    {16, "id"},
    {5, "password"},
    {16, "continuing"}, {16, "clear"},
    {5, "find"},
    {4, "new"}, {4, "position"}, {4, "tollfree"}, {4, "sharpdial"},
    {16, "mopaq"},
    {6, "1"}, {6, "2"}, {6, "3"}, {6, "4"}, {6, "5"}, {6, "6"}, {6, "7"}, {6, "8"}, {6, "9"},
    {6, "0"},
    {16, "accept"},
    {21, "blackheart"}, {21, "shakenheart"}, {21, "brokenheart"}, {21, "hearts"},
    {21, "happyface"}, {21, "angryface"}, {21, "discourage"}, {21, "sadface"}, {21, "dizzy"},
    {16, "good"},
    {21, "happy"}, {21, "comfort"},
    {16, "cute"},
    {21, "kiss"}, {21, "shine"}, {21, "flash"}, {21, "angry"}, {21, "punch"},
    {22, "bomb"},
    {21, "mood"},
    {16, "bad"},
    {21, "sleepy"}, {21, "exclamation"}, {21, "really"}, {21, "what"},
    {16, "bump"},
    {21, "sweat"}, {21, "coldsweat"},
    {16, "dash"}, {16, "macron1"}, {16, "macron2"},
};
static_assert(sizeof kCodes / sizeof kCodes[0] == 166);

constexpr char kFolder[] = "/pict/";

// The row of an i-mode code, or -1 outside the four ranges.
int32_t RowOf(uint32_t code) {
  const bool inRange = (code >= 0xF89F && code <= 0xF8FC) || (code >= 0xF940 && code <= 0xF949) ||
                       (code >= 0xF972 && code <= 0xF97E) || (code >= 0xF980 && code <= 0xF9B0);
  if (!inRange) return -1;
  if (code < 0xF8FD) return static_cast<int32_t>(code - 0xF89F);
  if (code < 0xF94A) return static_cast<int32_t>(code - 0xF8E2);
  if (code < 0xF97F) return static_cast<int32_t>(code - 0xF90A);
  if (code < 0xF991) return static_cast<int32_t>(code - 0xF90B);
  if (code == 0xF9B0) return 134;
  return static_cast<int32_t>(code - 0xF90A);
}

// A path that could leave the pictogram folder or hide part of itself.
bool Unsafe(const char* path) {
  for (const char* p = path; *p; ++p) {
    if (*p == '\\') return true;
    if (p[0] == '.' && p[1] == '.') return true;
  }
  return false;
}

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// A surface record over frame `index` of the file; its pixels stay there.
Result SurfaceOf(std::span<const uint8_t> file, uint32_t index, PglSurface** out) {
  auto* surface =
      static_cast<PglSurface*>(MemAllocZero(sizeof(PglSurface), Use::Data, kModPict));
  if (!surface) return PictCode::NoMemory;
  if (Result r = PictParseImage(file, index, surface); r != kOk) {
    MemFree(&surface);
    return r;
  }
  *out = surface;
  return kOk;
}

// The still-image body: the file's one surface.
Result StillBody(std::span<const uint8_t> file, ContentImage** out) {
  PglSurface* surface = nullptr;
  if (Result r = SurfaceOf(file, 0, &surface); r != kOk) return r;
  auto* image = static_cast<ContentImage*>(MemAllocZero(sizeof(ContentImage), Use::Data, kModPict));
  if (!image) {
    MemFree(&surface);
    return PictCode::NoMemory;
  }
  image->kind = ContentKind::Stored;
  image->width = static_cast<uint16_t>(surface->width);
  image->height = static_cast<uint16_t>(surface->height);
  image->bandCount = 1;
  image->stored = surface;
  *out = image;
  return kOk;
}

// The animation body: the header record's sizes and counts, one frame per
// stored surface with its own record's place and delay. Every offset is
// checked against the file's length.
Result AnimationBody(std::span<const uint8_t> file, ContentImage** out) {
  const uint8_t* h = file.data();
  const uint32_t frames = U16(h + 16);
  if (frames == 0) return PictCode::NotFound;
  ContentImage* image = ContentAnimationNew(U16(h + 12), U16(h + 14), kModPict);
  if (!image) return PictCode::NoMemory;
  image->loopCount = U16(h + 18);
  image->transparent = h[32];
  image->allFrames = 1;
  ContentImageFrame** tail = &image->firstFrame;
  Result r = kOk;
  for (uint32_t i = 0; i < frames && r == kOk; ++i) {
    PglSurface* surface = nullptr;
    r = SurfaceOf(file, i, &surface);
    if (r != kOk) break;
    // The frame's record sits just before its surface header.
    const uint64_t at = static_cast<uint64_t>(surface->pixels - h) - kPictStoredHeader -
                        kPictFrameRecord;
    ContentImageFrame* frame = ContentFrameNew(1, kModPict);
    if (!frame) {
      MemFree(&surface);
      r = PictCode::NoMemory;
      break;
    }
    const uint8_t* rec = h + at;
    frame->width = static_cast<uint16_t>(surface->width);
    frame->height = static_cast<uint16_t>(surface->height);
    frame->left = U16(rec + 4);
    frame->top = U16(rec + 6);
    frame->delay = U32(rec + 8);
    frame->complete = 1;
    frame->bands[0] = surface;
    frame->bandCount = 1;
    *tail = frame;
    tail = &frame->next;
    ++image->frameCount;
  }
  if (r != kOk) {
    ContentImageFree(image);
    return r == PictErr::Malformed ? PictCode::NoMemory : r;
  }
  *out = image;
  return kOk;
}

// A new "/pict/" + path, or null without memory.
char* FullPath(const char* path) {
  const uint32_t n = LibcStrLen(path);
  auto* full = static_cast<char*>(MemAlloc(n + sizeof kFolder, Use::String, kModPict));
  if (full) LibcStrCat(LibcStrCopy(full, kFolder), path);
  return full;
}

}  // namespace

const char* PictCodePath(const char* code) {
  static char path[64];
  if (!code || !*code) return nullptr;
  for (const char* p = code; *p; ++p)
    if (*p < '0' || *p > '9') return nullptr;
  if (LibcStrLen(code) > 6) return nullptr;
  const int32_t row = RowOf(static_cast<uint32_t>(LibcAtoI(code)));
  if (row < 0) return nullptr;
  LibcStrCat(LibcStrCat(LibcStrCopy(path, kClasses[kCodes[row].cls]), "/"), kCodes[row].name);
  return path;
}

Result PictCreateImage(const char* text, ContentImage** out, uint32_t mode) {
  *out = nullptr;
  if (!text) return PictCode::NotFound;
  const char* path = text;
  if (mode == PictMode::Code) {
    path = PictCodePath(text);
    if (!path) return PictCode::NotFound;
  } else if (Unsafe(path)) {
    return PictCode::NotFound;
  }
  char* full = FullPath(path);
  if (!full) return PictCode::NoMemory;
  uint32_t size = 0;
  const uint8_t* bytes = QorRomOpen(full, &size);
  MemFree(&full);
  if (!bytes) return PictCode::NotFound;
  const std::span<const uint8_t> file(bytes, size);
  Result r;
  if (size > 0 && bytes[0] == 0) {
    r = StillBody(file, out);
  } else if (size >= kPictAnimHeader && bytes[0] == 1) {
    r = AnimationBody(file, out);
  } else {
    r = PictCode::NoMemory;  // not a pictogram
  }
  if (r != kOk) {
    QorRomRelease(bytes);
    return r == PictErr::Malformed ? PictCode::NoMemory : r;
  }
  (*out)->file = bytes;
  return kOk;
}

namespace {

// The URL's path as a local path: unescaped, its leading "/" dropped; null
// with NotFound for a path that hides a NUL or leaves the folder.
Result LocalPath(const UrlParsed& url, char** out) {
  *out = nullptr;
  if (!url.path || !url.path[0] || (url.path[0] == '/' && !url.path[1])) return kOk;
  for (const char* p = url.path; *p; ++p)
    if (p[0] == '%' && p[1] == '0' && p[2] == '0') return PictCode::NotFound;
  char* path = nullptr;
  if (UrlPercentDecode(url.path[0] == '/' ? url.path + 1 : url.path, &path, 0) != kOk)
    return PictCode::NoMemory;
  if (Unsafe(path)) {
    MemFree(&path);
    return PictCode::NotFound;
  }
  *out = path;
  return kOk;
}

bool SameHost(const char* host, const char* name) {
  const uint32_t n = LibcStrLen(name);
  return host && LibcStrLen(host) == n && LibcStrNICmp(host, name, n) == 0;
}

}  // namespace

Result PictCheckUrl(const char* url) {
  UrlParsed parsed{};
  if (Result r = UrlParse(&parsed, url, 0); r != kOk) return r;
  char* path = nullptr;
  Result r = LocalPath(parsed, &path);
  if (r == kOk && !path) r = PictCode::NotFound;
  if (r == kOk) {
    char* full = FullPath(path);
    if (!full) {
      r = PictCode::NoMemory;
    } else {
      uint32_t size = 0;
      const uint8_t* bytes = QorRomOpen(full, &size);
      if (bytes) QorRomRelease(bytes);
      else r = PictCode::NotFound;
      MemFree(&full);
    }
  }
  MemFree(&path);
  UrlFreeParsed(&parsed);
  return r;
}

Result PictBuildUrl(char** value) {
  if (!value || !*value) return kOk;
  if (LibcStrChr(*value, ':')) return kOk;
  static constexpr char kScheme[] = "pict://";
  const char* middle = (*value)[0] == '/' ? "" : "/core/";
  const uint32_t n = LibcStrLen(kScheme) + LibcStrLen(kPictAuthority) + LibcStrLen(middle) +
                     LibcStrLen(*value) + 1;
  auto* url = static_cast<char*>(MemAlloc(n, Use::String, kModPict));
  if (!url) return PictCode::NoMemory;
  LibcStrCat(LibcStrCat(LibcStrCat(LibcStrCopy(url, kScheme), kPictAuthority), middle), *value);
  MemFree(value);
  *value = url;
  return kOk;
}

Result PictSchemeStart(UrlRequestRec*, UrlLoad* load) {
  const bool codes = SameHost(load->url.host, kPictCodeAuthority);
  if (!codes && !SameHost(load->url.host, kPictAuthority)) return PictCode::NotFound;
  char* path = nullptr;
  Result r = LocalPath(load->url, &path);
  if (r != kOk) return r;
  if (!path) {
    load->endOfData = 1;
    load->events |= UrlEvent::Complete;
    return kOk;
  }
  ContentImage* image = nullptr;
  r = PictCreateImage(path, &image, codes ? PictMode::Code : PictMode::Name);
  MemFree(&path);
  if (r != kOk) return r;
  UrlLoadAddOutput(load, reinterpret_cast<QueueNode*>(image));
  load->outputFree = ContentOutputFree;
  load->contentClass = 5;
  load->endOfData = 1;
  load->events |= UrlEvent::Complete | UrlEvent::ClassKnown;
  load->flags &= ~UrlFlag::Listed;
  return kOk;
}

Result PictSchemeStep(UrlRequestRec*, UrlLoad*) { return kOk; }
