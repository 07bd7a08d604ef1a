// A pushed object as push delivery leaves it for push reception: complete,
// closed, locked for push reception (which lets it go) and in the cache.
// Header-only, so that the fuzz targets and the benchmarks share it.
#pragma once
#include <cstdint>
#include <string>

#include "browser/cache.h"
#include "browser/url.h"
#include "kernel/datachunk.h"

// Null without memory; headers may be added after.
inline UrlLoad* CachePushedObject(const std::string& url, const char* mime, const std::string& body) {
  UrlParsed parsed{};
  if (UrlParse(&parsed, url.c_str(), 0) != kOk) return nullptr;
  UrlLoad* load = UrlLoadCreate(&parsed);
  UrlFreeParsed(&parsed);
  if (!load) return nullptr;
  UrlSetContentTypeMime(load, mime);
  if (!body.empty())
    UtilDataChunkAppend(&load->output, reinterpret_cast<const uint8_t*>(body.data()),
                        static_cast<uint32_t>(body.size()), Mod::Url);
  load->schemeRow = UrlFindScheme("push");
  load->status = 200;
  load->endOfData = 1;
  load->closed = 1;
  load->events |= UrlEvent::StatusKnown | UrlEvent::Complete;
  UrlLoadSetFlags(load, UrlFlag::Kept);
  CacheAdd(load);
  return load;
}
