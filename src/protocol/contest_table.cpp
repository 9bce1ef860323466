// SPDX-License-Identifier: MIT
#include "protocol/contest_table.h"

#include <strings.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "platform/durable_file.h"

namespace vantrel {

void CContestEntry::store(ArchiveWriter& out) const {
  out.writeI32(files);
  out.writeI32(kilobytes);
  out.writeI32(nextKilobytesMilestone);
  out.writeI32(nextFilesMilestone);
  out.writeI32(points);
}

void CContestEntry::load(ArchiveReader& in) {
  files = in.readI32();
  kilobytes = in.readI32();
  nextKilobytesMilestone = in.readI32();
  nextFilesMilestone = in.readI32();
  points = in.readI32();
}

Milestone kilobytesMilestone(int m) {
  struct Row { int at, award, next; };
  static constexpr Row kTable[] = {
      {500, 1, 1000},      {1000, 2, 2000},      {2000, 3, 5000},       {5000, 4, 10000},
      {10000, 5, 20000},   {20000, 6, 50000},    {50000, 7, 100000},    {100000, 8, 200000},
      {200000, 9, 500000}, {500000, 10, 1000000},
  };
  if (m < 500) return {0, 500};
  for (const Row& r : kTable) {
    if (r.at == m) return {r.award, r.next};
  }
  // Past the table nothing is earned; doubling keeps the milestone moving
  // without wrapping into the negative.
  return {0, m > (1 << 30) ? m : 2 * m};
}

Milestone filesMilestone(int m) {
  struct Row { int at, award, next; };
  static constexpr Row kTable[] = {{1, 1, 2}, {2, 2, 5}, {5, 3, 10}, {10, 4, 20}, {20, 5, 50}, {50, 6, 100}};
  for (const Row& r : kTable) {
    if (r.at == m) return {r.award, r.next};
  }
  return {0, m > (1 << 30) ? m : (m < 1 ? 1 : 2 * m)};
}

std::filesystem::path ContestTable::contestFile(const std::filesystem::path& home, std::string_view user) {
  return home / (std::string(user) + "extra.dat");
}

void ContestTable::setLocalAddress(std::string address) {
  std::scoped_lock lock(m_mutex);
  m_localAddress = std::move(address);
}

void ContestTable::AwardTransfer(int kilobytes, int files, std::string_view remoteAddress) {
  std::scoped_lock lock(m_mutex);
  if (remoteAddress.size() == m_localAddress.size() &&
      ::strncasecmp(remoteAddress.data(), m_localAddress.data(), remoteAddress.size()) == 0) {
    return;
  }
  auto it = m_entries.find(remoteAddress);
  if (it == m_entries.end()) {
    CContestEntry fresh;
    fresh.kilobytes = kilobytes;
    fresh.files = files;
    it = m_entries.emplace(std::string(remoteAddress), fresh).first;
  } else {
    it->second.kilobytes += kilobytes;
    it->second.files += files;
  }
  CContestEntry& e = it->second;
  // One milestone of each kind per transfer at most.
  if (e.kilobytes >= e.nextKilobytesMilestone) {
    const Milestone m = kilobytesMilestone(e.nextKilobytesMilestone);
    e.points += m.award;
    m_total += m.award;
    e.nextKilobytesMilestone = m.next;
  }
  if (e.files >= e.nextFilesMilestone) {
    const Milestone m = filesMilestone(e.nextFilesMilestone);
    e.points += m.award;
    m_total += m.award;
    e.nextFilesMilestone = m.next;
  }
}

bool ContestTable::LoadContest(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ClassRegistry classes;
  classes.add<CContestEntry>();
  ArchiveReader reader(bytes, &classes);
  // Entry: address string (at least 1 byte) and an object tag (at least 2).
  const uint32_t count = reader.readCount(3);
  std::vector<std::pair<std::string, CContestEntry>> loaded;
  for (uint32_t i = 0; i < count && reader.ok(); ++i) {
    std::string address = reader.readString();
    std::unique_ptr<CContestEntry> entry = reader.readNew<CContestEntry>();
    if (!reader.ok() || !entry) break;
    loaded.emplace_back(std::move(address), *entry);
  }
  if (!reader.ok()) return false;  // a malformed file changes nothing

  std::scoped_lock lock(m_mutex);
  for (auto& [address, entry] : loaded) m_entries[address] = entry;
  m_total = 0;
  for (const auto& [address, entry] : m_entries) m_total += entry.points;
  return true;
}

bool ContestTable::SaveContest(const std::filesystem::path& file) const {
  ArchiveWriter writer;
  {
    std::scoped_lock lock(m_mutex);
    writer.writeCount(static_cast<uint32_t>(m_entries.size()));
    for (const auto& [address, entry] : m_entries) {
      writer.writeString(address);
      writer.writeObject(entry);
    }
  }
  return replaceFileDurably(file.string(), writer.bytes()).empty();
}

int ContestTable::ContestTotal() const {
  std::scoped_lock lock(m_mutex);
  return m_total;
}

CContestEntry ContestTable::entry(std::string_view address) const {
  std::scoped_lock lock(m_mutex);
  const auto it = m_entries.find(address);
  if (it == m_entries.end()) {
    CContestEntry none;
    none.nextFilesMilestone = 0;
    none.nextKilobytesMilestone = 0;
    return none;
  }
  return it->second;
}

}  // namespace vantrel
