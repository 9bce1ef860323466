// SPDX-License-Identifier: MIT
#include "providers/session_providers.h"

#include <algorithm>
#include <array>
#include <utility>

#include "catalogue/shared_file_list.h"
#include "core/base64.h"
#include "core/error_table.h"
#include "providers/provider_text.h"
#include "settings/settings_store.h"
#include "state/upload_session.h"

namespace vantrel::providers {
namespace {

constexpr std::string_view kWrongType = "Wrong type of argument, need string";
constexpr std::string_view kWrongCount = "Wrong number of arguments";
constexpr std::string_view kTooLong = "Argument too long";
constexpr size_t kMaxArgument = 200;
constexpr size_t kMaxTitle = 200;
constexpr size_t kMaxMessage = 500;

void unknown(OutputSink& out, std::string_view name) { out.Write(templates::commandUnknownText(name)); }

void unknownValue(TemplateValue& result, OutputSink& out, std::string_view name) {
  unknown(out, name);
  result.setInteger(0);
}

// The one string argument of a command, or the failure text to write.
std::optional<std::string_view> stringArgument(TemplateArgs args, OutputSink& out) {
  if (args.size() != 1 || !args[0].isString()) {
    out.Write(kWrongType);
    return std::nullopt;
  }
  if (args[0].text().size() > kMaxArgument) {
    out.Write(kTooLong);
    return std::nullopt;
  }
  return args[0].text();
}

constexpr std::array<std::pair<std::string_view, std::string_view>, 11> kTemplateFiles{{
    {"client_information_template", "client-info_template.html"},
    {"client_connected_users_template", "client-connected_users_template.html"},
    {"client_connected_users_extended_template", "client-connected_users_extended_template.html"},
    {"client_share_files_template", "client-share_files_template.html"},
    {"client_shared_files_in_groups_template", "client-shared_groups_template.html"},
    {"client_shared_files_in_groups_directory_template", "client-shared_groups_directories_template.html"},
    {"client_shared_files_in_directories_template", "client-shared_directories_template.html"},
    {"client_all_shared_files_by_group_template", "client-shared_show_all_by_group_template.html"},
    {"client_all_shared_files_by_directories_template", "client-shared_show_all_by_dirs_template.html"},
    {"client_show_all_shared_files_template", "client-shared_show_all_template.html"},
    {"client_edit_description_template", "client-file_editdesc_template.html"},
}};

// A command's result text is lines ending in "<BR>" around paths and
// addresses from the request: the line breaks stay markup, the rest is text.
std::string resultHtml(const std::string& text) {
  std::string html = htmlEscape(text);
  static constexpr std::string_view kEscapedBreak = "&lt;BR&gt;";
  for (std::size_t at = html.find(kEscapedBreak); at != std::string::npos; at = html.find(kEscapedBreak, at + 4)) {
    html.replace(at, kEscapedBreak.size(), "<BR>");
  }
  return html;
}

}  // namespace

// ---- client ----

void ClientProvider::Exec(std::string_view name, OutputSink& out, TemplateArgs) {
  const ClientFacts& f = m_facts;
  if (name == "admintoken") {
    out.Write(base64Encode(f.encryptText(f.ownAddress() + "$")));
  } else if (name == "downloadusers") {
    writeNumber(out, f.activeUploads());
  } else if (name == "numberofusers") {
    writeNumber(out, static_cast<int64_t>(f.sessionCount()));
  } else if (name == "numberofsharedfiles") {
    writeNumber(out, static_cast<int64_t>(f.sharedFiles().size()));
  } else if (name == "usedbandwidth") {
    out.Write(kilo0(f.currentRate()));
  } else if (name == "connectiontype") {
    const std::optional<int32_t> type = f.setting("contype");
    const auto& labels = SettingsStore::ConnectionTypeNames();
    if (type && *type >= 0 && static_cast<size_t>(*type) < labels.size()) out.Write(labels[static_cast<size_t>(*type)]);
  } else if (name == "maxallowedusers") {
    if (const auto v = f.setting("maxusers")) writeNumber(out, *v);
  } else if (name == "maxbandwidthperuser") {
    if (const auto v = f.setting("maxusrband")) writeNumber(out, *v / 1000);
  } else if (name == "bandwidth") {
    writeNumber(out, SettingsStore::SuggestedMaxBandwidth(f.setting("contype").value_or(0)) / 1000);
  } else if (name == "totalfilesdownloaded") {
    writeNumber(out, f.filesSent());
  } else if (name == "queuesize" || name == "estnextqueuespace") {
    out.Write("test");
  } else if (name == "ip") {
    out.Write(f.ownAddress());
  } else if (name == "port") {
    writeNumber(out, f.fileServerPort());
  } else if (name == "maxbandwidthused") {
    out.Write(kilo0(f.peakRate()));
  } else if (name == "totalksent") {
    out.Write(f.totalSentText());
  } else if (name == "totalsenttext") {
    out.Write(sizeText(f.totalBytesSent()));
  } else if (name == "maxconnectedusers") {
    writeNumber(out, f.peakUploads());
  } else if (name == "username") {
    out.Write(htmlEscape(f.userName()));
  } else if (name == "serveraddress") {
    out.Write(htmlEscape(f.serverAddress()));
  } else if (name == "serverport") {
    writeNumber(out, f.serverPort());
  } else {
    unknown(out, name);
  }
}

void ClientProvider::Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs) {
  if (name == "numberofsharedfiles") {
    result.setInteger(static_cast<int32_t>(m_facts.sharedFiles().size()));
  } else if (name == "downloadusers") {  // also as a value, for a page's plurals
    result.setInteger(m_facts.activeUploads());
  } else {
    unknownValue(result, out, name);
  }
}

// ---- command ----

std::optional<std::string_view> templateFileFor(std::string_view templateName) {
  for (const auto& [name, file] : kTemplateFiles) {
    if (equalsNoCase(name, templateName)) return file;
  }
  return std::nullopt;
}

CommandProvider::CommandProvider(const ClientFacts& facts, templates::RenderRequest& request)
    : m_facts(facts), m_request(request), m_peer(request.peerAddress()) {}

void CommandProvider::Exec(std::string_view name, OutputSink& out, TemplateArgs args) {
  if (name == "data") {
    const UploadSession* session = m_request.session();
    const std::string text = session != nullptr ? session->resultText() : std::string();
    out.Write(text.empty() ? std::string("NULL data") : resultHtml(text));
  } else if (name == "image") {
    if (args.size() != 1) {
      out.Write(kWrongCount);
    } else if (!args[0].isString()) {
      out.Write(kWrongType);
    } else {
      out.Write("/images/" + linkValue(args[0].text()));
    }
  } else if (name == "admintoken") {
    out.Write(m_facts.makeToken(m_peer));
  } else if (name == "outputtemplateurl") {
    if (args.size() != 1) return;
    const std::optional<std::string_view> templateName = stringArgument(args, out);
    if (!templateName) return;
    const std::optional<std::string_view> file = templateFileFor(*templateName);
    out.Write(file ? "/template/" + std::string(*file) : std::string("No such template"));
  } else if (name == "outputencryptedtext") {
    if (const std::optional<std::string_view> text = stringArgument(args, out)) {
      out.Write(base64Encode(m_facts.encryptText(*text)));
    }
  } else if (name == "commanddata") {
    std::string query;
    m_request.forEachParameter([&](std::string_view n, std::string_view v) {
      if (n == "token") {
        // "@" values are read as Base64 without URL decoding: written as they are.
        query += "@token=" + m_facts.makeToken(m_peer) + "&";
      } else {
        query += linkValue(n) + "=" + linkValue(v) + "&";
      }
    });
    out.Write(query);
  } else if (name == "resultdone" || name == "resultfailed") {
    TemplateValue count;
    Eval(count, name, out, args);
    writeNumber(out, count.integerValue());
  } else {
    unknown(out, name);
  }
}

void CommandProvider::Eval(TemplateValue& result, std::string_view name, OutputSink&, TemplateArgs) {
  const UploadSession* session = m_request.session();
  if (name == "resultdone") {
    result.setInteger(session != nullptr ? session->resultDone.load() : 0);
  } else if (name == "resultfailed") {
    result.setInteger(session != nullptr ? session->resultFailed.load() : 0);
  } else {
    result.setInteger(name == "isowner" && equalsNoCase(m_peer, m_facts.ownAddress()) ? 1 : 0);
  }
}

// ---- error ----

ErrorProvider::ErrorProvider(const ClientFacts& facts, templates::RenderRequest& request) {
  const UploadSession* session = request.session();
  m_code = session != nullptr ? session->fileId.load() : 0;
  // The limits named are the ones the file server enforced, not the stored
  // settings, which the automatic connection type overrides.
  ErrorContext context;
  context.maxUsers = facts.maxUsersEnforced();
  context.maxPerUser = facts.maxPerUserEnforced();
  const ErrorText text = lookupError(m_code, context);
  m_title = text.title.substr(0, kMaxTitle);
  m_message = text.message.substr(0, kMaxMessage);
  m_link = text.link;
  if (m_code == err::kSystemError) {
    // The system's own text may carry file names: shown as text, not mark-up.
    const std::string result = session != nullptr ? session->resultText() : std::string();
    m_message = htmlEscape(result.substr(0, kSystemErrorTextMax));
  }
}

void ErrorProvider::Exec(std::string_view name, OutputSink& out, TemplateArgs) {
  if (name == "errortitle") {
    out.Write(m_title);
  } else if (name == "errorcode") {
    writeNumber(out, m_code);
  } else if (name == "errorexplanation") {
    out.Write(m_message);
  } else if (name == "erroroptional") {
    out.Write(m_link);
  }
}

void ErrorProvider::Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs) {
  unknownValue(result, out, name);
}

// ---- fileInfoRequest ----

FileInfoProvider::FileInfoProvider(const ClientFacts& facts, templates::RenderRequest& request) {
  const std::optional<std::string> id = request.parameter("fileid");
  if (!id) return;
  const int32_t fileId = parseNumber(*id, INT32_MIN);
  if (fileId == INT32_MIN) return;
  m_fileId = fileId;
  m_file = facts.sharedFiles().Lookup(fileId);
}

void FileInfoProvider::Exec(std::string_view name, OutputSink& out, TemplateArgs) {
  if (!m_file) {
    out.Write("No requested file");
    return;
  }
  const CVantreldFile& f = *m_file;
  if (name == "filename") {
    out.Write(htmlEscape(f.fileName));
  } else if (name == "filesize") {
    out.Write(kilo0(f.fileSize));
  } else if (name == "date") {
    out.Write(localTime(f.creationTime, kLongDate));
  } else if (name == "sizetext") {
    out.Write(sizeText(f.fileSize));
  } else if (name == "datetext") {
    out.Write(dateText(f.creationTime));
  } else if (name == "filepermissions" || name == "group") {
    out.Write("Not implemented");
  } else if (name == "localdirectory") {
    const size_t slash = f.localPath.rfind('/');
    out.Write(htmlEscape(slash == std::string::npos ? std::string() : f.localPath.substr(0, slash + 1)));
  } else if (name == "filedescription") {
    out.Write(htmlEscape(f.description));
  } else if (name == "filenumberofdownloads") {
    writeNumber(out, f.downloadCount);
  } else if (name == "fileid") {
    writeNumber(out, m_fileId);
  } else {
    unknown(out, name);
  }
}

void FileInfoProvider::Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs) {
  if (name == "fileexists") {
    result.setInteger(m_file ? 1 : 0);
  } else {
    unknownValue(result, out, name);
  }
}

// ---- connectedUsers ----

ConnectedUsersProvider::ConnectedUsersProvider(const ClientFacts& facts) : m_facts(facts), m_sessions(facts.sessions()) {
  std::vector<std::pair<std::string, std::shared_ptr<UploadSession>>> keyed;
  keyed.reserve(m_sessions.size());
  for (auto& s : m_sessions) {
    if (s) keyed.emplace_back(s->peerAddress(), std::move(s));
  }
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const auto& a, const auto& b) { return compareNoCase(a.first, b.first) < 0; });
  m_sessions.clear();
  for (auto& [peer, s] : keyed) m_sessions.push_back(std::move(s));
}

void ConnectedUsersProvider::Exec(std::string_view name, OutputSink& out, TemplateArgs args) {
  if (name == "sort") {
    int code = 0;
    if (args.size() == 1 && args[0].isString()) {
      const std::string column = lowerCase(args[0].text());
      if (column == "ip") code = 1;
      else if (column == "speed") code = 2;
      else if (column == "command") code = 4;
      else if (column == "percentagecomplete") code = 6;
    }
    writeNumber(out, code);
    return;
  }
  static constexpr std::array<std::string_view, 8> kSessionCommands{
      "username", "ip", "request", "bandwidthused", "bytessent", "percentagecomplete", "id", "bytessenttext"};
  if (std::find(kSessionCommands.begin(), kSessionCommands.end(), name) == kSessionCommands.end()) {
    unknown(out, name);
    return;
  }
  if (m_current == nullptr) {
    out.Write("No current session use hasMoreSessions to get the next one");
    return;
  }
  const UploadSession& s = *m_current;
  if (name == "username") out.Write(htmlEscape(s.userName()));
  else if (name == "ip") out.Write(htmlEscape(s.peerAddress()));
  else if (name == "request") out.Write(htmlEscape(s.request()));
  else if (name == "bandwidthused") out.Write(kilo0(s.speed.load()));
  else if (name == "bytessent") writeNumber(out, s.bytesSent.load());
  else if (name == "bytessenttext") out.Write(sizeText(s.bytesSent.load()));
  else if (name == "percentagecomplete") writeNumber(out, s.percentage.load());
  else writeNumber(out, s.sessionId());
}

void ConnectedUsersProvider::Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs) {
  if (name == "hasmoreusers") {
    if (m_next < m_sessions.size()) {
      m_current = m_sessions[m_next++].get();
      result.setInteger(1);
    } else {
      result.setInteger(0);
    }
  } else if (name == "numberofsessions") {
    result.setInteger(static_cast<int32_t>(m_facts.sessionCount()));
  } else if (name == "isdownloading") {
    result.setInteger(m_current != nullptr && m_current->fileId.load() != -1 ? 1 : 0);
  } else if (name == "isthiscomputer") {
    // This computer's own page views: from its own address or from loopback.
    const std::string peer = m_current != nullptr ? m_current->peerAddress() : std::string();
    result.setInteger(!peer.empty() && (equalsNoCase(peer, m_facts.ownAddress()) || peer.rfind("127.", 0) == 0) ? 1 : 0);
  } else {
    unknownValue(result, out, name);
  }
}

}  // namespace vantrel::providers
