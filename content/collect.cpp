#include "content/collect.h"

namespace {

// The most a library-decoded body may take: the size of the URL module's
// shared work buffer, larger than any picture the handset's screen shows.
constexpr uint32_t kLibraryBodyRoom = 256000;

}  // namespace

Result ContentCollect(ContentBody* body, ContentFeed* feed, const ContentSource* source,
                      uint32_t module, bool* whole) {
  ContentBodyState state = ContentBodyState::Collecting;
  const Result r = ContentBodyTake(body, feed->input, source->announcedLength, feed->endOfData != 0,
                                   kLibraryBodyRoom, module, ResultError(module, Err::NoMemory),
                                   ResultError(module, Err::BadArg), &state);
  *whole = r == kOk && state == ContentBodyState::Complete;
  return r;
}
