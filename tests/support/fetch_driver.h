// The tests' own fetch driver: schemes that serve in-memory bodies through
// the URL task exactly as the product's schemes do (same row type, looked up
// after the product's table), a few content rows whose process and release
// the tests can count, and a requester task that logs each message the URL
// task sends it and collects the load's output as it arrives.
//
//   qortest://host/path   served fresh every time
//   qorcache://host/path  completed loads stay in the cache
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "browser/url.h"
#include "tests/support/recorder.h"

struct FetchBody {
  std::string body;
  uint32_t blockSize = 0;  // 0: the whole body in one block
  bool announceLength = true;
  uint32_t status = 200;
  std::string contentType;  // with parameters, as a Content-Type header gives it
  std::vector<std::pair<std::string, std::string>> headers;
  int32_t expiry = 0;
  int64_t failAt = -1;  // the step fails once this many bytes were delivered
  Result failCode = 0x80610002;
};

// A body of that content type: a file's bytes, or a text.
FetchBody FetchFile(const std::string& path, const std::string& contentType);
FetchBody FetchText(const std::string& text, const std::string& contentType);

// Content rows of the tests (type ids the product does not use).
namespace FetchType {
// Collects the whole body, then hands it on as one block.
constexpr uint32_t Collect = 250;
// Hands on the first block and declares the body complete.
constexpr uint32_t FirstBlock = 251;
// Fails on the first data.
constexpr uint32_t Refuse = 252;
}  // namespace FetchType
constexpr Result kFetchRefused = 0x80618002;

class FetchDriver {
 public:
  FetchDriver();   // plugs the rows in
  ~FetchDriver();  // takes them out again
  FetchDriver(const FetchDriver&) = delete;
  FetchDriver& operator=(const FetchDriver&) = delete;

  // Serves the body at that path (host ignored) on both schemes.
  void Serve(const std::string& path, FetchBody body) { bodies_[path] = std::move(body); }

  // What the schemes and content rows were asked to do.
  int starts = 0, steps = 0, closes = 0;
  int moduleInits = 0, moduleTerms = 0;
  int processCalls = 0, releases = 0;
  std::vector<uint32_t> workBufferSizes;  // seen by each process call

  static FetchDriver* current;

 private:
  friend struct FetchDriverRows;
  std::map<std::string, FetchBody> bodies_;
};

// A task that requests URLs and logs every message it receives; the output
// of each request is gathered into `received` as 0xD09 and 0xD00 arrive.
class FetchRequester {
 public:
  explicit FetchRequester(uint32_t id = Mod::TestCode);
  TskmanTask* task() const { return recorder_.task(); }
  std::vector<uint32_t> Messages() const { return recorder_.Messages(); }
  size_t Count(uint32_t message) const { return recorder_.Count(message); }
  const std::vector<Received>& log() const { return recorder_.log; }
  void Destroy() { recorder_.Destroy(); }
  void ClearLog() { recorder_.log.clear(); }

  // Bytes of every block the request's output held, in order (every output
  // object of the tests' rows is a data block).
  std::map<UrlRequestRec*, std::string> received;
  // Reads the output that arrived since the last call.
  void Drain(UrlRequestRec* request);
  // False for loads whose output is not data blocks (decoded images): Drain
  // then only lists the objects in `objects`.
  bool blocks = true;
  std::map<UrlRequestRec*, std::vector<void*>> objects;
  // Requests this task started: only their output is read, so a message
  // still queued for a finished request touches nothing.
  Result Request(UrlSession* session, const std::string& url, uint32_t flags,
                 UrlRequestRec** out, UrlRequestRec* referrer = nullptr);
  // Finishes the request and forgets what it received.
  void Done(UrlSession* session, UrlRequestRec* request);
  std::set<UrlRequestRec*> live;
  // When set, every message goes here instead, and the output is left for
  // whoever reads it there (a render pump).
  std::function<void(const Received&)> onMessage;

 private:
  Recorder recorder_;
};
