#include "content/collect.h"

namespace {

// The body is held at its own size, announced or grown as it comes: the
// work buffer bounds the decoded rows, not the compressed file.
constexpr uint32_t kNoRoomLimit = 0xFFFFFFFFu;

}  // namespace

Result ContentCollect(ContentBody* body, ContentFeed* feed, const ContentSource* source,
                      uint32_t module, bool* whole) {
  ContentBodyState state = ContentBodyState::Collecting;
  const Result r = ContentBodyTake(body, feed->input, source->announcedLength, feed->endOfData != 0,
                                   kNoRoomLimit, module, ResultError(module, Err::NoMemory),
                                   ResultError(module, Err::BadArg), &state);
  *whole = r == kOk && state == ContentBodyState::Complete;
  return r;
}
