// SPDX-License-Identifier: MIT
#include "templates/sample_providers.h"

#include <algorithm>
#include <cstdlib>

#include "core/error_table.h"

namespace vantrel::templates {
namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return text;
}

// The request provider of a sample client: what a page can learn of the
// request without a live client behind it.
class SampleCommandProvider : public DataProvider {
 public:
  explicit SampleCommandProvider(RenderRequest& request) : m_request(request) {}

  void Exec(std::string_view name, OutputSink& out, TemplateArgs args) override {
    if (name == "data") {
      out.Write("NULL data");
    } else if (name == "image") {
      if (args.size() != 1) {
        out.Write("Wrong number of arguments");
      } else if (!args[0].isString()) {
        out.Write("Wrong type of argument, need string");
      } else {
        out.Write("/images/" + std::string(args[0].text()));
      }
    } else if (name == "commanddata") {
      std::string query;
      m_request.forEachParameter([&](std::string_view n, std::string_view v) {
        query.append(n).append("=").append(v).append("&");
      });
      out.Write(query);
    } else {
      out.Write(commandUnknownText(name));
    }
  }
  DataProvider* Select(std::string_view, OutputSink&, TemplateArgs) override { return nullptr; }
  void Eval(TemplateValue& result, std::string_view name, OutputSink&, TemplateArgs) override {
    result = TemplateValue::integer(name == "isowner" && m_request.peerAddress() == "127.0.0.1" ? 1 : 0);
  }

 private:
  RenderRequest& m_request;
};

}  // namespace

void TableProvider::set(std::string name, TemplateValue value) { m_values.insert_or_assign(lower(std::move(name)), std::move(value)); }

TableProvider& TableProvider::child(std::string name) {
  auto& slot = m_children[lower(std::move(name))];
  if (!slot) slot = std::make_unique<TableProvider>();
  return *slot;
}

void TableProvider::Exec(std::string_view name, OutputSink& out, TemplateArgs) {
  auto it = m_values.find(name);
  if (it == m_values.end()) {
    out.Write(commandUnknownText(name));
    return;
  }
  std::string text;
  it->second.appendText(text);
  out.Write(text);
}

DataProvider* TableProvider::Select(std::string_view name, OutputSink&, TemplateArgs) {
  auto it = m_children.find(name);
  return it == m_children.end() ? nullptr : it->second.get();
}

void TableProvider::Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs) {
  auto it = m_values.find(name);
  if (it == m_values.end()) {
    out.Write(commandUnknownText(name));
    result = TemplateValue::integer(0);
    return;
  }
  result = it->second;
}

std::unique_ptr<DataProvider> SampleProviders::create(std::string_view name, RenderRequest& request) {
  if (name == "client") {
    auto client = std::make_unique<TableProvider>();
    client->set("username", TemplateValue::string("sample"));
    client->set("ip", TemplateValue::string(request.peerAddress()));
    client->set("port", TemplateValue::integer(8323));
    client->set("numberOfSharedFiles", TemplateValue::integer(0));
    client->set("numberOfUsers", TemplateValue::integer(0));
    client->set("downloadUsers", TemplateValue::integer(0));
    client->set("totalFilesDownloaded", TemplateValue::integer(0));
    client->set("queueSize", TemplateValue::string("test"));
    client->set("estNextQueueSpace", TemplateValue::string("test"));
    return client;
  }
  if (name == "command") return std::make_unique<SampleCommandProvider>(request);
  if (name == "error") {
    auto error = std::make_unique<TableProvider>();
    const int code = std::atoi(request.parameter("error").value_or("0").c_str());
    const ErrorText text = lookupError(code);
    error->set("errorCode", TemplateValue::integer(code));
    error->set("errorTitle", TemplateValue::string(text.title));
    error->set("errorExplanation", TemplateValue::string(text.message));
    error->set("errorOptional", TemplateValue::string(text.link));
    return error;
  }
  return nullptr;
}

void SampleRequest::forEachParameter(const std::function<void(std::string_view, std::string_view)>& visit) const {
  for (const auto& [name, value] : m_params) visit(name, value);
}

}  // namespace vantrel::templates
