// Push reception, the inbox and the local content store through their real
// tasks: the settings store in a fresh folder, a recorder standing in for the
// status indicator, and pushed objects placed in the cache the way push
// delivery places them. The heap is whole again after the tasks stop.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "browser/url.h"
#include "tests/kernel/config_fixture.h"
#include "tests/support/recorder.h"

struct PushHeader {
  const char* name;
  std::string value;
};

inline constexpr char kConnectivity[] = "application/vnd.wap.connectivity-wbxml";

// The headers a pushed connectivity document carries with it: its content
// type and the security parameters that come with it.
std::vector<PushHeader> ProvHeaders();
// The bytes a cached object holds.
std::string Body(const UrlLoad* load);

class PushFixture : public WorkDirFixture {
 protected:
  explicit PushFixture(uint32_t heapBytes = 8u << 20) : WorkDirFixture(heapBytes) {}
  void SetUp() override;
  void TearDown() override;

  // Starts the local content store and push reception (again after Stop).
  void StartServices();
  void StopServices();
  // Starts both without running the ring: a start still under way.
  void BeginServices();
  // Runs `steps` scheduler steps, then stops push reception, which must
  // answer once, and local content.
  void StopAfter(int steps);

  // A file of tests/data/push.
  static std::string Data(const std::string& name);
  // A connectivity document of the given size made from a real one, repeated.
  static std::string DocOfSize(uint32_t size);
  // Places a pushed object from the sender and announces it; its URL.
  std::string Push(const std::string& mime, const std::string& body,
                   const std::vector<PushHeader>& headers = {},
                   const std::string& sender = "+4917012345");
  // The same under a URL of the caller's choice.
  void PushNamed(const std::string& url, const std::string& mime, const std::string& body,
                 const std::vector<PushHeader>& headers = {});
  // A compiled document of tests/data/push pushed to the inbox.
  std::string PushDoc(const std::string& name, const std::vector<PushHeader>& headers = {});
  // A pushed home page, one part of its own, whose text begins with
  // `marker`, followed by `size` bytes; its URL.
  std::string PushPage(const std::string& marker, uint32_t size);
  // The same without a marker, run until the modules rest: `size` bytes and
  // 90 more.
  void PushHomePage(uint32_t size);

  UrlLoad* Cached(const std::string& url);
  // The values posted to the status indicator for push messages, in order.
  std::vector<uint32_t> Indicators() const;
  // Keys and values of a settings section as they stand.
  std::vector<std::pair<std::string, std::string>> Section(const char* name);
  struct ConfigHandle* OpenSection(const char* name);
  // Stores a key of kind 1 into a section.
  void StoreString(const char* section, const char* key, const char* value);

  std::unique_ptr<Recorder> starter, status, writer;
  uint32_t heapAtStart = 0;
  uint32_t serial = 0;
};
