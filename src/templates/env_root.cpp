// SPDX-License-Identifier: MIT
#include "templates/env_root.h"

namespace vantrel::templates {

std::optional<std::string> RenderRequest::parameter(std::string_view name) const {
  std::optional<std::string> first;
  forEachParameter([&](std::string_view n, std::string_view value) {
    if (!first && n == name) first.emplace(value);
  });
  return first;
}

void EnvRoot::Exec(std::string_view name, OutputSink& out, TemplateArgs args) {
  if (name == "output") {
    out.Write("output only");
    return;
  }
  TemplateValue value;
  Eval(value, name, out, args);
  std::string text;
  value.appendText(text);
  out.Write(text);
}

DataProvider* EnvRoot::Select(std::string_view name, OutputSink&, TemplateArgs) {
  auto it = m_providers.find(name);
  if (it != m_providers.end()) return it->second.get();
  if (m_factory == nullptr) return nullptr;
  std::unique_ptr<DataProvider> provider = m_factory->create(name, m_request);
  if (!provider) return nullptr;  // an unknown name ends the env reference silently
  return m_providers.emplace(std::string(name), std::move(provider)).first->second.get();
}

void EnvRoot::Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs) {
  out.Write(commandUnknownText(name));
  result = TemplateValue::integer(0);
}

}  // namespace vantrel::templates
