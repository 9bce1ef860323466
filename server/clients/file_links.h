// SPDX-License-Identifier: MIT
#pragma once
// Links into clients' file servers: download links of shared files (with the
// download token the owner's file server checks) and the "share files here"
// link that opens a user's own share page on 127.0.0.1.
//
// Functions over the session table; thread-safe.

#include <string>

#include "server/sessions/session_table.h"
#include "server/store/catalogue_store.h"

namespace vantrel::server {

// "http://HOST:PORT/getfile/?fileid=ID&username=NAME&@token=TOKEN", or "" when
// the owner has no session. The token, sealed with the owner's session key, is
// "REQUESTER$GROUP": the address the download will come from and the group the
// file was shared under. When requester and owner sit behind the same address,
// the owner is reached at the address its client reported.
std::string downloadUrl(const SessionTable& sessions, const FileRow& file, const std::string& requesterIp,
                        const std::string& requesterName);

// downloadUrl for a browser: the path ends with the file's name
// ("/getfile/Night%20Train.mp3?fileid=…"), so the browser saves the file under
// its own name. The file server goes by the first path segment and "fileid",
// so the name changes nothing there. Names too long for the file server's
// request line keep the plain link; the client's download manager, whose
// target is short, always gets the plain one from downloadUrl.
std::string browserDownloadUrl(const SessionTable& sessions, const FileRow& file, const std::string& requesterIp,
                               const std::string& requesterName);

// The share page of the user's own client, or "" without a session.
std::string shareFilesUrl(const ClientSession& session, int64_t dirId, int64_t groupId, const std::string& groupName,
                          const std::string& groupDirName);

}  // namespace vantrel::server
