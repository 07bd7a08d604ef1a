// A WBXML handler for tests that writes every callback as one line of text,
// naming tokens from small tables of the public document types, and helpers
// that feed a document to the decoder in chosen pieces.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "kernel/list.h"
#include "markup/wbxml.h"

struct WbxmlName {
  uint32_t token;
  const char* name;
  const char* text;  // attribute start: the value prefix; value token: its text
};

struct WbxmlTables {
  const WbxmlName* tags;
  const WbxmlName* attributes;  // start tokens and value tokens
};

extern const WbxmlTables kSiTables, kSlTables, kProvTables, kChannelTables;

// Lines: start "<public id>" <number> | begin <tag> | attr <name> "<value>" |
// attrs | text "<text>" | end <tag>. Units outside printable ASCII show as
// {XX} or {XXXX}; literal names as their text.
struct WbxmlRecorder {
  WbxmlHandler handler;  // first: the callbacks get its address
  const WbxmlTables* tables = nullptr;
  std::string log;
  std::vector<std::u16string> literals;
  uint32_t failOnBegin = 0;  // answer this from element begin when not 0
  uint32_t failOnStart = 0;  // answer this from the start of the document when not 0

  explicit WbxmlRecorder(const WbxmlTables* t = nullptr);
};

// Appends the text in quotes, units outside printable ASCII as {XX} or {XXXX}.
void Quote(std::string* out, const char16_t* text, uint32_t length);

// Decodes the bytes split after each of the given offsets (appending one
// piece, then decoding); the last answer.
Result WbxmlFeed(WbxmlDecoder* decoder, WbxmlRecorder* recorder, Queue* queue,
                 const std::vector<uint8_t>& bytes, const std::vector<uint32_t>& cuts);

std::vector<uint8_t> ReadWbxmlFile(const char* name);
