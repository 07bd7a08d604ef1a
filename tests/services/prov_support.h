// Helpers of the provisioning and repository tests: test documents, and a
// settings tree written out as one "path=value" line per value.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "browser/url.h"
#include "kernel/config.h"
#include "kernel/datachunk.h"
#include "services/service_rows.h"
#include "tests/support/recorder.h"
#include "tests/support/temp_dir.h"

#ifdef QOR_PROV_DATA_DIR
inline std::string ProvDocument(const std::string& name) {
  return ReadWholeFile(std::string(QOR_PROV_DATA_DIR) + "/" + name);
}
#endif

// Every value below the handle's current level, folders descended into:
// "a/b=text", "a/n=#12", "a/w=u'text'", raw values as "a/r=<n bytes>".
inline std::string DumpTree(ConfigHandle* h, const std::string& prefix = "") {
  std::string out;
  uintptr_t cursor = 0;
  const char* name = nullptr;
  uint32_t nameLength = 0, length = 0;
  const uint8_t* data = nullptr;
  ConfigKind kind{};
  std::string folders[64];
  int folderCount = 0;
  while (ConfigEnum(h, &cursor, &name, &nameLength, &data, &length, &kind) == kOk) {
    const std::string key = prefix + std::string(name, nameLength);
    switch (kind) {
      case ConfigKind::Folder:
        if (folderCount < 64) folders[folderCount++] = std::string(name, nameLength);
        break;
      case ConfigKind::Int: {
        uint32_t v = 0;
        for (uint32_t i = 0; i < length; ++i) v = v << 8 | data[i];
        out += key + "=#" + std::to_string(static_cast<int32_t>(v)) + "\n";
        break;
      }
      case ConfigKind::String:
        out += key + "=" + std::string(reinterpret_cast<const char*>(data), length ? length - 1 : 0) + "\n";
        break;
      case ConfigKind::WString: {
        std::string text;
        for (uint32_t i = 0; i + 1 < length; i += 2) {
          const uint32_t unit = static_cast<uint32_t>(data[i]) | static_cast<uint32_t>(data[i + 1]) << 8;
          if (unit == 0) break;
          text += static_cast<char>(unit < 0x80 ? unit : '?');
        }
        out += key + "=u'" + text + "'\n";
        break;
      }
      default:
        out += key + "=<" + std::to_string(length) + " bytes>\n";
        break;
    }
  }
  for (int i = 0; i < folderCount; ++i) {
    if (ConfigOpenPath(h, folders[i].c_str(), 0, false) != kOk) continue;
    const std::string inside = DumpTree(h, prefix + folders[i] + "/");
    out += inside.empty() ? prefix + folders[i] + "/\n" : inside;
    ConfigClose(h, false);
  }
  return out;
}

// The bytes as one data block queued on `queue` (module: tests).
inline void QueueBytes(Queue* queue, const std::string& bytes, uint32_t module) {
  UtilDataChunkAppend(queue, reinterpret_cast<const uint8_t*>(bytes.data()),
                      static_cast<uint32_t>(bytes.size()), module);
}

// The section as the reader's open answer gives it, released after reading;
// "(not opened)" when the reader has no such answer.
inline std::string DumpOpened(const Recorder& reader) {
  for (const Received& r : reader.log)
    if (r.message == ConfigMsg::Opened && r.arg1 == kOk) {
      auto* h = reinterpret_cast<ConfigHandle*>(r.arg2);
      const std::string out = DumpTree(h);
      ConfigRelease(&h);
      return out;
    }
  return "(not opened)";
}

// What the provisioning and channel tests stand on: the service rows, the
// settings store, a URL task with a session for the requester, and a task
// that reads sections back. `pump` runs the engine's ring.
struct ServiceStage {
  std::unique_ptr<Recorder> starter, requester, reader;
  UrlTaskContext* urlTask = nullptr;
  UrlSession* session = nullptr;

  void Start(const std::function<void()>& pump) {
    ServiceRowsInstall();
    starter = std::make_unique<Recorder>(Mod::UiStart);
    requester = std::make_unique<Recorder>(Mod::TestHarness);
    reader = std::make_unique<Recorder>(Mod::TestCode);
    pump();
    ASSERT_EQ(ConfigStart(starter->task()), kOk);
    ASSERT_EQ(UrlStartTask(&urlTask, starter->task()), kOk);
    ASSERT_EQ(UrlSessionCreate(&session, requester->task()), kOk);
    pump();
  }
  void Stop(const std::function<void()>& pump) {
    UrlSessionDestroy(session);
    UrlStopTask(urlTask);
    pump();
    ConfigStop();
    pump();
    ServiceRowsRemove();
    starter.reset();
    requester.reset();
    reader.reset();
  }
  // The section as the store has it.
  std::string Read(const char* section, const std::function<void()>& pump) {
    reader->log.clear();
    ConfigOpen(reader->task(), section, false);
    pump();
    return DumpOpened(*reader);
  }
};
