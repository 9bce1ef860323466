// SPDX-License-Identifier: MIT
#pragma once
// vantreld --check-firewall: the firewall check on the running client's own
// ports, as the window's menu runs it (the file server and the pings let
// their ports go meanwhile and take them back afterwards), with the report
// printed line by line. Main thread, after a successful login.

#include "app/client_app.h"
#include "headless/terminal_ui.h"

namespace vantrel {

// The check's result: 0 when the server reached both ports.
int runFirewallCheckCommand(ClientApp& app, TerminalUi& ui);

}  // namespace vantrel
