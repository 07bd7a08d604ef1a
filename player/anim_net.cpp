// Movie downloads: the request texts a host sends, the response it hands
// back block by block, and where a finished body goes (variables or a
// level). The player has no network of its own; the host carries the bytes.
#include <cstdio>
#include <cstring>

#include "player/anim_movie.h"
#include "player/anim_player.h"

namespace {

constexpr char kSoundTypes[] = "MA2|MA3|EVRC";
constexpr int32_t kMemoryKb = 250;

void Copy(char* out, size_t size, const char* from, size_t n) {
  if (n >= size) n = size - 1;
  std::memcpy(out, from, n);
  out[n] = 0;
}

// The first occurrence of a name, ASCII case ignored, within n bytes.
const uint8_t* FindName(const uint8_t* data, uint32_t n, const char* name) {
  const size_t k = std::strlen(name);
  for (uint32_t i = 0; i + k <= n; ++i) {
    size_t j = 0;
    while (j < k && (data[i + j] | 0x20) == (name[j] | 0x20)) ++j;
    if (j == k) return data + i;
  }
  return nullptr;
}

int32_t Send(AnimPlayer* p, const char* text) {
  const auto n = static_cast<uint32_t>(std::strlen(text));
  return static_cast<int32_t>(AnimHook_Send(p, text, n)) < 0 ? -1 : 0;
}

void ForgetBody(AnimPlayer* p) {
  AnimDownload& d = p->download;
  AnimPlayer_Free(p, d.response);
  d.response = nullptr;
  d.responseFill = 0;
}

}  // namespace

void AnimNet_Reset(AnimPlayer* p) {
  AnimDownload& d = p->download;
  d.headerSeen = 0;
  d.received = 0;
  d.pendingCount = 0;
  d.contentLength = -1;
  d.receiveFill = 0;
}

int32_t AnimNet_StartFetch(AnimPlayer* p, const char* url) {
  AnimDownload& d = p->download;
  d.host[0] = d.path[0] = 0;
  const char* rest = url && std::strncmp(url, "http:/", 6) == 0 ? url + 5 : nullptr;
  if (rest) {
    while (*rest == '/') ++rest;
    const char* slash = std::strchr(rest, '/');
    const size_t hostLength = slash ? static_cast<size_t>(slash - rest) : std::strlen(rest);
    Copy(d.host, sizeof d.host, rest, hostLength);
    const char* path = slash ? slash + 1 : "";
    const char* hash = std::strchr(path, '#');
    Copy(d.path, sizeof d.path, path, hash ? static_cast<size_t>(hash - path) : std::strlen(path));
    if (!d.path[0]) Copy(d.path, sizeof d.path, "/", 1);
    if (static_cast<int32_t>(AnimHook_Connect(p, d.host, 80)) == -1) return -1;
  }
  AnimPlayer_Free(p, d.receiveBuffer);
  d.receiveBuffer = static_cast<uint8_t*>(AnimPlayer_Alloc(p, kAnimReceiveBuffer));
  ForgetBody(p);
  AnimNet_Reset(p);
  return 1;
}

int32_t AnimNet_Fetch(AnimPlayer* p, const char* url) { return AnimNet_StartFetch(p, url); }

int32_t AnimNet_ReadLocal(AnimPlayer* p, const char* name, AnimLoaded* out) {
  *out = AnimLoaded{};
  const AnimPackageEntry* member = AnimPackage_Find(&p->package, name);
  if (member && member->data) {
    out->data = member->data;
    return static_cast<int32_t>(member->size);
  }
  uint32_t length = 0;
  out->owned = AnimHook_ReadFile(p, member ? p->package.fileName : name, &length, member ? member->offset : 0,
                                 member ? member->size : 0, 0);
  if (!out->owned) return -1;
  out->data = static_cast<const uint8_t*>(out->owned);
  if (length <= 0x7FFFFFFFu) return static_cast<int32_t>(length);
  AnimPlayer_Free(p, out->owned);
  *out = AnimLoaded{};
  return -1;
}

int32_t AnimNet_SendRequest(AnimPlayer* p) {
  AnimDownload& d = p->download;
  const char* path = d.path[0] == '/' ? d.path + 1 : d.path;
  const char* last = std::strrchr(path, '/');
  const char* name = last ? last + 1 : path;
  const char* query = std::strchr(name, '?');
  Copy(d.fileName, sizeof d.fileName, name, query ? static_cast<size_t>(query - name) : std::strlen(name));
  char text[512];
  std::snprintf(text, sizeof text, "GET /%s HTTP/1.0\r\nHost: %s\r\nX-Vorlyx-Info: MIN=%s; SoundType=%s; Memory=%dKB\r\n\r\n",
                path, d.host, AnimHost_GetMin(p), kSoundTypes, kMemoryKb);
  return Send(p, text);
}

int32_t AnimNet_SendResume(AnimPlayer* p) {
  AnimDownload& d = p->download;
  const char* path = d.path[0] == '/' ? d.path + 1 : d.path;
  char text[512];
  std::snprintf(text, sizeof text,
                "GET /%s HTTP/1.1\r\nHost: %s\r\nRange: bytes=%u-\r\nX-Vorlyx-Info: MIN=%s; SoundType=%s; Memory=%dKB\r\n\r\n",
                path, d.host, d.received, AnimHost_GetMin(p), kSoundTypes, kMemoryKb);
  return Send(p, text);
}

int32_t AnimNet_Receive(AnimPlayer* p, const uint8_t* data, uint32_t length) {
  AnimDownload& d = p->download;
  uint32_t start = 0;
  if (!d.headerSeen) {
    if (!data) {
      d.pendingCount += length;
      return 0;
    }
    d.headerSeen = 1;
    if (d.pendingCount && d.pendingCount < length) length = d.pendingCount;
    d.pendingCount = 0;
    const uint8_t* end = FindName(data, length, "\r\n\r\n");
    if (!end) return -2;
    start = static_cast<uint32_t>(end - data) + 4;
    if (d.contentLength < 0) {
      const uint8_t* field = FindName(data, start, "Content-Length");
      if (!field) return -2;  // without a length the body has no bound
      const uint8_t* v = field + 14;
      while (v < end && (*v == ':' || *v == ' ')) ++v;
      uint64_t n = 0;
      bool digits = false;
      for (; v < end && *v >= '0' && *v <= '9'; ++v, digits = true) n = n * 10 + (*v - '0');
      if (!digits || (v < end && *v != '\r') || n > kAnimDownloadRoom || AnimHook_Room(p, static_cast<uint32_t>(n)) == 0)
        return -3;
      d.contentLength = static_cast<int32_t>(n);
      ForgetBody(p);
      d.response = static_cast<uint8_t*>(AnimPlayer_Alloc(p, d.contentLength ? d.contentLength : 1));
      if (!d.response) return -2;
    }
  }
  if (!data || !d.response || !d.receiveBuffer) return -2;
  const uint32_t body = length - start;
  if (body > kAnimReceiveBuffer || d.received + body > static_cast<uint32_t>(d.contentLength)) return -2;
  std::memcpy(d.receiveBuffer, data + start, body);
  d.receiveFill = body;
  std::memcpy(d.response + d.responseFill, d.receiveBuffer, d.receiveFill);
  d.responseFill += d.receiveFill;
  d.received += body;
  std::memset(d.receiveBuffer, 0, kAnimReceiveBuffer);
  d.receiveFill = 0;
  if (d.received == static_cast<uint32_t>(d.contentLength)) d.headerSeen = 0;
  return 0;
}

uint32_t AnimNet_TransferEnd(AnimPlayer* p, const void* block) {
  AnimDownload& d = p->download;
  auto done = [&](uint32_t result) {
    p->fetching = p->awaitingData = 0;
    p->redrawPending = 1;
    return result;
  };
  if (!block || d.contentLength < 0 || d.received != static_cast<uint32_t>(d.contentLength)) return done(4);
  d.received = 0;
  AnimPlayer_Free(p, d.receiveBuffer);
  d.receiveBuffer = nullptr;
  if (d.saveMode &&
      (AnimHook_Room(p, d.responseFill) == 0 || AnimHook_SaveFile(p, d.fileName, d.response, d.responseFill) == 0))
    return done(5);
  if (d.deliverAtOnce) {
    d.deliverAtOnce = 0;
    // Zooming in and out again refreshes the view after the delivery.
    if (AnimNet_Deliver(p)) {
      AnimPlayer_Command(p, 4, 18);
      AnimPlayer_Command(p, 4, 19);
    }
  } else {
    p->fetchComplete = 1;
  }
  return done(0);
}

uint32_t AnimNet_Deliver(AnimPlayer* p) {
  AnimDownload& d = p->download;
  p->fetchComplete = 0;
  if (!d.response) return 0;
  uint32_t result = 0;
  const uint8_t* b = d.response;
  const bool movie = d.responseFill >= 3 && ((b[0] == 'F' && b[1] == 'W' && b[2] == 'S') || (b[0] == 'Q' && b[1] == 'V' && b[2] == 'X'));
  if (!movie) {
    AnimNet_SetVariables(p, reinterpret_cast<const char*>(b), d.responseFill, "");
    result = 1;
  } else if (d.targetLevel != kAnimLevelRemoved && p->movie) {
    result = AnimMovie_ReplaceLevel(p->movie, false, d.targetLevel, b, d.responseFill);
  }
  ForgetBody(p);
  return result;
}

void AnimNet_SetVariables(AnimPlayer* p, const char* text, uint32_t length, const char* path) {
  uint32_t i = 0;
  if (i < length && text[i] == '&') ++i;
  while (i < length) {
    uint32_t eq = i;
    while (eq < length && text[eq] != '=' && text[eq] != 0) ++eq;
    if (eq >= length || text[eq] != '=') break;  // a name without a value ends the text
    uint32_t end = eq + 1;
    while (end < length && text[end] != '&' && text[end] != 0) ++end;
    char* name = AnimStr_DupN(p, text + i, eq - i);
    char* value = AnimStr_DupN(p, text + eq + 1, end - eq - 1);
    char* full = name ? AnimPath_Resolve(p, path, name, kAnimPathVariable) : nullptr;
    if (full && value) {
      AnimVar_Set(p, full, value);
      value = nullptr;
    }
    AnimStr_Free(p, value);
    AnimStr_Free(p, name);
    AnimStr_Free(p, full);
    if (AnimPlayer_Aborted(p) || end >= length || text[end] == 0) break;
    i = end + 1;
  }
}
