// The two codings of compressed animation blocks: the adaptive unpacker (a
// range coder over an order-1 / order-0 / flat model cascade with a run
// layer on top) and the deflate variant whose blocks may lean on preset
// Huffman tables. Both resume across calls so that the stream decoder can
// feed a large block a piece at a time; their state is static: one block and
// one stream at a time.
#pragma once
#include <cstdint>

// The model buffer holds 128 order-1 tables of 260 bytes.
constexpr uint32_t kSisModelTable = 260;
constexpr uint32_t kSisModelBytes = 128 * kSisModelTable;
// The unpacker asks for input windows of this size and moves on to the next
// window once this many bytes of the current one are read.
constexpr uint32_t kSisWindow = 2000;
constexpr uint32_t kSisWindowUsed = 1800;

// What one unpacker step asks of its caller.
struct SisAdaptiveResult {
  int32_t status;   // -1 no model buffer, -2 bad data or no room, 0 done,
                    // 1 wants the window {offset, size}, 2 call again
  uint32_t offset;  // from the block start
  uint32_t size;
};

namespace SisAdaptive {
constexpr int32_t NoModel = -1, Bad = -2, Done = 0, Window = 1, Again = 2;
}

// A buffer below kSisModelBytes marks the model missing and returns 1.
int SisSetModelBuffer(uint8_t* buffer, uint32_t size);
void SisDecodeAdaptiveReset();
// One step: `window` holds `length` bytes (bytes past them read as 0); the
// output takes at most `room` bytes; *outCount gets the bytes written in
// this block so far.
void SisDecodeAdaptive(const uint8_t* window, uint32_t length, uint8_t* output, uint32_t room,
                       uint32_t* outCount, SisAdaptiveResult* result);

// The stream record of SisInflateStep.
struct SisInflateStream {
  const uint8_t* input;
  uint32_t inputLength;
  uint32_t totalIn;  // out
  uint8_t* output;
  uint32_t room;
  uint32_t totalOut;  // out
  uint32_t mode;      // 0 starts a stream, anything else continues it
};

namespace SisInflate {
constexpr int32_t More = 1, End = 0, Short = -1, Data = -2, Memory = -3, Other = -4;
}

// Loads the preset tables from a bare table definition (HLIT, HDIST, HCLEN
// and the code lengths, no block header). 0 built, -1 input ended, -2 bad
// definition.
int32_t SisInflateAll(const uint8_t* input, uint16_t length);
// One step of the current stream; see SisInflate for the answers.
int32_t SisInflateStep(SisInflateStream* stream);
// Forgets the preset tables: a new image starts without them.
void SisInflateResetTables();
// The message of the last failure, zlib's wording; "" when none.
const char* SisInflateMessage();
