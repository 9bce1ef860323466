// SPDX-License-Identifier: MIT
#include "providers/client_env_root.h"

#include "providers/directory_browser.h"
#include "providers/session_providers.h"
#include "providers/shared_file_providers.h"

namespace vantrel::providers {

std::unique_ptr<templates::DataProvider> ClientProviders::create(std::string_view name,
                                                                 templates::RenderRequest& request) {
  if (name == "client") return std::make_unique<ClientProvider>(m_facts);
  if (name == "command") return std::make_unique<CommandProvider>(m_facts, request);
  if (name == "error") return std::make_unique<ErrorProvider>(m_facts, request);
  if (name == "fileinforequest") return std::make_unique<FileInfoProvider>(m_facts, request);
  if (name == "connectedusers") return std::make_unique<ConnectedUsersProvider>(m_facts);
  if (name == "shareddir") return std::make_unique<SharedDirProvider>(m_facts, request);
  if (name == "sharedfile") return std::make_unique<SharedFileProvider>(m_facts, request);
  if (name == "sharedgroup") return std::make_unique<SharedGroupProvider>(m_facts, request);
  return nullptr;
}

ClientEnvRoot::ClientEnvRoot(const ClientFacts& facts, templates::RenderRequest& request)
    : m_facts(facts), m_request(request), m_factory(facts) {}

void ClientEnvRoot::Exec(std::string_view name, templates::OutputSink& out, templates::TemplateArgs args) {
  if (name == "output") {
    out.Write("output only");
    return;
  }
  templates::TemplateValue value;
  Eval(value, name, out, args);
  std::string text;
  value.appendText(text);
  out.Write(text);
}

templates::DataProvider* ClientEnvRoot::Select(std::string_view name, templates::OutputSink& out,
                                               templates::TemplateArgs args) {
  if (name == "directory") {
    if (args.size() != 1 || args[0].type() != templates::TemplateValue::Type::Integer) {
      out.Write("Directory requires a directory argument, ie. directory(4)");
      return nullptr;
    }
    const int32_t n = args[0].integerValue();
    // Only browsers made in this rendering: anything else selects none.
    if (n < 0 || n >= m_directoryCount) return nullptr;
    return m_directories[static_cast<size_t>(n)].get();
  }
  auto it = m_providers.find(name);
  if (it != m_providers.end()) return it->second.get();
  std::unique_ptr<templates::DataProvider> provider = m_factory.create(name, m_request);
  if (!provider) return nullptr;
  return m_providers.emplace(std::string(name), std::move(provider)).first->second.get();
}

void ClientEnvRoot::Eval(templates::TemplateValue& result, std::string_view name, templates::OutputSink& out,
                         templates::TemplateArgs) {
  if (name == "getdirectory") {
    if (m_directoryCount >= kMaxDirectories) {
      result.setInteger(-1);  // the table is full: "directory(-1)" selects none
      return;
    }
    m_directories[static_cast<size_t>(m_directoryCount)] = std::make_unique<DirectoryBrowser>(m_facts, m_request);
    result.setInteger(m_directoryCount++);
    return;
  }
  out.Write(templates::commandUnknownText(name));
  result.setInteger(0);
}

}  // namespace vantrel::providers
