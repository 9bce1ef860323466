// SPDX-License-Identifier: MIT
#pragma once
// The settings sheet "Settings": pages for the client, the server, the users,
// the connection and advanced values, and the debug dialog. The pages are
// filled from the settings when the sheet opens; "Apply" and "OK" write every
// page back through SettingsHost in a fixed order. UI thread only.

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::ui {

inline constexpr std::string_view kPortMappingSetting = "portmapping";

// What the sheet reads and changes in the client.
class SettingsHost {
 public:
  virtual ~SettingsHost() = default;
  virtual int32_t number(std::string_view name) = 0;  // -1 when missing
  virtual std::string text(std::string_view name) = 0;
  virtual void setNumber(std::string_view name, int32_t value) = 0;
  virtual void setText(std::string_view name, std::string_view value) = 0;
  virtual std::vector<std::string> users() = 0;
  virtual void deleteUser(const std::string& user) = 0;
  // Writes "contype" and its limits; the running limits follow at once.
  virtual void applyConnectionType(int index) = 0;
  // The running upload limits, in users and bytes per second.
  virtual void setRunningLimits(int maxUsers, int maxBand, int maxUserBand) = 0;
  // The running limit and "maxperuser".
  virtual void setMaxPerUser(int count) = 0;
  virtual bool autostart() = 0;
  virtual void setAutostart(bool on) = 0;
  virtual int templateVersion() = 0;
  virtual std::string totalSent() = 0;
  virtual int detailLevel() = 0;
  virtual int errorLevel() = 0;
  virtual void setLogLevels(int detail, int error) = 0;
  virtual bool fileSecurity() = 0;
  virtual void setFileSecurity(bool on) = 0;
  // The firewall check, its outcome shown over `parent`.
  virtual void checkFirewall(QWidget* parent) = 0;
  // What the home router does for this client, one line for a person; ""
  // when nothing is known.
  virtual std::string portMappingStatus() { return {}; }
  // The port this client uses now, the file server's or (udp) the pings', -1
  // when it uses none; it differs from the setting when that was taken.
  virtual int portInUse(bool udp) {
    (void)udp;
    return -1;
  }
};

// The debug dialog: two log levels and the file-security switch.
class DebugDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kTitle = "Debug Settings";
  static constexpr const char* kDetail = "Log in detail what the client does, usually only for support or debugging purposes";
  static constexpr const char* kErrors = "Log in detail errors, usually only for support or debugging purposes";
  static constexpr const char* kSecurity = "Disable file security";

  DebugDialog(SettingsHost& host, QWidget* parent = nullptr);
  // Writes the three switches (called by "OK").
  void apply();

  QCheckBox* detail() const { return m_detail; }
  QCheckBox* errors() const { return m_errors; }
  QCheckBox* security() const { return m_security; }

 private:
  SettingsHost& m_host;
  QCheckBox* m_detail;
  QCheckBox* m_errors;
  QCheckBox* m_security;
};

class SettingsSheet : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kTitle = "Settings";
  static constexpr const char* kPortNote = "You will need to restart the File Manager before the port change takes effect";
  static constexpr const char* kNoUser = "None";
  static constexpr const char* kPortMapping = "Open the ports on my router automatically (UPnP / NAT-PMP)";
  static constexpr int kClientPage = 0, kServerPage = 1, kUsersPage = 2, kConnectionPage = 3, kAdvancedPage = 4;

  SettingsSheet(SettingsHost& host, QWidget* parent = nullptr);

  // Writes every page, in page order.
  void apply();
  // Fills the connection page as a newly picked type suggests.
  void pickConnectionType(int index);
  // What the client page says when the ports in use are not the ones set; "" when they are.
  static QString portsInUseText(int tcpInUse, int tcpSet, int udpInUse, int udpSet);

  QTabWidget* pages() const { return m_pages; }
  QLineEdit* clientName() const { return m_cname; }
  QSpinBox* port() const { return m_port; }
  QSpinBox* udpPort() const { return m_udpPort; }
  QLabel* portsInUse() const { return m_portsInUse; }  // null when the ports set are in use
  QSpinBox* loginTime() const { return m_loginTime; }
  QCheckBox* checkForUpdates() const { return m_updates; }
  QCheckBox* autostart() const { return m_autostart; }
  QLabel* templateVersion() const { return m_templateVersion; }
  QLabel* totalSent() const { return m_totalSent; }
  QLineEdit* serverAddress() const { return m_serverAddress; }
  QSpinBox* serverPort() const { return m_serverPort; }
  QCheckBox* autofind() const { return m_autofind; }
  QComboBox* autologinUser() const { return m_autologin; }
  QListWidget* userList() const { return m_users; }
  QComboBox* connectionType() const { return m_contype; }
  QSpinBox* maxUsers() const { return m_maxUsers; }
  QCheckBox* portMapping() const { return m_portMapping; }
  QLabel* routerStatus() const { return m_routerStatus; }
  QSlider* userBandSlider() const { return m_userBandSlider; }
  QSpinBox* userBand() const { return m_userBand; }
  QSlider* bandSlider() const { return m_bandSlider; }
  QSpinBox* band() const { return m_band; }
  QSpinBox* maxPerUser() const { return m_maxPerUser; }
  QSpinBox* maxDownloads() const { return m_maxDownloads; }
  // Empty: the XDG download folder, shown as the placeholder.
  QLineEdit* downloadFolder() const { return m_downloadFolder; }
  QCheckBox* remotes() const { return m_remotes; }

 private:
  QWidget* clientPage();
  QWidget* serverPage();
  QWidget* usersPage();
  QWidget* connectionPage();
  QWidget* advancedPage();
  void fillUsers();
  void deleteSelectedUser();
  void openDebug();

  SettingsHost& m_host;
  QTabWidget* m_pages;
  QLineEdit* m_cname;
  QSpinBox* m_port;
  QSpinBox* m_udpPort;
  QSpinBox* m_loginTime;
  QCheckBox* m_updates;
  QCheckBox* m_autostart;
  QLabel* m_templateVersion;
  QLabel* m_portsInUse = nullptr;
  QLabel* m_totalSent;
  QLineEdit* m_serverAddress;
  QSpinBox* m_serverPort;
  QCheckBox* m_autofind;
  QComboBox* m_autologin;
  QListWidget* m_users;
  QComboBox* m_contype;
  QSpinBox* m_maxUsers;
  QCheckBox* m_portMapping;
  QLabel* m_routerStatus;
  QSlider* m_userBandSlider;
  QSpinBox* m_userBand;
  QSlider* m_bandSlider;
  QSpinBox* m_band;
  QSpinBox* m_maxPerUser;
  QSpinBox* m_maxDownloads;
  QLineEdit* m_downloadFolder;
  QCheckBox* m_remotes;
  int m_loadedPort = 0;
};

}  // namespace vantrel::ui
