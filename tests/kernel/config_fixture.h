// An engine in a fresh, empty working folder, where the storage classes
// keep their files; the folder goes, and the quotas come back, afterwards.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kernel/ubstore.h"
#include "tests/support/engine_fixture.h"

class WorkDirFixture : public EngineFixture {
 protected:
  explicit WorkDirFixture(uint32_t heapBytes = 1u << 20) : EngineFixture(heapBytes) {}

  void SetUp() override {
    EngineFixture::SetUp();
    old_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "qor_cfg_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    std::filesystem::current_path(dir_);
  }

  void TearDown() override {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
    const char* names[] = {"access", "page", "persistent", "repository"};
    const int32_t quotas[] = {8000, 8000, 12500, 8000};
    for (int i = 0; i < 4; ++i) UbstoreSetQuota(names[i], quotas[i]);
    EngineFixture::TearDown();
  }

  static std::vector<uint8_t> ReadFile(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
  }
  static void WriteFile(const char* name, const std::vector<uint8_t>& bytes) {
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  static bool Exists(const char* name) { return std::filesystem::exists(name); }

  std::filesystem::path dir_;

 private:
  std::filesystem::path old_;
};
