// SPDX-License-Identifier: MIT
#include "headless/firewall_command.h"

#include <thread>

#include "diag/firewall_runner.h"

namespace vantrel {

int runFirewallCheckCommand(ClientApp& app, TerminalUi& ui) {
  ClientCore& core = app.core();
  FirewallCheck check(app.protocol());
  check.setPorts(core.firewallTcpPort(), core.firewallUdpPort());
  check.setPortMapping(core.portMapping());
  const FileServerSwitch server{[&core] {
                                  const bool udp = core.pauseUdpPings();
                                  return core.pauseFileServer() || udp;
                                },
                                [&core] {
                                  const bool udp = core.resumeUdpPings();
                                  return core.resumeFileServer() && udp;
                                }};
  const int result = RunFirewallCheck(check, server, [](std::chrono::milliseconds step, const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + step;
    while (!done() && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  if (result == firewall::kCheckUnfinished) {
    ui.print("vantreld: the firewall check did not finish in time");
    return result;
  }
  const std::string report = check.reportText(core.templateVersion());
  std::size_t start = 0;
  while (start < report.size()) {
    std::size_t end = report.find("\r\n", start);
    if (end == std::string::npos) end = report.size();
    ui.print(std::string_view(report).substr(start, end - start));
    start = end + 2;
  }
  return result;
}

}  // namespace vantrel
