// The sound sinks.
#include "content/sound_sink.h"

#include "host/platform/handset.h"
#include "kernel/mem.h"
#include "markup/html_node.h"

namespace {
constexpr uint32_t kModule = 75;

// The render pump hands open and close the address of the sink's word, and
// write the word itself with one block of the load's output.
template <uint32_t kClass>
Result RowOpen(RenderRequest* request, uintptr_t word, const void*, uint32_t) {
  return SoundSinkOpen(kClass, request, reinterpret_cast<SoundSink**>(word));
}
Result RowWrite(RenderRequest* request, uintptr_t word, const void* data, uint32_t) {
  return SoundSinkWrite(request, reinterpret_cast<SoundSink*>(word),
                        static_cast<const UtilDataChunk*>(data));
}
Result RowClose(RenderRequest* request, uintptr_t word, const void*, uint32_t) {
  return SoundSinkClose(request, reinterpret_cast<SoundSink**>(word));
}
}  // namespace

const RenderSinkRow kSoundSinkRows[] = {
    {10, RowOpen<10>, RowWrite, RowClose}, {11, RowOpen<11>, RowWrite, RowClose},
    {12, RowOpen<12>, RowWrite, RowClose}, {13, RowOpen<13>, RowWrite, RowClose},
    {14, RowOpen<14>, RowWrite, RowClose}, {15, RowOpen<15>, RowWrite, RowClose},
    {16, RowOpen<16>, RowWrite, RowClose}, {17, RowOpen<17>, RowWrite, RowClose},
    {18, RowOpen<18>, RowWrite, RowClose}, {19, RowOpen<19>, RowWrite, RowClose},
};
const uint32_t kSoundSinkRowCount = sizeof kSoundSinkRows / sizeof kSoundSinkRows[0];

uint32_t SoundCodeOfClass(uint32_t contentClass) {
  // nsnd, vib, mmf, ma1, ma2, ma3, smaf, pmd, mid, ma5: codes 1 to 10.
  return contentClass >= 10 && contentClass <= 19 ? contentClass - 9 : 0;
}

uint32_t SoundSinkOpen(uint32_t contentClass, void*, SoundSink** out) {
  *out = static_cast<SoundSink*>(MemAllocZero(sizeof(SoundSink), Use::Data, kModule));
  if (!*out) return SoundSinkCode::NoMemory;
  // A new sound starts as one zero byte, so that an empty body still closes
  // through the host: a pending page sound plays, or the playing one stops.
  (*out)->bytes = static_cast<uint8_t*>(MemAllocZero(1, Use::Data, kModule));
  if (!(*out)->bytes) {
    MemFree(out);
    return SoundSinkCode::NoMemory;
  }
  (*out)->open = 1;
  (*out)->soundCode = SoundCodeOfClass(contentClass);
  return SoundSinkCode::Opened;
}

uint32_t SoundSinkWrite(void*, SoundSink* sink, const UtilDataChunk* block) {
  if (sink->error) return sink->error;
  if (!sink->open) return SoundSinkCode::NotOpen;
  if (!block || block->remaining == 0) return 0;
  const uint64_t grown = uint64_t{sink->length} + block->remaining;
  if (grown > 0x7FFFFFFF) return SoundSinkCode::GrowFailed;
  auto* bytes = static_cast<uint8_t*>(
      sink->bytes ? MemRealloc(sink->bytes, static_cast<uint32_t>(grown), 0, kModule)
                  : MemAlloc(static_cast<uint32_t>(grown), Use::Data, kModule));
  if (!bytes) return SoundSinkCode::GrowFailed;
  const uint8_t* from = UtilDataChunkData(block) + block->offset;
  for (uint32_t i = 0; i < block->remaining; ++i) bytes[sink->length + i] = from[i];
  sink->bytes = bytes;
  sink->length = static_cast<uint32_t>(grown);
  return 0;
}

uint32_t SoundSinkClose(void*, SoundSink** sinkAddress) {
  SoundSink* sink = *sinkAddress;
  if (!sink) return SoundSinkCode::NoSound;
  uint32_t answer = SoundSinkCode::NoSound;
  if (sink->bytes) {
    // The host's player takes data that starts with NUL as "stop playing".
    uint32_t first = 0;
    while (first < sink->length && sink->bytes[first] == 0) ++first;
    HtmlPageSound page{};
    if (HtmlTakePendingPageSound(&page)) {
      ShellPlaySystemSound(page.soundCode, page.data, page.length);
      MemFree(&page.data);
    } else if (first < sink->length) {
      ShellPlaySystemSound(sink->soundCode, sink->bytes + first, sink->length - first);
    } else {
      ShellPlaySystemSound(sink->soundCode, nullptr, 0);
    }
    answer = SoundSinkCode::Handed;
  }
  MemFree(&sink->bytes);
  MemFree(sinkAddress);
  return answer;
}
