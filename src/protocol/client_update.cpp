// SPDX-License-Identifier: MIT
#include "protocol/client_update.h"

#include <chrono>
#include <cstdio>

#include "core/base64.h"
#include "core/error_table.h"
#include "net/client_request.h"
#include "protocol/catalogue_listing.h"
#include "protocol/server_channel.h"

namespace vantrel {

int CheckForUpdate(SettingsStore& settings, int ownVersion, int latestVersion) {
  if (settings.GetSettingNumber("checkforupdates") != 1) return update::kCheckingOff;
  if (ownVersion >= latestVersion) return update::kNoUpdate;
  return latestVersion > settings.GetSettingNumber("clientUpdateVersion") ? update::kOffer : update::kNoUpdate;
}

std::vector<std::string> updateUrls(const std::vector<std::string>& urlValues) {
  std::vector<std::string> urls;
  for (const std::string& value : urlValues) {
    std::size_t start = 0;
    while (start < value.size()) {
      const std::size_t semi = value.find(';', start);
      if (semi == std::string::npos) {
        urls.push_back(value.substr(start));
        break;
      }
      urls.push_back(value.substr(start, semi - start));
      start = semi + 1;
    }
  }
  return urls;
}

std::string updateProgressLine(long received, long total) {
  char text[96];
  std::snprintf(text, sizeof text, "%.0f%% %ldk of %ldk",
                total > 0 ? static_cast<double>(received) / static_cast<double>(total) * 100.0 : 0.0, received / 1000,
                total / 1000);
  return text;
}

int RunUpdate(ProtocolContext& ctx, SessionUi& ui, int latestVersion, const std::filesystem::path& programDirectory) {
  const std::string body = "action=getupdate&curver=" + std::to_string(ClientState::kOwnClientVersion) +
                           "&newver=" + std::to_string(latestVersion) + "&platform=win32_new";
  ServerChannel channel(ctx);
  std::string reply;
  if (const int transport = channel.post(body, reply); transport != transport::kOk) return transport;
  if (const int code = ServerChannel::serverCode(reply); code != ServerChannel::kResultBase) return code;

  const QueryFields fields = parseQueryFields(reply);
  const auto urlValues = fields.find("url");
  if (urlValues == fields.end()) {
    ui.showMessage({"No URL's found to download", "Error", MessageIcon::Error});
    return update::kNotUpdated;
  }
  std::string comment = "Downloading update...";
  if (const auto it = fields.find("comment"); it != fields.end() && !it->second.empty()) {
    comment = base64Decode(it->second.front());
  }

  UpdateDownload download(updateUrls(urlValues->second), programDirectory, &ctx.loginAbort);
  const int button = ui.showUpdate(comment, download);
  download.detachView();
  if (button != 1) return update::kNotUpdated;
  if (download.error() == 0) {
    ctx.settings.SetSettingNumber("ClientUpdate", 1);
    return 0;
  }
  MessageBox box{"Error " + std::to_string(download.error()) + " downloading the new file manager\n " +
                     errorTitle(download.error()),
                 "Error", MessageIcon::Warning};
  box.foreground = true;
  ui.showMessage(box);
  return update::kNotUpdated;
}

UpdateDownload::UpdateDownload(std::vector<std::string> urls, std::filesystem::path directory,
                               std::atomic<int>* loginAbort)
    : m_urls(std::move(urls)), m_directory(std::move(directory)), m_loginAbort(loginAbort) {}

UpdateDownload::~UpdateDownload() { detachView(); }

void UpdateDownload::detachView() {
  {
    std::scoped_lock lock(m_viewMutex);
    m_view = nullptr;
  }
  if (m_worker.joinable()) {
    m_stopRequest = true;
    m_worker.join();
  }
}

bool UpdateDownload::pressUpdate(UpdateView& view) {
  if (m_downloading) {
    m_stopRequest = true;
    for (int i = 0; i < 10 && m_downloading; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(150));
    return false;
  }
  if (m_error == update::kNotStarted) {
    if (m_worker.joinable()) m_worker.join();
    {
      std::scoped_lock lock(m_viewMutex);
      m_view = &view;
    }
    view.setButtons("Cancel", "", false);
    m_stopRequest = false;
    m_downloading = true;
    m_worker = std::jthread([this](std::stop_token st) { run(st); });
    return false;
  }
  return true;
}

void UpdateDownload::run(std::stop_token) {
  int result = 0;
  const int count = static_cast<int>(m_urls.size());
  for (int k = 0; k < count && result == 0; ++k) {
    const std::string& url = m_urls[static_cast<std::size_t>(k)];
    std::size_t cut = url.rfind('\\');
    if (cut == std::string::npos) cut = url.rfind('/');
    const std::string name = cut == std::string::npos ? url : url.substr(cut + 1);
    withView([&](UpdateView& v) { v.setFileLine(name + " - file " + std::to_string(k + 1) + " of " + std::to_string(count)); });
    // Only a plain file name may land in the program directory.
    if (name.empty() || name == "." || name == "..") {
      result = get::kWrongTypeOrWrite + 1;
      break;
    }
    long total = -1;
    ClientRequest request(m_loginAbort, ClientState::kOwnClientVersion);
    request.setProgress([&](int, long received) {
      if (total >= 0) {
        withView([&](UpdateView& v) {
          v.setProgressLine(updateProgressLine(received, total));
          v.setProgressPosition(received);
        });
      }
      return m_stopRequest ? 0 : 1;
    });
    result = request.GetUpdateFile(url, (m_directory / name).string(), [&](long length) {
      total = length;
      withView([&](UpdateView& v) {
        v.setProgressRange(length);
        v.setProgressPosition(0);
      });
    });
  }
  m_error = result;
  m_stopRequest = false;
  if (result != 0) {
    withView([&](UpdateView& v) {
      v.setButtons("Try Again", "Update Later", true);
      v.showNotice({"Error " + std::to_string(result) + " updated failed\n" + errorTitle(result), "Error",
                    MessageIcon::Warning});
    });
  } else {
    withView([](UpdateView& v) { v.setButtons("Continue", "", false); });
  }
  m_downloading = false;
}

}  // namespace vantrel
