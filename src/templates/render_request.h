// SPDX-License-Identifier: MIT
#pragma once
// RenderRequest: what a rendering needs to know about the request it answers,
// given by whoever asks for the page (the file server's connection, or the
// page tool's sample client). ProviderFactory makes the data providers that
// hang off the environment root under their names.
//
// Both are used only on the thread that renders, for the length of one
// rendering; the implementation owns whatever it hands out.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "templates/data_provider.h"

namespace vantrel {
class UploadSession;
}

namespace vantrel::templates {

class RenderRequest {
 public:
  virtual ~RenderRequest() = default;

  // Dotted address of the requester.
  virtual std::string peerAddress() const = 0;
  // Calls visit for every request parameter value, parameters in their
  // table's order, the values of one name in the order received.
  virtual void forEachParameter(const std::function<void(std::string_view name, std::string_view value)>& visit) const = 0;
  // The first value of a parameter (names compare exactly).
  std::optional<std::string> parameter(std::string_view name) const;
  // The connection's session, when the request came over one.
  virtual UploadSession* session() const { return nullptr; }
};

class ProviderFactory {
 public:
  virtual ~ProviderFactory() = default;

  // The sub-provider of the environment root called name (lower case), made
  // for this request, or nullptr when there is none of that name.
  virtual std::unique_ptr<DataProvider> create(std::string_view name, RenderRequest& request) = 0;
};

}  // namespace vantrel::templates
