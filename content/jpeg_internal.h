// The JPEG decoder's state, shared between the header reader and band
// maker (jpeg.cpp) and the entropy decoder, inverse DCT and colour
// conversion (jpeg_scan.cpp).
#pragma once
#include <cstdint>

#include "content/jpeg.h"
#include "graphics/pgl.h"
#include "kernel/mem.h"

// Huffman table: the symbols and the decoding arrays by code length, plus
// a lookup of the codes of up to 8 bits.
struct JpegHuff {
  uint8_t defined;
  uint8_t longest;         // longest code length in use
  uint16_t count;          // symbols
  int32_t maxCode[17];     // per length 1..16; -1 when the length has no codes
  int32_t valOffset[17];   // symbol index minus code, per length
  uint8_t lookLength[256]; // 0: the code is longer than 8 bits
  uint8_t lookSymbol[256];
  uint8_t symbols[256];
};

struct JpegComponent {
  uint8_t id;
  uint8_t h, v;
  uint8_t tq;
  uint8_t shiftX, shiftY;  // upsampling by repetition: 0 or 1
  uint8_t covered;         // a scan has decoded it
  uint32_t sampleWidth, sampleHeight;
  uint8_t* plane;   // samples: one strip of block rows, or the whole component
  uint32_t stride;  // bytes per plane row
  uint32_t planeRows;
  uint32_t origin;  // component row held in plane row 0
  int32_t predictor;
};

// Entropy-coded input: bytes copied from the queue into `in`, read as bits
// from the most significant end into `acc` (right-aligned, `count` bits).
struct JpegBits {
  uint64_t acc;
  int32_t count;
  int32_t pad;        // zero bits at the low end standing in for data not yet here
  uint32_t pos;       // next byte of `in`
  int32_t fill;       // zero bits at the low end read after a marker
  uint8_t marker;     // reading stopped at a marker: zeros follow
  uint8_t starved;    // bits standing in for missing data were used
  uint8_t overrun;    // zeros after a marker were used: the segment's data ran out
};

constexpr uint32_t kJpegInputBytes = 4096;

// Scan sub-states.
namespace JpegScan {
constexpr uint8_t Start = 0, NextMcu = 1, Unit = 2, Resync = 3, Emit = 4, Done = 5;
}

struct JpegDecoder {
  // Marker parser.
  uint8_t state;
  uint8_t marker;
  uint8_t eoiSeen;
  uint8_t blockConsumed;
  uint32_t remaining;  // segment bytes left
  uint32_t counter;    // bytes or entries read of the current item
  uint32_t item;       // table id, component index, count total...
  uint8_t counts[16];
  uint8_t symbols[256];

  // Frame.
  uint8_t frameSeen;
  uint8_t precision;
  uint8_t frameType;
  uint8_t nf;
  uint8_t hMax, vMax;
  uint32_t width, height;  // X, Y
  JpegComponent comp[3];
  uint8_t planeMode;  // scans of fewer components than the frame: whole planes
  uint32_t mcusAcrossFrame, mcusDownFrame;

  uint16_t quant[4][64];  // natural order
  JpegHuff* huff;         // 4 DC then 4 AC

  // Scan.
  uint8_t scanState;
  uint8_t ns;
  uint8_t scanComp[3];  // frame component index
  uint8_t td[3], ta[3];
  uint32_t restartInterval;
  uint32_t sinceRestart;
  uint32_t mcusAcross, mcusDown, mcuTotal;
  int64_t mcu;
  uint32_t unitComp;  // index into scanComp
  uint32_t unitRow;   // block row within the MCU for that component
  uint32_t stripRow;  // MCU row whose strip is being filled
  JpegBits bits;
  uint32_t inEnd;
  uint8_t in[kJpegInputBytes];

  // Output.
  ContentImage* image;
  uint16_t* rows;  // X by 16 pixels
  PglSurface rowSurface;
  PglRowConverter conv;
  uint8_t convOpen;
  uint8_t scaling;
  uint32_t outWidth, outHeight;  // sW, sH
  uint32_t bandCount;
  uint32_t band;       // index of the band being filled
  uint32_t bandStart;  // its first source row
  uint32_t rowsDone;   // source rows converted into the row buffer
  uint32_t rowsEmitted;
  int64_t accumulator;
};

// jpeg_scan.cpp
void JpegBuildHuffman(JpegHuff* table, const uint8_t counts[16], const uint8_t* symbols,
                      uint32_t total);
bool JpegHuffmanValid(const uint8_t counts[16]);
// Decodes one row of blocks of the current scan component into its plane.
void JpegDecodeUnit(JpegDecoder* d);
// Converts source rows [from, to) from the planes into the row buffer.
void JpegConvertRows(JpegDecoder* d, uint32_t from, uint32_t to);
// The IDCT on 64 dequantised coefficients (natural order), written as 8x8
// samples 0..255 with the level shift.
void JpegInverseDct(int32_t* block, uint8_t* out, uint32_t stride);
