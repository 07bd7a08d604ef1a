#include "tests/support/fetch_driver.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "kernel/mem.h"

FetchDriver* FetchDriver::current = nullptr;

namespace {

struct Stream {
  const FetchBody* body;
  size_t sent = 0;
  bool started = false;
};

Stream* StreamOf(UrlLoad* load) { return reinterpret_cast<Stream*>(load->schemeRecord); }

// The URL's path, without its parameters.
std::string PathOf(const UrlLoad* load) { return load->url.path ? load->url.path : ""; }

}  // namespace

// The rows' operations, friends of the driver.
struct FetchDriverRows {
  static FetchDriver& D() { return *FetchDriver::current; }

  static Result ModuleInit(UrlModuleContext*) {
    ++D().moduleInits;
    return kOk;
  }
  static Result ModuleTerm(UrlModuleContext*) {
    ++D().moduleTerms;
    return kOk;
  }

  static Result Start(UrlRequestRec*, UrlLoad* load) {
    ++D().starts;
    auto it = D().bodies_.find(PathOf(load));
    if (it == D().bodies_.end()) {
      load->status = 404;
      load->events |= UrlEvent::StatusKnown;
      return kUrlNotFound;
    }
    load->schemeRecord = reinterpret_cast<uintptr_t>(new Stream{&it->second});
    return kOk;
  }

  static Result Step(UrlRequestRec*, UrlLoad* load) {
    ++D().steps;
    Stream* s = StreamOf(load);
    if (!s) return kUrlNotFound;
    const FetchBody& b = *s->body;
    if (!s->started) {
      s->started = true;
      load->status = b.status;
      load->events |= UrlEvent::StatusKnown;
      load->expiry = b.expiry;
      if (b.announceLength) load->announcedLength = static_cast<uint32_t>(b.body.size());
      for (const auto& [name, value] : b.headers) UrlAddHeader(load, name.c_str(), value.c_str());
      if (!b.contentType.empty()) {
        UrlAddHeader(load, "Content-Type", b.contentType.c_str());
        UrlSetContentTypeMime(load, b.contentType.c_str());
        const size_t semi = b.contentType.find(';');
        if (semi != std::string::npos)
          UtilParseContentParams(load, b.contentType.c_str() + semi);
      }
    }
    if (b.failAt >= 0 && s->sent >= static_cast<size_t>(b.failAt)) return b.failCode;
    size_t n = b.body.size() - s->sent;
    if (b.blockSize && n > b.blockSize) n = b.blockSize;
    if (b.failAt >= 0 && s->sent + n > static_cast<size_t>(b.failAt))
      n = static_cast<size_t>(b.failAt) - s->sent;
    if (Result r = UrlLoadDeliver(load, reinterpret_cast<const uint8_t*>(b.body.data()) + s->sent,
                                  static_cast<uint32_t>(n));
        r != kOk)
      return r;
    s->sent += n;
    if (s->sent == b.body.size() && b.failAt < 0) load->endOfData = 1;
    return kOk;
  }

  static Result Close(UrlRequestRec*, UrlLoad* load) {
    ++D().closes;
    delete StreamOf(load);
    load->schemeRecord = 0;
    return kOk;
  }

  // --- content rows -----------------------------------------------------
  struct Collected {
    uint32_t size;
    uint8_t bytes[1];
  };

  static Result Collect(UrlModuleContext* module, UrlLoad* load) {
    ++D().processCalls;
    D().workBufferSizes.push_back(module->workBufferSize);
    auto* c = static_cast<Collected*>(load->handlerState);
    const uint32_t more = UtilDataChunkQueueBytes(&load->input);
    const uint32_t had = c ? c->size : 0;
    const uint32_t size = static_cast<uint32_t>(sizeof(Collected)) + had + more;
    c = static_cast<Collected*>(c ? MemRealloc(c, size, 0, Mod::TestCode)
                                  : MemAllocZero(size, Use::Data, Mod::TestCode));
    if (!c) return 0x80610001;
    load->handlerState = c;
    c->size += UtilDataChunkTake(&load->input, c->bytes + had, more);
    if (load->endOfData && !load->input.head) {
      UtilDataChunk* whole = UtilDataChunkNew(c->bytes, c->size, Mod::TestCode);
      MemFree(&c);
      load->handlerState = nullptr;
      if (!whole) return 0x80610001;
      UrlLoadAddOutput(load, &whole->link);
      load->events |= UrlEvent::Complete;
    }
    return kOk;
  }

  static Result FirstBlock(UrlModuleContext*, UrlLoad* load) {
    ++D().processCalls;
    if (QueueNode* block = QueuePopFront(&load->input)) {
      UrlLoadAddOutput(load, block);
      load->events |= UrlEvent::Complete;
    }
    return kOk;
  }

  static Result Refuse(UrlModuleContext*, UrlLoad*) {
    ++D().processCalls;
    return kFetchRefused;
  }

  static Result Release(UrlModuleContext*, UrlLoad* load) {
    ++D().releases;
    MemFree(reinterpret_cast<Collected**>(&load->handlerState));
    return kOk;
  }
};

namespace {

const UrlSchemeRow kSchemes[] = {
    {FetchDriverRows::Step, FetchDriverRows::Close, "qortest", FetchDriverRows::ModuleInit,
     FetchDriverRows::ModuleTerm, FetchDriverRows::Start, 0},
    {FetchDriverRows::Step, FetchDriverRows::Close, "qorcache", nullptr, nullptr,
     FetchDriverRows::Start, UrlSchemeFlag::Cached},
};

const UrlContentTypeRow kTypes[] = {
    {FetchDriverRows::Collect, FetchDriverRows::Release, "qcollect", FetchType::Collect,
     "application", "x-qor-collect", 2},
    {FetchDriverRows::FirstBlock, FetchDriverRows::Release, "qfirst", FetchType::FirstBlock,
     "application", "x-qor-first", 2},
    {FetchDriverRows::Refuse, FetchDriverRows::Release, "qrefuse", FetchType::Refuse,
     "application", "x-qor-refuse", 2},
};

}  // namespace

FetchDriver::FetchDriver() {
  current = this;
  UrlSetExtraRows(kSchemes, 2, kTypes, 3);
}

FetchDriver::~FetchDriver() {
  UrlSetExtraRows(nullptr, 0, nullptr, 0);
  current = nullptr;
}

FetchRequester::FetchRequester(uint32_t id)
    : recorder_(id, [this](Recorder&, const Received& r) {
        if (onMessage)
          onMessage(r);
        else if (r.message == UrlMsg::Watch)
          Drain(reinterpret_cast<UrlRequestRec*>(r.arg2));
        else if (r.message == UrlMsg::Complete)
          Drain(reinterpret_cast<UrlRequestRec*>(r.arg1));
        return kOk;
      }) {}

Result FetchRequester::Request(UrlSession* session, const std::string& url, uint32_t flags,
                               UrlRequestRec** out, UrlRequestRec* referrer) {
  Result r = UrlRequest(session, url.c_str(), flags, referrer, out, 0, task(), 0);
  if (r == kOk) live.insert(*out);
  return r;
}

void FetchRequester::Done(UrlSession* session, UrlRequestRec* request) {
  live.erase(request);
  received.erase(request);
  objects.erase(request);
  UrlRequestDone(session, request);
}

void FetchRequester::Drain(UrlRequestRec* request) {
  if (!live.count(request)) return;
  std::string& out = received[request];
  void* object = nullptr;
  while (UrlLoadNextChunk(request, &object) == kOk) {
    if (!blocks) {
      objects[request].push_back(object);
      continue;
    }
    auto* block = static_cast<UtilDataChunk*>(object);
    out.append(reinterpret_cast<const char*>(UtilDataChunkData(block)) + block->offset,
               block->remaining);
  }
}

FetchBody FetchFile(const std::string& path, const std::string& contentType) {
  std::ifstream in(path, std::ios::binary);
  return FetchText(std::string(std::istreambuf_iterator<char>(in), {}), contentType);
}

FetchBody FetchText(const std::string& text, const std::string& contentType) {
  FetchBody body;
  body.body = text;
  body.contentType = contentType;
  return body;
}
