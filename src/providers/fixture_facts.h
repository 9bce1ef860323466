// SPDX-License-Identifier: MIT
#pragma once
// FixtureFacts: a ClientFacts with fixed values and a shared-file list in a
// scratch folder, for the tests, the page benchmark and the browser test.
// Tokens are readable ("token:<address>") and "encryption" reverses the text,
// so pages can be checked without a session key; a test that needs real
// tokens sets `tokenMaker` and `encrypter`.
//
// Fields may be set before rendering starts; during renderings only the
// sessions vector is read (under its mutex).

#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "catalogue/shared_file_list.h"
#include "providers/client_facts.h"
#include "state/upload_session.h"

namespace vantrel::providers {

class FixtureFacts : public ClientFacts {
 public:
  explicit FixtureFacts(std::string archivePath) : files(std::move(archivePath)) {}

  std::string ownAddress() const override { return own; }
  int fileServerPort() const override { return port; }
  std::string userName() const override { return user; }
  std::string serverAddress() const override { return server; }
  int serverPort() const override { return serverPortNumber; }
  int activeUploads() const override { return active; }
  int peakUploads() const override { return peak; }
  int filesSent() const override { return sent; }
  uint32_t currentRate() const override { return rate; }
  uint32_t peakRate() const override { return topRate; }
  std::string totalSentText() const override { return totalSent; }
  int64_t totalBytesSent() const override { return totalBytes; }
  int maxUsersEnforced() const override { return enforcedMaxUsers; }
  int maxPerUserEnforced() const override { return enforcedMaxPerUser; }
  std::optional<int32_t> setting(std::string_view name) const override {
    if (name == "contype") return contype;
    if (name == "maxusers") return maxUsers;
    if (name == "maxusrband") return maxUserBand;
    return std::nullopt;
  }
  std::vector<std::shared_ptr<UploadSession>> sessions() const override {
    std::scoped_lock lock(mutex);
    return sessionList;
  }
  std::size_t sessionCount() const override {
    std::scoped_lock lock(mutex);
    return sessionList.size();
  }
  SharedFileList& sharedFiles() const override { return files; }
  std::string encryptText(std::string_view plain) const override {
    return encrypter ? encrypter(plain) : std::string(plain.rbegin(), plain.rend());
  }
  std::string makeToken(std::string_view text) const override {
    return tokenMaker ? tokenMaker(text) : "token:" + std::string(text);
  }
  std::string homeDirectory() const override { return home; }

  // Adds a session from `peer` with a user name and the file it is sending.
  std::shared_ptr<UploadSession> addSession(const std::string& peer, const std::string& name, int32_t fileId = -1) {
    std::scoped_lock lock(mutex);
    auto s = std::make_shared<UploadSession>(static_cast<int32_t>(sessionList.size() + 1));
    s->setPeerAddress(peer);
    s->setUserName(name);
    s->fileId = fileId;
    sessionList.push_back(s);
    return s;
  }

  std::string own = "192.168.1.10";
  int port = 8323;
  std::string user = "alice";
  std::string server = "central.example";
  int serverPortNumber = 80;
  int active = 1;
  int peak = 3;
  int sent = 42;
  uint32_t rate = 12345;
  uint32_t topRate = 99999;
  std::string totalSent = "12.5 Megs";
  int64_t totalBytes = 13107200;
  int enforcedMaxUsers = 12;  // the stored "maxusers" below says otherwise
  int enforcedMaxPerUser = 3;
  std::optional<int32_t> contype = 3;
  std::optional<int32_t> maxUsers = 10;
  std::optional<int32_t> maxUserBand = 20000;
  std::string home = "/";
  std::function<std::string(std::string_view)> tokenMaker;
  std::function<std::string(std::string_view)> encrypter;
  mutable SharedFileList files;
  mutable std::mutex mutex;
  std::vector<std::shared_ptr<UploadSession>> sessionList;  // guarded by mutex
};

// A record for the fixture list.
inline CVantreldFile fixtureFile(int32_t id, std::string path, int32_t size, int32_t groupId = 1,
                                 std::string group = "Music", std::string groupDir = "") {
  CVantreldFile f(std::move(path));
  f.fileId = id;
  f.fileName = f.localPath.substr(f.localPath.rfind('/') + 1);
  f.fileSize = size;
  f.groupId = groupId;
  f.groupName = std::move(group);
  f.groupDirPath = std::move(groupDir);
  f.creationTime = 1000000000 + id;
  f.downloadCount = id % 7;
  f.description = "file " + std::to_string(id);
  return f;
}

// Replaces the list's records with `records` through its archive, which is
// much faster than one Add (and one save) per record.
inline bool fillFixtureList(SharedFileList& list, const std::vector<CVantreldFile>& records) {
  SharedFileMap map;
  for (const CVantreldFile& r : records) map.set(static_cast<uint32_t>(r.fileId), std::make_unique<CVantreldFile>(r));
  const std::vector<uint8_t> bytes = encodeSharedFileArchive(map, 0);
  std::FILE* f = std::fopen(list.archivePath().c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  std::fclose(f);
  return written && list.Load();
}

}  // namespace vantrel::providers
