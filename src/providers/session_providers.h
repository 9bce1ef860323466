// SPDX-License-Identifier: MIT
#pragma once
// The providers of the environment root that describe the client and the
// request being answered: "client", "command", "error", "fileInfoRequest" and
// "connectedUsers". Each is made for one rendering when first selected and
// reads what it needs then (the connected users as a sorted snapshot, the
// requested file as a copy of its record) or live at each command.
//
// Owned by the environment root of their rendering; used on its thread. The
// facts and the request must outlive them.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/vantreld_file.h"
#include "templates/data_provider.h"
#include "templates/render_request.h"
#include "providers/client_facts.h"

namespace vantrel::providers {

using templates::DataProvider;
using templates::OutputSink;
using templates::TemplateArgs;
using templates::TemplateValue;

// Shared by providers without sub-providers.
class LeafProvider : public DataProvider {
 public:
  DataProvider* Select(std::string_view, OutputSink&, TemplateArgs) override { return nullptr; }
};

class ClientProvider : public LeafProvider {
 public:
  explicit ClientProvider(const ClientFacts& facts) : m_facts(facts) {}
  void Exec(std::string_view name, OutputSink& out, TemplateArgs args) override;
  void Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs args) override;

 private:
  const ClientFacts& m_facts;
};

// The template files that pages may link to by their template names.
std::optional<std::string_view> templateFileFor(std::string_view templateName);

// Beside the request commands, "resultDone" and "resultFailed" (as values and
// as text) count what the command behind a result page did and could not do.
class CommandProvider : public LeafProvider {
 public:
  CommandProvider(const ClientFacts& facts, templates::RenderRequest& request);
  void Exec(std::string_view name, OutputSink& out, TemplateArgs args) override;
  void Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs args) override;

 private:
  const ClientFacts& m_facts;
  templates::RenderRequest& m_request;
  const std::string m_peer;
};

class ErrorProvider : public LeafProvider {
 public:
  ErrorProvider(const ClientFacts& facts, templates::RenderRequest& request);
  void Exec(std::string_view name, OutputSink& out, TemplateArgs args) override;
  void Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs args) override;

 private:
  int m_code = 0;
  std::string m_title;
  std::string m_message;
  std::string m_link;
};

// "fileExists" yields 1 when the request names a shared file, so a page can
// tell a file that is gone from one whose fields happen to be empty.
class FileInfoProvider : public LeafProvider {
 public:
  FileInfoProvider(const ClientFacts& facts, templates::RenderRequest& request);
  void Exec(std::string_view name, OutputSink& out, TemplateArgs args) override;
  void Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs args) override;

 private:
  int32_t m_fileId = -1;
  std::optional<CVantreldFile> m_file;
};

// "isThisComputer" yields 1 when the current session comes from this computer
// (its own address or loopback): the owner's own page views.
class ConnectedUsersProvider : public LeafProvider {
 public:
  explicit ConnectedUsersProvider(const ClientFacts& facts);
  void Exec(std::string_view name, OutputSink& out, TemplateArgs args) override;
  void Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs args) override;

 private:
  const ClientFacts& m_facts;
  std::vector<std::shared_ptr<UploadSession>> m_sessions;  // by peer address, ascending
  size_t m_next = 0;
  UploadSession* m_current = nullptr;
};

}  // namespace vantrel::providers
