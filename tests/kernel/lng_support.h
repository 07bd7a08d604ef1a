// Helpers of the character-set tests: data queues built from byte strings,
// and whole readers.
#pragma once
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "kernel/lng.h"
#include "kernel/datachunk.h"

using Bytes = std::vector<uint8_t>;
using Units = std::u16string;

inline Bytes B(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

// A queue the test owns; whatever is left is freed at the end.
struct TestQueue {
  Queue queue{nullptr, nullptr};
  TestQueue() = default;
  explicit TestQueue(const std::vector<Bytes>& chunks) {
    for (const Bytes& c : chunks) Add(c);
  }
  ~TestQueue() { UtilDataChunkFreeQueue(&queue); }
  TestQueue(const TestQueue&) = delete;
  TestQueue& operator=(const TestQueue&) = delete;
  void Add(const Bytes& bytes) {
    UtilDataChunkAppend(&queue, bytes.data(), static_cast<uint32_t>(bytes.size()), Mod::Lng);
  }
  uint32_t Unread() const { return UtilDataChunkQueueBytes(&queue); }
  int Chunks() const {
    int n = 0;
    for (QueueNode* node = queue.head; node; node = node->next) ++n;
    return n;
  }
};

// Splits bytes at random points into chunks of 1 to maxChunk bytes.
inline std::vector<Bytes> RandomSplit(const Bytes& bytes, std::mt19937& rng, size_t maxChunk) {
  std::vector<Bytes> out;
  std::uniform_int_distribution<size_t> size(1, maxChunk);
  for (size_t i = 0; i < bytes.size();) {
    const size_t n = std::min(size(rng), bytes.size() - i);
    out.emplace_back(bytes.begin() + static_cast<long>(i), bytes.begin() + static_cast<long>(i + n));
    i += n;
  }
  return out;
}

// Reads characters until the reader reports the end of the data.
inline Units ReadAll(LngReadCharFn read, Queue* queue) {
  Units out;
  for (;;) {
    Result result = 0x12345678;
    const char16_t unit = read(&result, queue);
    if (result == kLngEndOfData) break;
    out += unit;
  }
  return out;
}

// The whole-buffer decode, without a capacity.
inline Units DecodeAll(LngDecodeFn decode, const Bytes& bytes, uint32_t* consumed = nullptr) {
  Units out(bytes.size() * 2 + 2, u'\0');
  uint32_t written = 0;
  const uint32_t used = decode(bytes.data(), static_cast<uint32_t>(bytes.size()), out.data(),
                               &written);
  if (consumed) *consumed = used;
  out.resize(written);
  return out;
}

inline Bytes EncodeAll(LngEncodeFn encode, const Units& units, uint32_t* consumed = nullptr) {
  Bytes out(units.size() * 4 + 4);
  uint32_t written = 0;
  const uint32_t used = encode(units.data(), static_cast<uint32_t>(units.size()), out.data(),
                               &written);
  if (consumed) *consumed = used;
  out.resize(written);
  return out;
}
