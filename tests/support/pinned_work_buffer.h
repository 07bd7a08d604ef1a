// For tests that run the heap short while the URL module runs.
#pragma once
#include "browser/url.h"

// Holds the URL module's work buffer where it stands, as a decoding row
// does: otherwise the buffer gives way to the first request the heap cannot
// meet, and the heap runs out some 256,000 bytes later than the test put
// it. Nothing while the module does not run; ends before the module stops.
class PinnedWorkBuffer {
 public:
  PinnedWorkBuffer() : held_(UrlGetModule()) {}

 private:
  UrlWorkBufferUse held_;
};
