// SPDX-License-Identifier: MIT
#pragma once
// ClientSettingsHost: the settings sheet over the running client — the
// settings store, the client state's limits and totals, the log's levels,
// the file server's security switch and the loaded templates. UI thread only;
// the application must outlive it.

#include "app/client_app.h"
#include "ui/firewall_window.h"
#include "ui/settings_sheet.h"
#include "ui/setup_wizard.h"

namespace vantrel::ui {

class ClientSettingsHost : public SettingsHost, public SetupHost {
 public:
  explicit ClientSettingsHost(ClientApp& app) : m_app(app) {}

  int32_t number(std::string_view name) override { return m_app.settings().GetSettingNumber(name); }
  std::string text(std::string_view name) override { return m_app.settings().GetSettingText(name); }
  void setNumber(std::string_view name, int32_t value) override {
    m_app.settings().SetSettingNumber(name, value);
    // Switched off, the mappings go at once; switched on, they come back.
    if (name == kPortMappingSetting) m_app.core().portMappingSettingChanged();
  }
  std::string portMappingStatus() override { return describePortMapping(m_app.core().portMapping()); }
  void setText(std::string_view name, std::string_view value) override { m_app.settings().SetSettingText(name, value); }
  std::vector<std::string> users() override { return m_app.settings().ListUsers(); }
  void deleteUser(const std::string& user) override { m_app.settings().DeleteUser(user); }
  void applyConnectionType(int index) override { m_app.settings().ApplyConnectionType(index); }
  void setRunningLimits(int maxUsers, int maxBand, int maxUserBand) override {
    m_app.state().SetLimits(maxUsers, maxBand, maxUserBand);
  }
  void setMaxPerUser(int count) override { m_app.state().SetMaxPerUser(count); }
  bool autostart() override { return m_app.settings().IsAutorunSet(); }
  void setAutostart(bool on) override { m_app.settings().SetAutorun(on); }
  int templateVersion() override { return m_app.core().templateVersion(); }
  std::string totalSent() override { return m_app.state().FormatTotalSent(); }
  int detailLevel() override { return m_app.log() != nullptr ? m_app.log()->detailLevel() : 1; }
  int errorLevel() override { return m_app.log() != nullptr ? m_app.log()->errorLevel() : 1; }
  void setLogLevels(int detail, int error) override {
    if (m_app.log() == nullptr) return;
    m_app.log()->setDetailLevel(detail);
    m_app.log()->setErrorLevel(error);
  }
  bool fileSecurity() override { return m_app.protocol().fileSecurity; }
  void setFileSecurity(bool on) override { m_app.protocol().fileSecurity = on; }
  void checkFirewall(QWidget* parent) override { runCheck(parent, firewall_texts::kNotBehind); }
  int portInUse(bool udp) override {
    return udp ? m_app.protocol().udpPort.load() : (m_app.state().Connected() ? m_app.core().fileServerPort() : -1);
  }
  void checkFirewallFromWizard(QWidget* parent) override { runCheck(parent, firewall_texts::kNotBehindWizard); }
  // The check on its own, from the window's menu.
  void checkFirewallDirectly(QWidget* parent) { runCheck(parent, firewall_texts::kNotBehindDirect); }

 private:
  void runCheck(QWidget* parent, const char* notBehind) {
    FirewallCheck check(m_app.protocol());
    // The check listens where this client does, so the server reaches what
    // others would reach; the client lets both ports go meanwhile.
    ClientCore& core = m_app.core();
    check.setPorts(core.firewallTcpPort(), core.firewallUdpPort());
    check.setPortMapping(core.portMapping());
    FileServerSwitch server{[&core] {
                              const bool udp = core.pauseUdpPings();
                              return core.pauseFileServer() || udp;
                            },
                            [&core] {
                              const bool udp = core.resumeUdpPings();
                              return core.resumeFileServer() && udp;
                            }};
    runFirewallCheckSaying(parent, check, server, templateVersion(), notBehind);
  }

  ClientApp& m_app;
};

}  // namespace vantrel::ui
