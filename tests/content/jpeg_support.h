// Drives the JPEG decoder the way a load does, and decodes the same bodies
// with libjpeg-turbo for comparison.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "content/jpeg.h"

struct JpegRun {
  Result result = 0;
  uint32_t events = 0;
  bool made = false;        // an image was made
  uint32_t width = 0, height = 0;
  uint32_t bandCount = 0;
  std::vector<uint32_t> bandRows;  // 0 for an empty entry
  std::vector<uint16_t> pixels;    // width x height RGB565
};

// Queues the body in blocks of `block` bytes (0: all at once) and steps the
// decoder; with `trickle` one block is queued per step, and the end of data
// is announced after the last one. The image is flattened and freed.
JpegRun JpegRunDecode(const std::vector<uint8_t>& body, uint32_t block, bool trickle,
                      bool fit = false);

std::vector<uint8_t> JpegReadFile(const std::string& name);

struct JpegReference {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;
};
// libjpeg-turbo's decode with the integer slow IDCT and no fancy upsampling.
JpegReference JpegReferenceDecode(const std::vector<uint8_t>& body);
