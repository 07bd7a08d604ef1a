// Template jobs. The fed text collects in one buffer; a read position walks
// it, writing text and values to the output as it goes. A loop remembers
// where its body starts and walks it again for each step, so the buffer keeps
// everything from the outermost open loop's body on and drops what lies
// before. A job stops where it waits for a source or for more text, and
// carries on when the answer or the text arrives.
#include "kernel/libc.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "markup/varparse.h"

const VarParseSource kVarParseSources[] = {
    // Rows of the sources the product fills its pages from join here.
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

namespace {

// The sources themselves live in the modules above this one, which install
// their table at start; until then new jobs read the empty one.
const VarParseSource* gDefaultSources = kVarParseSources;

struct Frame {
  Frame* outer;
  const VarParseSource* source;
  void* state;          // the source's loop state (its loop holder)
  uint32_t charset;     // of the loop's values
  uint32_t bodyStart;   // text offset just behind the for marker
  uint32_t nameLength;  // the loop's variable as written, source prefix included
  char name[1];         // (allocated longer)
};

enum class Wait : uint32_t { None, Single, Property, LoopOpen, LoopNext };

// How a value goes into the page: as text, or percent-encoded for a link's
// query (see "field:" in varparse.h).
enum class Form : uint32_t { Text, Field };

}  // namespace

struct VarParseJob {
  VarParseJob* nextJob;  // every live job, oldest first
  uint32_t serial;
  bool registered;
  bool running;
  bool scheduled;
  bool closing;  // closed from inside one of its own calls
  bool lost;     // text or output went missing for want of memory
  void* owner;
  const VarParseSource* sources;
  Queue* sink;
  Queue input;
  uint8_t* text;
  uint32_t textLength;
  uint32_t textCapacity;
  uint32_t pos;
  Frame* frames;       // innermost first
  uint32_t skipDepth;  // inside the body of a loop that runs zero times
  Wait wait;
  Frame* waitFrame;
  bool answered;
  bool answerEnd;  // the awaited loop step is the end
  uint32_t charset;
  uint32_t pending;
  char16_t* out;
  uint32_t outLength;
  uint32_t outCapacity;
  char name[kVarParseMaxName + 1];
  Form form;  // of the value awaited
  uint32_t keyLength;
  char key[kVarParseMaxName + 1];  // a field's name in its query
};

namespace {

VarParseJob* gJobs = nullptr;
uint32_t gSerial = 0;

constexpr uint32_t kUtf16 = Mib::Utf16Native;

void Flush(VarParseJob* job) {
  if (job->outLength && job->sink &&
      UtilDataChunkAppend(job->sink, reinterpret_cast<const uint8_t*>(job->out),
                          job->outLength * sizeof(char16_t), Mod::VarParse) != kOk)
    job->lost = true;
  job->outLength = 0;
}

// Output leaves in chunks of about this many units, so that a long page
// never needs one large block.
constexpr uint32_t kChunkUnits = 1024;

bool Reserve(VarParseJob* job, uint32_t units) {
  if (job->outLength > 0 && job->outLength + units > kChunkUnits) Flush(job);
  if (job->outLength + units <= job->outCapacity) return true;
  uint32_t capacity = job->outCapacity ? job->outCapacity : 128;
  while (capacity < job->outLength + units) capacity *= 2;
  void* grown = job->out ? MemRealloc(job->out, capacity * sizeof(char16_t), 0, Mod::VarParse)
                         : MemAlloc(capacity * sizeof(char16_t), Use::Data, Mod::VarParse);
  if (!grown) {
    job->lost = true;
    return false;
  }
  job->out = static_cast<char16_t*>(grown);
  job->outCapacity = capacity;
  return true;
}

// Without memory a piece of output is lost (and the job marked); the job
// itself goes on.
void EmitUnits(VarParseJob* job, const char16_t* units, uint32_t count) {
  if (count == 0 || !job->sink || !Reserve(job, count)) return;
  LibcMemCopy(job->out + job->outLength, units, count * sizeof(char16_t));
  job->outLength += count;
}

// Writes text, answering the bytes taken: a character cut off at the end is
// left for the text to come, unless the text ends there (`last`), when its
// bytes become replacement characters.
uint32_t EmitText(VarParseJob* job, uint32_t from, uint32_t to, bool last = false) {
  if (to <= from) return 0;
  const uint32_t count = to - from;
  // Skipped, unwanted or without room (UTF-8 never gives more units than
  // bytes), the text is passed over whole.
  if (job->skipDepth > 0 || !job->sink || !Reserve(job, count)) return count;
  uint32_t capacity = count;
  uint32_t used = LngUtf8Decode(job->text + from, count, job->out + job->outLength, &capacity);
  job->outLength += capacity;
  if (last)
    for (; used < count; ++used) job->out[job->outLength++] = 0xFFFD;
  return used;
}

void EmitAscii(VarParseJob* job, const char* text, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const char16_t unit = static_cast<unsigned char>(text[i]);
    EmitUnits(job, &unit, 1);
  }
}

// Plain text into the page: markup characters become references, so that a
// value can add no elements, attributes or links of its own.
void EmitEscaped(VarParseJob* job, const char16_t* w) {
  for (; *w; ++w) {
    switch (*w) {
      case '&': EmitAscii(job, "&amp;", 5); break;
      case '<': EmitAscii(job, "&lt;", 4); break;
      case '>': EmitAscii(job, "&gt;", 4); break;
      case '"': EmitAscii(job, "&#34;", 5); break;
      case '\'': EmitAscii(job, "&#39;", 5); break;
      default: EmitUnits(job, w, 1);
    }
  }
}

// The value's UTF-8 bytes with every byte but letters, digits and "-._~" as
// %XX: the query reader gives back exactly the value, "+", "&", "=", "#" and
// "%" included, and the result needs no escaping in the page.
void EmitPercentEncoded(VarParseJob* job, const char16_t* w) {
  static const char kHex[] = "0123456789ABCDEF";
  char* utf8 = nullptr;
  if (LngWideToCharset(&utf8, w, Mib::Utf8) != kOk) job->lost = true;
  for (const char* p = utf8; p && *p; ++p) {
    const auto b = static_cast<uint8_t>(*p);
    const bool keep = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
                      b == '-' || b == '.' || b == '_' || b == '~';
    const char escaped[3] = {'%', kHex[b >> 4], kHex[b & 15]};
    if (keep) EmitAscii(job, p, 1);
    else EmitAscii(job, escaped, 3);
  }
  MemFree(&utf8);
}

void EmitValue(VarParseJob* job, void* value, uint32_t charset, bool own) {
  if (!value) return;
  const bool plain = (charset & kVarParsePlainText) != 0;
  charset &= ~kVarParsePlainText;
  char16_t* copy = nullptr;
  const char16_t* w = static_cast<const char16_t*>(value);
  if (charset != kUtf16 && job->sink) {
    if (LngCharsetToWide(&copy, static_cast<const char*>(value), charset) == kLngNoMemory)
      job->lost = true;
    w = copy;
  }
  if (w && job->sink) {
    if (job->form == Form::Field) {
      // An empty value leaves its field out of the query altogether.
      if (*w) {
        EmitAscii(job, job->key, job->keyLength);
        if (job->keyLength) EmitAscii(job, "=", 1);
        EmitPercentEncoded(job, w);
        if (job->keyLength) EmitAscii(job, "&amp;", 5);
      }
    } else if (plain) {
      EmitEscaped(job, w);
    } else {
      EmitUnits(job, w, LibcWStrLen(w));
    }
  }
  MemFree(&copy);
  if (own) MemFreeRaw(value);
}

// Drops the text no loop will walk again.
void Compact(VarParseJob* job) {
  uint32_t base = job->pos;
  for (Frame* f = job->frames; f; f = f->outer)
    if (f->bodyStart < base) base = f->bodyStart;
  if (base == 0) return;
  LibcMemMove(job->text, job->text + base, job->textLength - base);
  job->textLength -= base;
  job->pos -= base;
  for (Frame* f = job->frames; f; f = f->outer) f->bodyStart -= base;
}

// Moves queued chunks into the text. A chunk that cannot be taken for want of
// memory is dropped, so that the job never waits on it.
void Pull(VarParseJob* job) {
  while (QueueNode* node = QueuePopFront(&job->input)) {
    UtilDataChunk* chunk = UtilDataChunkOf(node);
    const uint32_t count = chunk->remaining;
    Compact(job);
    if (job->textLength + count > job->textCapacity) {
      uint32_t capacity = job->textCapacity ? job->textCapacity : 256;
      while (capacity < job->textLength + count) capacity *= 2;
      void* grown = job->text ? MemRealloc(job->text, capacity, 0, Mod::VarParse)
                              : MemAlloc(capacity, Use::Data, Mod::VarParse);
      if (grown) {
        job->text = static_cast<uint8_t*>(grown);
        job->textCapacity = capacity;
      }
    }
    if (job->textLength + count <= job->textCapacity) {
      LibcMemCopy(job->text + job->textLength, UtilDataChunkData(chunk) + chunk->offset, count);
      job->textLength += count;
    } else {
      job->lost = true;
    }
    MemFree(&chunk);
  }
}

const VarParseSource* FindSource(const VarParseJob* job, const char* name, const char** rest) {
  for (const VarParseSource* row = job->sources; row && row->name; ++row) {
    uint32_t n = LibcStrLen(row->name);
    if (LibcStrNICmp(name, row->name, n) != 0 || (name[n] != 0 && name[n] != '.')) continue;
    *rest = name + n + (name[n] == '.' ? 1 : 0);
    return row;
  }
  return nullptr;
}

void PopFrame(VarParseJob* job) {
  Frame* f = job->frames;
  job->frames = f->outer;
  if (job->waitFrame == f) job->waitFrame = nullptr;
  MemFree(&f);
}

void CloseLoop(VarParseJob* job) {
  Frame* f = job->frames;
  if (f->source && f->state && f->source->close) f->source->close(f->state);
  PopFrame(job);
}

// The loop's body is not walked (again): skip to its end marker.
void SkipBody(VarParseJob* job) {
  CloseLoop(job);
  job->skipDepth = 1;
}

void Await(VarParseJob* job, Wait wait, Frame* frame) {
  job->wait = wait;
  job->waitFrame = frame;
  job->answered = false;
  job->answerEnd = false;
  job->pending = 0;
}

// After a source call: takes an answer given as the call's result. Answered
// from inside the call, or pending, the result is not looked at.
void Settle(VarParseJob* job, void* result) {
  if (job->answered || job->pending) return;
  switch (job->wait) {
    case Wait::Single:
      EmitValue(job, result, job->charset, true);
      break;
    case Wait::Property:
      EmitValue(job, result, job->waitFrame ? job->waitFrame->charset : job->charset, false);
      break;
    default:
      job->answerEnd = result == nullptr;
  }
  job->answered = true;
}

void StartLoop(VarParseJob* job, const char* name, uint32_t length) {
  if (job->skipDepth > 0) {
    ++job->skipDepth;
    return;
  }
  auto* f = static_cast<Frame*>(
      MemAllocZero(sizeof(Frame) + length, Use::Context, Mod::VarParse));
  if (!f) {
    job->lost = true;
    job->skipDepth = 1;  // a loop that cannot be kept runs zero times
    return;
  }
  LibcMemCopy(f->name, name, length);
  f->nameLength = length;
  f->bodyStart = job->pos;
  f->charset = Mib::Utf8;
  f->outer = job->frames;
  job->frames = f;
  const char* rest = nullptr;
  f->source = FindSource(job, f->name, &rest);
  if (!f->source || !f->source->open) {
    SkipBody(job);
    return;
  }
  Await(job, Wait::LoopOpen, f);
  LibcMemCopy(job->name, rest, length - static_cast<uint32_t>(rest - f->name) + 1);
  void* first = f->source->open(job->name, &f->state, job, &f->charset, &job->pending);
  Settle(job, first);
}

void EndLoop(VarParseJob* job) {
  if (job->skipDepth > 0) {
    --job->skipDepth;
    return;
  }
  Frame* f = job->frames;
  if (!f) return;
  if (!f->source || !f->state || !f->source->next) {
    CloseLoop(job);
    return;
  }
  Await(job, Wait::LoopNext, f);
  Settle(job, f->source->next(f->state, &job->pending));
}

void Substitute(VarParseJob* job, const char* name, uint32_t length, Form form,
                uint32_t keyLength) {
  if (job->skipDepth > 0) return;
  job->form = form;
  job->keyLength = keyLength;
  // Inside a loop over a prefix of the name, the loop answers.
  for (Frame* f = job->frames; f; f = f->outer) {
    if (f->nameLength > length || LibcMemCompare(f->name, name, f->nameLength) != 0) continue;
    if (f->nameLength < length && name[f->nameLength] != '.') continue;
    if (!f->source || !f->state || !f->source->getProperty) break;
    uint32_t prefix = LibcStrLen(f->source->name);
    if (prefix < length && name[prefix] == '.') ++prefix;
    LibcMemCopy(job->name, name + prefix, length - prefix);
    job->name[length - prefix] = 0;
    Await(job, Wait::Property, f);
    Settle(job, f->source->getProperty(f->state, job->name, &job->pending));
    return;
  }
  LibcMemCopy(job->name, name, length);
  job->name[length] = 0;
  const char* rest = nullptr;
  const VarParseSource* source = FindSource(job, job->name, &rest);
  if (!source || !source->open) return;
  Await(job, Wait::Single, nullptr);
  job->charset = Mib::Utf8;
  void* value = source->open(rest, nullptr, job, &job->charset, &job->pending);
  if (job->answered && value) MemFreeRaw(value);  // answered twice: the first counts
  else Settle(job, value);
}

// Takes the awaited answer.
void Resume(VarParseJob* job) {
  const Wait wait = job->wait;
  job->wait = Wait::None;
  if (wait != Wait::LoopOpen && wait != Wait::LoopNext) return;
  Frame* f = job->waitFrame;
  job->waitFrame = nullptr;
  if (!f || f != job->frames) return;
  if (job->answerEnd) {
    if (wait == Wait::LoopOpen) SkipBody(job);
    else CloseLoop(job);
  } else if (wait == Wait::LoopNext) {
    job->pos = f->bodyStart;
  }
}

void Directive(VarParseJob* job, uint32_t start, uint32_t length) {
  const char* name = reinterpret_cast<const char*>(job->text + start);
  if (length >= 4 && LibcMemCompare(name, "for:", 4) == 0) {
    // Copied out first: the source may be called, and the text stays put only
    // until the next pull.
    char loop[kVarParseMaxName + 1];
    LibcMemCopy(loop, name + 4, length - 4);
    loop[length - 4] = 0;
    StartLoop(job, loop, length - 4);
  } else if (length == 4 && LibcMemCompare(name, "/for", 4) == 0) {
    EndLoop(job);
  } else {
    char value[kVarParseMaxName + 1];
    Form form = Form::Text;
    uint32_t keyLength = 0;
    if (length >= 6 && LibcMemCompare(name, "field:", 6) == 0) {
      form = Form::Field;
      name += 6;
      length -= 6;
      while (keyLength < length && name[keyLength] != '=') ++keyLength;
      if (keyLength == length) keyLength = 0;
      LibcMemCopy(job->key, name, keyLength);
      if (keyLength) {
        name += keyLength + 1;
        length -= keyLength + 1;
      }
    }
    LibcMemCopy(value, name, length);
    value[length] = 0;
    Substitute(job, value, length, form, keyLength);
  }
}

uint32_t Find(const uint8_t* p, uint32_t from, uint32_t to, uint8_t a, uint8_t b) {
  for (uint32_t i = from; i + 1 < to; ++i)
    if (p[i] == a && p[i + 1] == b) return i;
  return to;
}

// Walks the text until the job waits for an answer or for more text.
void Advance(VarParseJob* job) {
  for (;;) {
    if (job->wait != Wait::None) {
      if (!job->answered) return;
      Resume(job);
      continue;
    }
    const uint32_t end = job->textLength;
    const uint32_t marker = Find(job->text, job->pos, end, '[', '$');
    if (marker == end) {
      // A "[" at the end may open a marker.
      const uint32_t keep = end > job->pos && job->text[end - 1] == '[' ? 1 : 0;
      job->pos += EmitText(job, job->pos, end - keep);
      return;
    }
    EmitText(job, job->pos, marker, true);
    job->pos = marker;
    const uint32_t nameStart = marker + 2;
    const uint32_t limit = nameStart + kVarParseMaxName + 2;
    const uint32_t close = Find(job->text, nameStart, limit < end ? limit : end, '$', ']');
    if (close == (limit < end ? limit : end)) {
      if (end < limit) return;  // the marker may still end in text to come
      EmitText(job, marker, nameStart);  // too long for a name: it is text
      job->pos = nameStart;
      continue;
    }
    job->pos = close + 2;
    Directive(job, nameStart, close - nameStart);
  }
}

Result Finish(VarParseJob* job);

void Run(VarParseJob* job) {
  if (job->running) return;
  job->running = true;
  job->scheduled = false;
  do {
    Pull(job);
    Advance(job);
  } while (job->input.head);
  Flush(job);
  job->running = false;
  if (job->closing) Finish(job);
}

void Schedule(VarParseJob* job) {
  if (job->registered) {
    if (job->scheduled) return;
    if (TskmanTask* task = TskmanFind(Mod::VarParse)) {
      job->scheduled = true;
      TskmanPost(task, VarParseMsg::Run, reinterpret_cast<uintptr_t>(job), job->serial);
      return;
    }
  }
  Run(job);
}

bool IsLive(const VarParseJob* job) {
  for (VarParseJob* j = gJobs; j; j = j->nextJob)
    if (j == job) return true;
  return false;
}

}  // namespace

Result VarParseCreate(VarParseJob** job, uint32_t registerFlag, void* owner) {
  auto* j = static_cast<VarParseJob*>(MemAllocZero(sizeof(VarParseJob), Use::Context, Mod::VarParse));
  *job = j;
  if (!j) return kVarParseNoMemory;
  j->serial = ++gSerial;
  j->registered = registerFlag != 0;
  j->owner = owner;
  j->sources = gDefaultSources;
  VarParseJob** link = &gJobs;
  while (*link) link = &(*link)->nextJob;
  *link = j;
  return kOk;
}

void* VarParseGetOwner(const VarParseJob* job) { return job ? job->owner : nullptr; }

void VarParseSetSink(VarParseJob* job, Queue* output) {
  if (job) job->sink = output;
}

void VarParseSetSources(VarParseJob* job, const VarParseSource* rows) {
  if (job) job->sources = rows;
}

void VarParseFeed(VarParseJob* job, UtilDataChunk* block) {
  if (!block) return;
  if (!job) {
    MemFree(&block);
    return;
  }
  QueueAppend(&job->input, &block->link);
  Schedule(job);
}

bool VarParseIsDrained(VarParseJob* job) {
  if (!job) return true;
  // A run posted to a task that has gone away would never come.
  if (job->scheduled && !TskmanFind(Mod::VarParse)) {
    Run(job);
    if (!IsLive(job)) return true;
  }
  return !job->input.head && job->wait == Wait::None && !job->scheduled;
}

namespace {

Result Finish(VarParseJob* job) {
  if (job->wait == Wait::None && job->skipDepth == 0) EmitText(job, job->pos, job->textLength, true);
  while (job->frames) CloseLoop(job);
  Flush(job);
  for (VarParseJob** link = &gJobs; *link; link = &(*link)->nextJob)
    if (*link == job) {
      *link = job->nextJob;
      break;
    }
  while (QueueNode* node = QueuePopFront(&job->input)) MemFreeRaw(node);
  MemFree(&job->text);
  MemFree(&job->out);
  const Result r = job->lost ? kVarParseNoMemory : kOk;
  MemFree(&job);
  return r;
}

}  // namespace

Result VarParseClose(VarParseJob** handle) {
  VarParseJob* job = *handle;
  *handle = nullptr;
  if (!job) return kOk;
  // Closed by a source while the job is inside its call: the job ends when
  // the call returns.
  if (job->running) {
    job->closing = true;
    return kOk;
  }
  Run(job);
  return IsLive(job) ? Finish(job) : kOk;
}

void VarParseValueReady(void* cell, void* value) {
  for (VarParseJob* job = gJobs; job; job = job->nextJob) {
    if (job->answered) continue;
    if (!cell) {
      if (job->wait != Wait::Single) continue;
      EmitValue(job, value, job->charset, true);
    } else {
      if (job->wait == Wait::None || job->wait == Wait::Single || !job->waitFrame ||
          job->waitFrame->state != cell)
        continue;
      if (job->wait == Wait::Property) EmitValue(job, value, job->waitFrame->charset, false);
    }
    job->answered = true;
    Schedule(job);
    return;
  }
  if (!cell && value) MemFreeRaw(value);
}

void VarParseSourceDone(void* cell) {
  if (!cell) return;
  for (VarParseJob* job = gJobs; job; job = job->nextJob) {
    if (job->answered || job->wait == Wait::None || job->wait == Wait::Single ||
        !job->waitFrame || job->waitFrame->state != cell)
      continue;
    job->answered = true;
    job->answerEnd = true;
    Schedule(job);
    return;
  }
}

void VarParseRunPosted(uintptr_t job, uintptr_t serial) {
  auto* j = reinterpret_cast<VarParseJob*>(job);
  if (IsLive(j) && j->serial == serial) Run(j);
}

const VarParseSource* VarParseInstallSources(const VarParseSource* rows) {
  const VarParseSource* old = gDefaultSources;
  gDefaultSources = rows ? rows : kVarParseSources;
  return old;
}
