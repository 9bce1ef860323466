// SPDX-License-Identifier: MIT
#pragma once
// ClientProviders makes the named providers of the environment root over the
// running client (ClientFacts). ClientEnvRoot is the whole root of a
// rendering for the client's pages: the named providers, made on first
// selection and kept for the rendering, and up to ten directory browsers
// that "getDirectory" makes and "directory(n)" selects.
//
// A root belongs to one rendering and its thread; the factory is stateless
// and may serve many renderings at once. Facts and request outlive both.

#include <array>
#include <map>
#include <memory>
#include <string>

#include "templates/data_provider.h"
#include "templates/render_request.h"
#include "providers/client_facts.h"

namespace vantrel::providers {

class ClientProviders : public templates::ProviderFactory {
 public:
  explicit ClientProviders(const ClientFacts& facts) : m_facts(facts) {}
  std::unique_ptr<templates::DataProvider> create(std::string_view name, templates::RenderRequest& request) override;

 private:
  const ClientFacts& m_facts;
};

class ClientEnvRoot : public templates::DataProvider {
 public:
  static constexpr int kMaxDirectories = 10;

  ClientEnvRoot(const ClientFacts& facts, templates::RenderRequest& request);

  void Exec(std::string_view name, templates::OutputSink& out, templates::TemplateArgs args) override;
  templates::DataProvider* Select(std::string_view name, templates::OutputSink& out,
                                  templates::TemplateArgs args) override;
  void Eval(templates::TemplateValue& result, std::string_view name, templates::OutputSink& out,
            templates::TemplateArgs args) override;

 private:
  const ClientFacts& m_facts;
  templates::RenderRequest& m_request;
  ClientProviders m_factory;
  std::map<std::string, std::unique_ptr<templates::DataProvider>, std::less<>> m_providers;
  std::array<std::unique_ptr<templates::DataProvider>, kMaxDirectories> m_directories;
  int m_directoryCount = 0;
};

}  // namespace vantrel::providers
