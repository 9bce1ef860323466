// SPDX-License-Identifier: MIT
#pragma once
// Providers with fixed data, for rendering pages without a running client:
// the page tool's preview and the tests. TableProvider answers commands from
// a table of values; SampleProviders offers a sample "client" and a "command"
// provider that reads the request it renders for.
//
// Not thread-safe; each belongs to one rendering.

#include <map>
#include <memory>
#include <string>

#include "templates/data_provider.h"
#include "templates/render_request.h"

namespace vantrel::templates {

// Exec writes a command's value, Eval yields it; names the table lacks get
// the command-unknown text (and 0 from Eval). Names are stored in lower case.
class TableProvider : public DataProvider {
 public:
  void set(std::string name, TemplateValue value);
  // A sub-provider reached with Select; owned by this one.
  TableProvider& child(std::string name);

  void Exec(std::string_view name, OutputSink& out, TemplateArgs args) override;
  DataProvider* Select(std::string_view name, OutputSink& out, TemplateArgs args) override;
  void Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs args) override;

 private:
  std::map<std::string, TemplateValue, std::less<>> m_values;
  std::map<std::string, std::unique_ptr<TableProvider>, std::less<>> m_children;
};

class SampleProviders : public ProviderFactory {
 public:
  std::unique_ptr<DataProvider> create(std::string_view name, RenderRequest& request) override;
};

// A request with fixed parameters, as a sample client sends it.
class SampleRequest : public RenderRequest {
 public:
  explicit SampleRequest(std::string peer = "127.0.0.1") : m_peer(std::move(peer)) {}
  void add(std::string name, std::string value) { m_params.emplace_back(std::move(name), std::move(value)); }

  std::string peerAddress() const override { return m_peer; }
  void forEachParameter(const std::function<void(std::string_view, std::string_view)>& visit) const override;

 private:
  std::string m_peer;
  std::vector<std::pair<std::string, std::string>> m_params;
};

}  // namespace vantrel::templates
