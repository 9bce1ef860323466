// SPDX-License-Identifier: MIT
#include "transfers/download_links.h"

#include "protocol/catalogue_listing.h"
#include "protocol/server_channel.h"

namespace vantrel {

FileLink fetchFileLink(ProtocolContext& ctx, int32_t fileId) {
  FileLink link;
  std::string reply;
  ServerChannel channel(ctx);
  const int transport = channel.post("action=getlisting&fileid=" + std::to_string(fileId), reply);
  if (transport != 0) {
    link.code = transport;
    return link;
  }
  const int code = ServerChannel::serverCode(reply);
  if (code != ServerChannel::kResultBase) {
    link.code = code;
    return link;
  }
  for (const auto& entry : ParseListing(reply)) {
    if (entry->type != EntryType::File || entry->id != fileId) continue;
    const auto& file = static_cast<const FileEntry&>(*entry);
    link.url = file.url;
    link.online = file.online != 0;
    link.ownerId = file.ownerId;
    link.name = file.name;
    link.size = file.size;
    return link;
  }
  link.code = FileLink::kNotFound;
  return link;
}

}  // namespace vantrel
