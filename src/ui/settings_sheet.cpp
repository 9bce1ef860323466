// SPDX-License-Identifier: MIT
#include "ui/settings_sheet.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "core/deployment.h"
#include "settings/settings_store.h"
#include "transfers/download_folder.h"

namespace vantrel::ui {

namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

QSpinBox* spin(int low, int high, int value) {
  auto* box = new QSpinBox;
  box->setRange(low, high);
  box->setValue(value);
  return box;
}

// A stored number, or `fallback` when it is missing (-1) or out of range.
int stored(SettingsHost& host, std::string_view name, int fallback, int low = 0) {
  const int32_t value = host.number(name);
  return value < low ? fallback : value;
}

// A bandwidth slider with its edit field, both in thousands of bytes per second.
QWidget* bandRow(QSlider*& slider, QSpinBox*& edit) {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  slider = new QSlider(Qt::Horizontal);
  edit = new QSpinBox;
  layout->addWidget(slider, 1);
  layout->addWidget(edit);
  QObject::connect(slider, &QSlider::valueChanged, edit, &QSpinBox::setValue);
  QObject::connect(edit, &QSpinBox::valueChanged, slider, &QSlider::setValue);
  return row;
}

void setBandRange(QSlider* slider, QSpinBox* edit, int maximum) {
  slider->setRange(1, maximum);
  edit->setRange(1, maximum);
}

}  // namespace

DebugDialog::DebugDialog(SettingsHost& host, QWidget* parent) : QDialog(parent), m_host(host) {
  setWindowTitle(kTitle);
  auto* layout = new QVBoxLayout(this);
  m_detail = new QCheckBox(kDetail);
  m_errors = new QCheckBox(kErrors);
  m_security = new QCheckBox(kSecurity);
  m_detail->setChecked(host.detailLevel() >= 2);
  m_errors->setChecked(host.errorLevel() >= 2);
  m_security->setChecked(!host.fileSecurity());
  layout->addWidget(m_detail);
  layout->addWidget(m_errors);
  layout->addWidget(m_security);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    apply();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void DebugDialog::apply() {
  m_host.setLogLevels(m_detail->isChecked() ? 2 : 1, m_errors->isChecked() ? 2 : 1);
  m_host.setFileSecurity(!m_security->isChecked());
}

SettingsSheet::SettingsSheet(SettingsHost& host, QWidget* parent) : QDialog(parent), m_host(host) {
  setWindowTitle(kTitle);
  auto* layout = new QVBoxLayout(this);
  m_pages = new QTabWidget;
  m_pages->addTab(clientPage(), "Client");
  m_pages->addTab(serverPage(), "Server");
  m_pages->addTab(usersPage(), "Users");
  m_pages->addTab(connectionPage(), "Connection");
  m_pages->addTab(advancedPage(), "Advanced");
  layout->addWidget(m_pages);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    apply();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this, &SettingsSheet::apply);
  resize(480, 400);
}

QString SettingsSheet::portsInUseText(int tcpInUse, int tcpSet, int udpInUse, int udpSet) {
  QStringList moved;
  if (tcpInUse > 0 && tcpSet > 0 && tcpInUse != tcpSet) {
    moved << QString("the file server on port %1 (%2 was taken)").arg(tcpInUse).arg(tcpSet);
  }
  if (udpInUse > 0 && udpSet > 0 && udpInUse != udpSet) {
    moved << QString("pings from UDP port %1 (%2 was taken)").arg(udpInUse).arg(udpSet);
  }
  if (moved.isEmpty()) return {};
  return "In use now: " + moved.join("; ") + ". Another program or client on this computer holds the port set "
         "here; this client took the next free one.";
}

QWidget* SettingsSheet::clientPage() {
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);
  m_cname = new QLineEdit(qs(m_host.text("cname")));
  // 0 (the system picks a port) is kept as it is stored.
  m_loadedPort = stored(m_host, "port", 8323);
  m_port = spin(0, 65535, m_loadedPort);
  m_udpPort = spin(0, 65535, stored(m_host, "udpport", 8324));
  m_loginTime = spin(1, 3600, stored(m_host, "maxlogintime", 40, 1));
  m_updates = new QCheckBox("Check for a newer version after login");
  m_updates->setChecked(m_host.number("checkforupdates") == 1);
  m_autostart = new QCheckBox("Start the File Manager when I log on to this computer");
  m_autostart->setChecked(m_host.autostart());
  m_templateVersion = new QLabel(QString("Template Version %1").arg(m_host.templateVersion()));
  m_totalSent = new QLabel(qs(m_host.totalSent()));
  form->addRow("Client name:", m_cname);
  form->addRow("File server port (TCP):", m_port);
  form->addRow("Client port (UDP):", m_udpPort);
  // Another client on this computer may hold the ports set here: say which
  // ones this client took instead.
  const QString inUse = portsInUseText(m_host.portInUse(false), stored(m_host, "port", 8323),
                                       m_host.portInUse(true), stored(m_host, "udpport", 8324));
  if (!inUse.isEmpty()) {
    m_portsInUse = new QLabel(inUse);
    m_portsInUse->setWordWrap(true);
    form->addRow(m_portsInUse);
  }
  form->addRow("Login time-out (seconds):", m_loginTime);
  form->addRow(m_updates);
  form->addRow(m_autostart);
  form->addRow(m_templateVersion);
  form->addRow("Sent in all:", m_totalSent);
  return page;
}

QWidget* SettingsSheet::serverPage() {
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);
  m_autofind = new QCheckBox("Find the server automatically");
  m_autofind->setChecked(m_host.number("autofind") == 1);
  m_serverAddress = new QLineEdit(qs(m_host.text("serveraddress")));
  m_serverPort = spin(1, 65535, stored(m_host, "serverport", deployment::serverPort(), 1));
  auto follow = [this](bool automatic) {
    m_serverAddress->setEnabled(!automatic);
    m_serverPort->setEnabled(!automatic);
  };
  connect(m_autofind, &QCheckBox::toggled, this, follow);
  follow(m_autofind->isChecked());
  form->addRow(m_autofind);
  form->addRow("Server address:", m_serverAddress);
  form->addRow("Server port:", m_serverPort);
  return page;
}

QWidget* SettingsSheet::usersPage() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* form = new QFormLayout;
  m_autologin = new QComboBox;
  form->addRow("Log in automatically as:", m_autologin);
  layout->addLayout(form);
  layout->addWidget(new QLabel("Users who have logged in on this computer:"));
  m_users = new QListWidget;
  layout->addWidget(m_users, 1);
  auto* remove = new QPushButton("Delete");
  remove->setEnabled(false);
  connect(m_users, &QListWidget::currentRowChanged, remove, [remove](int row) { remove->setEnabled(row >= 0); });
  connect(remove, &QPushButton::clicked, this, &SettingsSheet::deleteSelectedUser);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(remove);
  layout->addLayout(row);
  fillUsers();
  const QString autologin = qs(m_host.text("autologinuser"));
  const int at = autologin.isEmpty() ? 0 : m_autologin->findText(autologin);
  m_autologin->setCurrentIndex(std::max(at, 0));
  return page;
}

void SettingsSheet::fillUsers() {
  const QString picked = m_autologin->currentText();
  m_autologin->clear();
  m_autologin->addItem(kNoUser);
  m_users->clear();
  for (const std::string& user : m_host.users()) {
    m_autologin->addItem(qs(user));
    m_users->addItem(qs(user));
  }
  // A deleted user can no longer be picked: "None" then.
  m_autologin->setCurrentIndex(std::max(m_autologin->findText(picked), 0));
}

void SettingsSheet::deleteSelectedUser() {
  QListWidgetItem* item = m_users->currentItem();
  if (item == nullptr) return;
  m_host.deleteUser(item->text().toStdString());
  fillUsers();
}

QWidget* SettingsSheet::connectionPage() {
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);
  m_contype = new QComboBox;
  for (std::string_view name : SettingsStore::ConnectionTypeNames()) {
    m_contype->addItem(QString::fromUtf8(name.data(), static_cast<int>(name.size())));
  }
  const int32_t contype = m_host.number("contype");
  const bool known = contype >= 0 && contype < SettingsStore::kConnectionTypeCount;
  m_contype->setCurrentIndex(known ? contype : -1);
  m_maxUsers = spin(1, 9999, 10);
  form->addRow("Connection type:", m_contype);
  form->addRow("Most users at once:", m_maxUsers);
  form->addRow("Upload per user (k/s):", bandRow(m_userBandSlider, m_userBand));
  form->addRow("Upload in all (k/s):", bandRow(m_bandSlider, m_band));

  // The stored limits, on sliders that reach at least as far as they do.
  // A limit below 1 k/s shows as the slider's least, 1.
  const int userBand = std::max(1, stored(m_host, "maxusrband", 2000000) / 1000);
  const int band = std::max(1, stored(m_host, "maxband", 2000000) / 1000);
  const int suggested = SettingsStore::SuggestedMaxBandwidth(known ? contype : 0) / 1000;
  setBandRange(m_userBandSlider, m_userBand, std::max(suggested, userBand));
  setBandRange(m_bandSlider, m_band, std::max(suggested, band));
  m_userBand->setValue(userBand);
  m_band->setValue(band);
  m_maxUsers->setValue(stored(m_host, "maxusers", 10, 1));
  connect(m_contype, &QComboBox::activated, this, &SettingsSheet::pickConnectionType);

  // Missing reads as on: opening the ports is what a new client does.
  m_portMapping = new QCheckBox(kPortMapping);
  m_portMapping->setChecked(m_host.number(kPortMappingSetting) != 0);
  form->addRow(m_portMapping);
  // The router's answers come from a worker: the line follows them while the
  // sheet is open.
  m_routerStatus = new QLabel;
  m_routerStatus->setWordWrap(true);
  m_routerStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
  form->addRow(m_routerStatus);
  const auto showRouter = [this] {
    const std::string line = m_host.portMappingStatus();
    m_routerStatus->setText(line.empty() ? QString() : "Router: " + qs(line));
  };
  showRouter();
  auto* refresh = new QTimer(this);
  connect(refresh, &QTimer::timeout, this, showRouter);
  refresh->start(1000);
  return page;
}

void SettingsSheet::pickConnectionType(int index) {
  if (m_contype->currentIndex() != index) m_contype->setCurrentIndex(index);
  const int maximum = std::max(1, SettingsStore::SuggestedMaxBandwidth(index) / 1000);
  setBandRange(m_userBandSlider, m_userBand, maximum);
  setBandRange(m_bandSlider, m_band, maximum);
  m_userBandSlider->setValue(maximum);
  m_bandSlider->setValue(maximum);
  m_maxUsers->setValue(SettingsStore::SuggestedMaxUsers(index));
}

QWidget* SettingsSheet::advancedPage() {
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);
  // Readers take 5 and 2 for values below 1.
  m_maxPerUser = spin(1, 999, stored(m_host, "maxperuser", 5, 1));
  m_maxDownloads = spin(1, 99, stored(m_host, "maxsimdl", 2, 1));
  m_remotes = new QCheckBox("Other computers may open the share-files page");
  m_remotes->setChecked(m_host.number("remotes") == 1);
  auto* debug = new QPushButton("Debug...");
  connect(debug, &QPushButton::clicked, this, &SettingsSheet::openDebug);
  form->addRow("Downloads by one user at once:", m_maxPerUser);
  form->addRow("Downloads that run at once:", m_maxDownloads);
  m_downloadFolder = new QLineEdit(qs(m_host.text(kDownloadFolderSetting)));
  m_downloadFolder->setPlaceholderText(qs(defaultDownloadFolder()));
  auto* browse = new QPushButton("Browse...");
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString start = m_downloadFolder->text().isEmpty() ? m_downloadFolder->placeholderText() : m_downloadFolder->text();
    const QString folder = QFileDialog::getExistingDirectory(this, "Download folder", start);
    if (!folder.isEmpty()) m_downloadFolder->setText(folder);
  });
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(m_downloadFolder, 1);
  folderRow->addWidget(browse);
  form->addRow("Download folder:", folderRow);
  form->addRow(m_remotes);
  auto* firewall = new QPushButton("Check Firewall...");
  connect(firewall, &QPushButton::clicked, this, [this] { m_host.checkFirewall(this); });
  form->addRow(firewall);
  form->addRow(debug);
  return page;
}

void SettingsSheet::openDebug() {
  DebugDialog dialog(m_host, this);
  dialog.exec();
}

void SettingsSheet::apply() {
  // Client.
  m_host.setText("cname", m_cname->text().trimmed().toStdString());
  m_host.setNumber("port", m_port->value());
  m_host.setNumber("udpport", m_udpPort->value());
  m_host.setNumber("maxlogintime", m_loginTime->value());
  m_host.setNumber("checkforupdates", m_updates->isChecked() ? 1 : 0);
  if (m_autostart->isChecked() != m_host.autostart()) m_host.setAutostart(m_autostart->isChecked());
  // Server.
  m_host.setText("serveraddress", m_serverAddress->text().trimmed().toStdString());
  m_host.setNumber("serverport", m_serverPort->value());
  m_host.setNumber("autofind", m_autofind->isChecked() ? 1 : 0);
  // Users: "None" is the empty name.
  m_host.setText("autologinuser", m_autologin->currentIndex() <= 0 ? "" : m_autologin->currentText().toStdString());
  // Connection: the type's values first, then the page's over them.
  if (m_contype->currentIndex() >= 0) m_host.applyConnectionType(m_contype->currentIndex());
  const int maxUsers = m_maxUsers->value();
  const int userBand = m_userBandSlider->value() * 1000;
  const int band = m_bandSlider->value() * 1000;
  m_host.setRunningLimits(maxUsers, band, userBand);
  m_host.setNumber("maxusers", maxUsers);
  m_host.setNumber("maxusrband", userBand);
  m_host.setNumber("maxband", band);
  m_host.setNumber(kPortMappingSetting, m_portMapping->isChecked() ? 1 : 0);
  // Advanced.
  m_host.setMaxPerUser(m_maxPerUser->value());
  m_host.setNumber("maxsimdl", m_maxDownloads->value());
  m_host.setText(kDownloadFolderSetting, m_downloadFolder->text().trimmed().toStdString());
  m_host.setNumber("remotes", m_remotes->isChecked() ? 1 : 0);

  if (m_port->value() != m_loadedPort) {
    m_loadedPort = m_port->value();
    QMessageBox::information(this, "Note", kPortNote);
  }
}

}  // namespace vantrel::ui
