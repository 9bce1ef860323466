// SPDX-License-Identifier: MIT
// Writing and reading 100,000 records shaped like shared files: the whole list
// is saved after every change, so one save and one load must stay well under
// a user's patience (the target is 300 ms each).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "core/archive.h"

namespace {

using namespace vantrel;

struct SharedRecord : ArchiveObject {
  static constexpr ArchiveClass kArchiveClass{"CVantreldFile", 1};
  std::string fileName, localPath, description, groupName, groupDirPath;
  int32_t creationTime = 0, fileSize = 0, fileId = -1, groupId = -1, downloadCount = 0, dirId = -1;

  ArchiveClass archiveClass() const override { return kArchiveClass; }
  void store(ArchiveWriter& out) const override {
    out.writeString(fileName);
    out.writeString(localPath);
    out.writeString(description);
    out.writeI32(creationTime);
    out.writeI32(fileSize);
    out.writeI32(fileId);
    out.writeI32(groupId);
    out.writeString(groupName);
    out.writeString(groupDirPath);
    out.writeI32(downloadCount);
    out.writeI32(dirId);
    out.writeCount(0);
  }
  void load(ArchiveReader& in) override {
    fileName = in.readString();
    localPath = in.readString();
    description = in.readString();
    creationTime = in.readI32();
    fileSize = in.readI32();
    fileId = in.readI32();
    groupId = in.readI32();
    groupName = in.readString();
    groupDirPath = in.readString();
    downloadCount = in.readI32();
    dirId = in.readI32();
    if (in.readCount() != 0) in.fail(ArchiveError::BadLength);
  }
};

constexpr int kRecords = 100000;

std::vector<std::unique_ptr<SharedRecord>> makeRecords() {
  std::vector<std::unique_ptr<SharedRecord>> records;
  records.reserve(kRecords);
  for (int i = 0; i < kRecords; ++i) {
    auto r = std::make_unique<SharedRecord>();
    r->fileName = "holiday-" + std::to_string(i) + ".jpg";
    r->localPath = "/home/someone/Pictures/2026/holiday/" + r->fileName;
    r->groupName = "Travel";
    r->groupDirPath = "Travel : Summer";
    r->fileId = 100000 + i;
    r->fileSize = 1 << 20;
    records.push_back(std::move(r));
  }
  return records;
}

std::vector<uint8_t> writeAll(const std::vector<std::unique_ptr<SharedRecord>>& records) {
  ArchiveWriter out;
  out.reserve(records.size() * 110);
  out.writeCount(0);
  out.writeI32(0);
  out.writeI32(100);
  out.writeCount(static_cast<uint32_t>(records.size()));
  for (const auto& r : records) {
    out.writeI32(r->fileId);
    out.writeObject(*r);
  }
  return out.release();
}

void BM_WriteSharedRecords(benchmark::State& state) {
  const auto records = makeRecords();
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto data = writeAll(records);
    bytes = data.size();
    benchmark::DoNotOptimize(data.data());
  }
  state.counters["archive_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_WriteSharedRecords)->Unit(benchmark::kMillisecond);

void BM_ReadSharedRecords(benchmark::State& state) {
  const auto data = writeAll(makeRecords());
  ClassRegistry classes;
  classes.add<SharedRecord>();
  for (auto _ : state) {
    ArchiveReader in(data, &classes);
    in.readCount();
    in.readI32();
    in.readI32();
    const uint32_t n = in.readCount(6);
    std::vector<std::unique_ptr<SharedRecord>> records;
    records.reserve(n);
    for (uint32_t i = 0; i < n && in.ok(); ++i) {
      in.readU32();
      records.push_back(in.readNew<SharedRecord>());
    }
    if (!in.ok() || records.size() != kRecords) state.SkipWithError("archive did not read back");
    benchmark::DoNotOptimize(records.data());
  }
}
BENCHMARK(BM_ReadSharedRecords)->Unit(benchmark::kMillisecond);

}  // namespace
