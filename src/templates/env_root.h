// SPDX-License-Identifier: MIT
#pragma once
// EnvRoot: the environment root of one rendering, the provider at the start
// of every "env" path. Its own commands need no live data; every named
// sub-provider comes from the ProviderFactory, is made on its first selection
// and kept for the rest of the rendering, so cursors persist across a page.
//
// Owns every provider it made; request and factory must outlive it. Used on
// the rendering thread only.

#include <map>
#include <memory>
#include <string>

#include "templates/data_provider.h"
#include "templates/render_request.h"

namespace vantrel::templates {

class EnvRoot : public DataProvider {
 public:
  EnvRoot(RenderRequest& request, ProviderFactory* factory) : m_request(request), m_factory(factory) {}

  void Exec(std::string_view name, OutputSink& out, TemplateArgs args) override;
  DataProvider* Select(std::string_view name, OutputSink& out, TemplateArgs args) override;
  void Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs args) override;

 private:
  RenderRequest& m_request;
  ProviderFactory* m_factory;
  std::map<std::string, std::unique_ptr<DataProvider>, std::less<>> m_providers;
};

}  // namespace vantrel::templates
