// The body collector of the rows that decode whole bodies. It gathers the
// load's input blocks into one buffer: of the announced length when the
// response gave one, else growing as blocks come (chunked and cid: bodies
// announce none). A body longer than announced, or than the row's room, is
// refused rather than cut, so the decoder never sees half of a larger body
// as if it were whole.
#pragma once
#include <cstdint>

#include "browser/url.h"

struct ContentBody {
  uint8_t* bytes;
  uint32_t size;      // bytes collected
  uint32_t capacity;  // bytes allocated
};

enum class ContentBodyState { Collecting, Complete };

// Takes every waiting block of the load's input. Complete once the announced
// length is in, or, without one (or with the data ended early), once the data
// has ended with nothing left waiting. `tooLong` is returned for a body over
// the announced length or over `room`, `noMemory` when the buffer cannot be
// had; the body stays the caller's to free in every case.
Result ContentBodyCollect(ContentBody* body, UrlLoad* load, uint32_t room, uint32_t module,
                          Result noMemory, Result tooLong, ContentBodyState* state);
// The same over an input queue and its load's announced length and end: for
// the decoder cores, which see the load only through their feed.
Result ContentBodyTake(ContentBody* body, Queue* input, uint32_t announced, bool ended,
                       uint32_t room, uint32_t module, Result noMemory, Result tooLong,
                       ContentBodyState* state);
void ContentBodyFree(ContentBody* body);

// The body a row keeps as its load's state: made on the first call (null
// without memory), and let go of with the state.
ContentBody* ContentBodyOfLoad(UrlLoad* load, uint32_t module);
void ContentBodyRelease(UrlLoad* load);
