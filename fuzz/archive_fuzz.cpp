// SPDX-License-Identifier: MIT
// Reads arbitrary bytes as each of the client's archive layouts (the first byte
// picks one): the shared-file list, the page archive, the contest map and a
// bare object stream. Nothing may crash, hang or allocate past the input; and
// whatever reads cleanly must read the same after being written back.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/archive.h"

namespace {

using namespace vantrel;

struct FileRecord : ArchiveObject {
  static constexpr ArchiveClass kArchiveClass{"CVantreldFile", 1};
  std::string texts[5];
  int32_t numbers[6] = {};
  std::vector<std::unique_ptr<ArchiveObject>> extras;

  ArchiveClass archiveClass() const override { return kArchiveClass; }
  void store(ArchiveWriter& out) const override {
    out.writeString(texts[0]);
    out.writeString(texts[1]);
    out.writeString(texts[2]);
    for (int i = 0; i < 4; ++i) out.writeI32(numbers[i]);
    out.writeString(texts[3]);
    out.writeString(texts[4]);
    out.writeI32(numbers[4]);
    out.writeI32(numbers[5]);
    out.writeCount(static_cast<uint32_t>(extras.size()));
    for (const auto& e : extras) out.writeObject(*e);
  }
  void load(ArchiveReader& in) override {
    texts[0] = in.readString();
    texts[1] = in.readString();
    texts[2] = in.readString();
    for (int i = 0; i < 4; ++i) numbers[i] = in.readI32();
    texts[3] = in.readString();
    texts[4] = in.readString();
    numbers[4] = in.readI32();
    numbers[5] = in.readI32();
    const uint32_t n = in.readCount(2);
    for (uint32_t i = 0; i < n && in.ok(); ++i) {
      ArchiveReader::ObjectTag tag;
      auto object = in.readObject(&tag);
      // Only new objects can be owned here; a reference would be shared.
      if (in.ok() && tag.kind != ArchiveReader::ObjectTag::Kind::New) in.fail(ArchiveError::BadIndex);
      if (object) extras.push_back(std::move(object));
    }
  }
  bool operator==(const FileRecord& o) const {
    for (int i = 0; i < 5; ++i)
      if (texts[i] != o.texts[i]) return false;
    for (int i = 0; i < 6; ++i)
      if (numbers[i] != o.numbers[i]) return false;
    return extras.size() == o.extras.size();
  }
};

struct PageEntry : ArchiveObject {
  static constexpr ArchiveClass kArchiveClass{"CFileArchiveEntry", 0};
  uint32_t words[3] = {};
  std::vector<uint8_t> content;

  ArchiveClass archiveClass() const override { return kArchiveClass; }
  void store(ArchiveWriter& out) const override {
    out.writeI32(static_cast<int32_t>(content.size()));
    for (uint32_t w : words) out.writeU32(w);
    out.writeBytes(content);
  }
  void load(ArchiveReader& in) override {
    const int32_t length = in.readI32();
    for (uint32_t& w : words) w = in.readU32();
    if (length < 0) {
      in.fail(ArchiveError::BadLength);
      return;
    }
    if (!in.requireElements(static_cast<uint32_t>(length), 1)) return;
    const auto bytes = in.readBytes(static_cast<uint32_t>(length));
    content.assign(bytes.begin(), bytes.end());
  }
  bool operator==(const PageEntry& o) const {
    return content == o.content && words[0] == o.words[0] && words[1] == o.words[1] && words[2] == o.words[2];
  }
};

struct ContestEntry : ArchiveObject {
  static constexpr ArchiveClass kArchiveClass{"CContestEntry", 1};
  int32_t values[5] = {};
  ArchiveClass archiveClass() const override { return kArchiveClass; }
  void store(ArchiveWriter& out) const override {
    for (int32_t v : values) out.writeI32(v);
  }
  void load(ArchiveReader& in) override {
    for (int32_t& v : values) v = in.readI32();
  }
  bool operator==(const ContestEntry& o) const {
    for (int i = 0; i < 5; ++i)
      if (values[i] != o.values[i]) return false;
    return true;
  }
};

const ClassRegistry& classes() {
  static const ClassRegistry registry = [] {
    ClassRegistry r;
    r.add<FileRecord>();
    r.add<PageEntry>();
    r.add<ContestEntry>();
    return r;
  }();
  return registry;
}

template <class Key, class T>
struct Parsed {
  int32_t header[2] = {};
  std::vector<std::pair<Key, std::unique_ptr<T>>> entries;
  bool operator==(const Parsed& o) const {
    if (header[0] != o.header[0] || header[1] != o.header[1] || entries.size() != o.entries.size()) return false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].first != o.entries[i].first || !(*entries[i].second == *o.entries[i].second)) return false;
    }
    return true;
  }
};

// The shared-file list: empty object array, counter, format, then key + record.
bool readList(std::span<const uint8_t> data, Parsed<uint32_t, FileRecord>& out) {
  ArchiveReader in(data, &classes());
  if (in.readCount() != 0) in.fail(ArchiveError::BadLength);
  out.header[0] = in.readI32();
  out.header[1] = in.readI32();
  const uint32_t n = in.readCount(6);
  for (uint32_t i = 0; i < n && in.ok(); ++i) {
    const uint32_t key = in.readU32();
    auto record = in.readNew<FileRecord>();
    if (record) out.entries.emplace_back(key, std::move(record));
  }
  return in.ok();
}

std::vector<uint8_t> writeList(const Parsed<uint32_t, FileRecord>& list) {
  ArchiveWriter out;
  out.writeCount(0);
  out.writeI32(list.header[0]);
  out.writeI32(list.header[1]);
  out.writeCount(static_cast<uint32_t>(list.entries.size()));
  for (const auto& [key, record] : list.entries) {
    out.writeU32(key);
    out.writeObject(*record);
  }
  return out.release();
}

// The page archive and the contest map: a version or nothing, then name + object.
template <class T>
bool readNamed(std::span<const uint8_t> data, bool withVersion, Parsed<std::string, T>& out) {
  ArchiveReader in(data, &classes());
  if (withVersion) out.header[0] = in.readI32();
  const uint32_t n = in.readCount(3);
  for (uint32_t i = 0; i < n && in.ok(); ++i) {
    std::string name = in.readString();
    auto object = in.readNew<T>();
    if (object) out.entries.emplace_back(std::move(name), std::move(object));
  }
  return in.ok();
}

template <class T>
std::vector<uint8_t> writeNamed(const Parsed<std::string, T>& parsed, bool withVersion) {
  ArchiveWriter out;
  if (withVersion) out.writeI32(parsed.header[0]);
  out.writeCount(static_cast<uint32_t>(parsed.entries.size()));
  for (const auto& [name, object] : parsed.entries) {
    out.writeString(name);
    out.writeObject(*object);
  }
  return out.release();
}

template <class Parsed, class Read, class Write>
void roundTrip(std::span<const uint8_t> data, Read read, Write write) {
  Parsed first;
  if (!read(data, first)) return;
  const std::vector<uint8_t> again = write(first);
  Parsed second;
  if (!read(again, second) || !(first == second)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::span<const uint8_t> body(data + 1, size - 1);
  switch (data[0] % 4) {
    case 0:
      roundTrip<Parsed<uint32_t, FileRecord>>(body, readList, writeList);
      break;
    case 1:
      roundTrip<Parsed<std::string, PageEntry>>(
          body, [](auto d, auto& p) { return readNamed(d, true, p); },
          [](const auto& p) { return writeNamed(p, true); });
      break;
    case 2:
      roundTrip<Parsed<std::string, ContestEntry>>(
          body, [](auto d, auto& p) { return readNamed(d, false, p); },
          [](const auto& p) { return writeNamed(p, false); });
      break;
    default: {
      ArchiveReader in(body, &classes());
      while (in.ok() && !in.atEnd()) in.readObject();
      break;
    }
  }
  return 0;
}
