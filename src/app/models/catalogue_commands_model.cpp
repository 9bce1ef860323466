// SPDX-License-Identifier: MIT
#include "app/models/catalogue_commands_model.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "core/error_table.h"
#include "protocol/shared_file_requests.h"

namespace vantrel {

namespace {

// The codes of creategroup that have a text of their own.
constexpr int kNameInUse = 610;
constexpr int kNameTooShort = 611;
constexpr int kPasswordTooShort = 612;

std::string formatted(const char* format, int code, const std::string& text) {
  // Every format here takes its code and its text in the order written.
  std::string out;
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 'd') {
      out += std::to_string(code);
      ++p;
    } else if (p[0] == '%' && p[1] == 's') {
      out += text;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

std::string textOf(const char* format, const std::string& text) { return formatted(format, 0, text); }

bool isGroup(const std::shared_ptr<CatalogueEntry>& e) { return e && e->type == EntryType::Group; }
bool isFileOrDirectory(const std::shared_ptr<CatalogueEntry>& e) {
  return e && (e->type == EntryType::File || e->type == EntryType::Directory);
}

// The share run's own progress lines.
class ShareProgressModel : public ProgressDialogModel {
 public:
  std::string text() const override {
    std::scoped_lock lock(m_mutex);
    return m_line.empty() ? CatalogueCommandsModel::kShareProgress
                          : std::string(CatalogueCommandsModel::kShareProgress) + "\n" + m_line;
  }
  bool finished() const override { return m_finished; }
  void cancel() override { m_cancel = true; }

  void report(int code, int number, const std::string& name) {
    std::scoped_lock lock(m_mutex);
    if (code == share::kCreatingDirectory) m_line = "Creating directory - '" + name + "'";
    if (code == share::kSharingFiles) m_line = "Sharing " + std::to_string(number) + " files into '" + name + "'";
    if (code == share::kNameShortened) m_shortened.emplace_back(name, listedFileName(name));
  }
  // Read once the run has finished.
  std::string shortenedText() const {
    std::scoped_lock lock(m_mutex);
    return shortenedNamesText(m_shortened);
  }
  bool cancelled() const { return m_cancel; }
  void finish() { m_finished = true; }

 private:
  mutable std::mutex m_mutex;
  std::string m_line;  // guarded by m_mutex
  std::vector<std::pair<std::string, std::string>> m_shortened;  // guarded by m_mutex
  std::atomic<bool> m_cancel{false};
  std::atomic<bool> m_finished{false};
};

}  // namespace

std::shared_ptr<CatalogueEntry> CatalogueSelection::target() const {
  if (chosen.size() == 1 && chosen.front()->type != EntryType::File) return chosen.front();
  return open();
}

bool isGroupMember(const CatalogueEntry& entry) {
  if (entry.type != EntryType::Group) return false;
  const int status = static_cast<const GroupEntry&>(entry).status;
  return status == group_status::kOwner || status == group_status::kMember || status == group_status::kAdministrator;
}

std::string localName(const std::string& listedName) {
  if (listedName.empty() || listedName == "." || listedName == "..") return {};
  std::string out = listedName;
  std::replace(out.begin(), out.end(), '/', '_');
  std::replace(out.begin(), out.end(), '\0', '_');
  return out;
}

CatalogueCommandsModel::CatalogueCommandsModel(CatalogueService& service, CatalogueRunner& runner, CommandPrompts& prompts)
    : m_service(service), m_runner(runner), m_prompts(prompts) {}

void CatalogueCommandsModel::error(const std::string& text) {
  m_prompts.showMessage({text, "Error", MessageIcon::Error, MessageButtons::Ok});
}

void CatalogueCommandsModel::request(std::function<int(CatalogueService&)> work, std::function<void(int)> done) {
  // The work may outlive these commands (not the service): it gets the service, never `this`.
  std::weak_ptr<int> alive = m_alive;
  m_runner.run([&service = m_service, work = std::move(work), done = std::move(done), alive]() -> CatalogueRunner::Delivery {
    const int code = work(service);
    return [code, done, alive] {
      if (!alive.expired()) done(code);
    };
  });
}

void CatalogueCommandsModel::download(const CatalogueSelection& selection) {
  if (selection.chosen.empty()) return error(kDownloadNothing);
  if (!std::all_of(selection.chosen.begin(), selection.chosen.end(), isFileOrDirectory)) return error(kDownloadKinds);
  std::optional<std::string> folder = m_prompts.chooseDownloadFolder();
  if (!folder || folder->empty()) return;
  if (folder->back() != '/') *folder += '/';
  const EntryList entries = selection.chosen;
  m_prompts.setStatus("Downloading " + std::to_string(entries.size()) + " selected into " + *folder);
  request(
      [entries, to = *folder](CatalogueService& service) {
        int first = 0;
        int queued = 0;
        for (const auto& e : entries) {
          int code = 0;
          if (e->type == EntryType::File) {
            code = service.downloadFile(static_cast<const FileEntry&>(*e), to);
          } else if (const std::string name = localName(e->name); name.empty()) {
            code = catalogue_view::kUnusableName;
          } else {
            code = service.downloadDirectory(static_cast<const DirectoryEntry&>(*e), to + name + "/");
          }
          // An empty folder among others is no failure; only nothing at all is.
          if (code == 0) {
            ++queued;
          } else if (code != catalogue_view::kNothingToDownload && first == 0) {
            first = code;
          }
        }
        return first == 0 && queued == 0 ? catalogue_view::kNothingToDownload : first;
      },
      [this, to = *folder](int code) {
        if (code == 0) {
          m_prompts.setStatus("Downloads queued into " + to + " (see Incoming)");
        } else if (code == catalogue_view::kNothingToDownload) {
          m_prompts.setStatus(kNothingToDownloadText);
        } else {
          m_prompts.setStatus("Error " + std::to_string(code) + " queueing downloads into " + to + ": " +
                              errorTitle(code));
        }
      });
}

void CatalogueCommandsModel::remove(const CatalogueSelection& selection) {
  if (selection.chosen.empty()) return error(kRemoveNothing);
  if (!std::all_of(selection.chosen.begin(), selection.chosen.end(), isFileOrDirectory)) return error(kRemoveKinds);
  std::vector<int32_t> files;
  std::vector<int32_t> directories;
  for (const auto& e : selection.chosen) {
    if (e->ownerId != m_service.userId()) return error(textOf(kRemoveDenied, e->name));
    (e->type == EntryType::File ? files : directories).push_back(e->id);
  }
  // Nothing on the server can bring a removed directory back: ask first.
  const MessageBox question{removeQuestion(files.size(), directories.size()), "Remove", MessageIcon::Question,
                            MessageButtons::YesNo};
  if (m_prompts.showMessage(question) != MessageAnswer::Yes) return;
  request(
      [files, directories](CatalogueService& service) {
        if (!files.empty()) {
          if (const int code = service.removeFiles(files); code != 0) return code;
        }
        return directories.empty() ? 0 : service.removeDirectories(directories);
      },
      [this](int code) {
        if (code == 0) {
          m_prompts.showMessage({kRemoved, "Remove", MessageIcon::Information, MessageButtons::Ok});
        } else {
          error("Error " + std::to_string(code) + " removing files\n" + errorTitle(code));
        }
        m_prompts.catalogueChanged(false);
      });
}

std::string CatalogueCommandsModel::removeQuestion(std::size_t files, std::size_t directories) {
  auto counted = [](std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  std::string what;
  if (directories > 0) what = counted(directories, "directory", "directories");
  if (directories > 0 && files > 0) what += " and ";
  if (files > 0) what += counted(files, "file", "files");
  std::string text = "Remove " + what + " from the group?";
  if (directories == 1) text += "\nEverything in the directory is removed with it.";
  if (directories > 1) text += "\nEverything in the directories is removed with them.";
  return text;
}

void CatalogueCommandsModel::shareFiles(const CatalogueSelection& selection) {
  // The destination: a directory or group picked in the list, else the open one.
  EntryList path = selection.path;
  std::shared_ptr<CatalogueEntry> target = selection.open();
  if (selection.chosen.size() == 1 && (selection.chosen.front()->type == EntryType::Directory || isGroup(selection.chosen.front()))) {
    target = selection.chosen.front();
    path.push_back(target);
  }
  if (!target || (target->type != EntryType::Directory && target->type != EntryType::Group)) return error(kShareTarget);
  // The group above the directory, and the directory's text path below it.
  auto group = std::find_if(path.rbegin(), path.rend(), isGroup);
  if (group == path.rend()) return error(kShareNoDirectory);
  std::string textPath;
  for (auto it = group.base(); it != path.end(); ++it) {
    if ((*it)->type != EntryType::Directory) return error(kShareNoDirectory);
    textPath += (textPath.empty() ? "" : " : ") + (*it)->name;
  }
  const std::string groupName = (*group)->name;
  if (groupName.empty()) return error(kShareNoGroupName);
  const ShareDestination to{(*group)->id, groupName, target->id, textPath};

  const auto chosen = m_prompts.chooseFilesToShare(groupName);
  if (!chosen || chosen->empty()) return;
  ShareProgressModel progress;
  int result = 0;
  std::jthread worker([&] {
    result = m_service.shareFiles(
        *chosen, to, [&](int code, int number, const std::string& name) { progress.report(code, number, name); },
        [&] { return progress.cancelled(); });
    progress.finish();
  });
  m_prompts.runProgress(progress);
  worker.join();
  if (result != 0) {
    error("Error " + std::to_string(result) + " sharing files\n" + errorTitle(result));
  } else {
    std::string text = "Your files are now shared in the group '" + groupName + "'.";
    if (const std::string shortened = progress.shortenedText(); !shortened.empty()) text += "\n\n" + shortened;
    m_prompts.showMessage({text, "Files Shared", MessageIcon::Information, MessageButtons::Ok});
  }
  m_prompts.catalogueChanged(false);
}

void CatalogueCommandsModel::createDirectory(const CatalogueSelection& selection) {
  EntryList path = selection.path;
  std::shared_ptr<CatalogueEntry> target = selection.open();
  if (selection.chosen.size() == 1 && selection.chosen.front()->type != EntryType::File) {
    target = selection.chosen.front();
    path.push_back(target);
  }
  if (!target || (target->type != EntryType::Directory && target->type != EntryType::Group)) {
    return error(kDirectoryTarget);
  }
  const auto group = std::find_if(path.rbegin(), path.rend(), isGroup);
  if (group == path.rend() || !isGroupMember(**group)) return error(kDirectoryNotMember);
  const auto name = m_prompts.askDirectoryName();
  if (!name || name->empty()) return;
  request(
      [name = *name, parent = target->id](CatalogueService& service) {
        int32_t id = 0;
        return service.createDirectory(name, parent, id);
      },
      [this](int code) {
        if (code != 0) error(formatted(kDirectoryFailed, code, errorTitle(code)));
        m_prompts.catalogueChanged(false);
      });
}

void CatalogueCommandsModel::joinGroup(const CatalogueSelection& selection) {
  const auto target = selection.target();
  if (!isGroup(target)) return error(kJoinNoGroup);
  if (isGroupMember(*target)) return error(kJoinMember);
  const auto cached = m_service.group(target->id);
  if (!cached) return error(kJoinNoEntry);
  const auto answer = m_prompts.askJoin(kJoinTitle + cached->name);
  if (!answer) return;
  request([id = cached->id, answer = *answer](CatalogueService& service) {
            return service.joinGroup(id, answer.password, answer.comments);
          },
          [this, name = cached->name](int code) {
            if (code == catalogue::kListingOk) {
              m_prompts.showMessage(
                  {textOf(kJoined, name), "Join", MessageIcon::Information, MessageButtons::Ok});
            } else if (code == catalogue::kApplicationSent) {
              // The owner decides: no error, and the group shows as pending.
              m_prompts.showMessage({errorTitle(code), "Join", MessageIcon::Information, MessageButtons::Ok});
            } else {
              m_prompts.showMessage(
                  {textOf(kJoinFailed, errorTitle(code)), "Error", MessageIcon::Error, MessageButtons::Ok});
            }
            m_prompts.catalogueChanged(true);
          });
}

void CatalogueCommandsModel::createGroup(const CatalogueSelection& selection) {
  const auto target = selection.target();
  if (!target || target->type != EntryType::Category) return error(kGroupTarget);
  if (!static_cast<const CategoryEntry&>(*target).hasGroups) return error(kGroupNoGroups);
  const auto cached = m_service.category(target->id);
  if (!cached) return error(kGroupNoEntry);
  const auto wizard = m_prompts.runGroupWizard();
  if (!wizard) return;
  CGroupEntry entry;
  entry.description = wizard->description;
  entry.keywords = wizard->keywords;
  entry.personal = wizard->personal;
  entry.downloadPermission = kPublicDownload;
  wizard->choice.applyTo(entry);
  const bool personal = entry.personal;
  auto group = std::make_shared<GroupEntry>(entry.toListing());
  request([group, parent = cached->id](CatalogueService& service) { return service.createGroup(*group, parent); },
          [this, group, personal](int code) {
            switch (code) {
              case 0:
                m_prompts.showMessage(
                    {personal ? kPersonalCreated : kGroupCreated, "Success", MessageIcon::Information, MessageButtons::Ok});
                break;
              case kNameInUse:
                error(kGroupNameUsed);
                break;
              case kNameTooShort:
                error(kGroupNameShort);
                break;
              case kPasswordTooShort:
                error(kGroupPasswordShort);
                break;
              default:
                error(formatted(kGroupFailed, code, errorTitle(code)));
                break;
            }
            if (code == 0) m_prompts.catalogueChanged(true);
          });
}

std::string CatalogueCommandsModel::administrateUrl(int32_t groupId) const {
  return m_service.webLoginUrl("groupsettings.jsp?groupid=" + std::to_string(groupId));
}

std::string CatalogueCommandsModel::inviteUrl(int32_t groupId) const {
  return m_service.webLoginUrl("composemessage.jsp?msg_header=Check+out+this+group!&invite=" + std::to_string(groupId));
}

void CatalogueCommandsModel::administrate(const CatalogueSelection& selection) {
  const auto target = selection.target();
  if (!isGroup(target)) return error(kAdminNoGroup);
  const int status = static_cast<const GroupEntry&>(*target).status;
  if (status != group_status::kOwner && status != group_status::kAdministrator) return error(kAdminDenied);
  if (!m_prompts.openBrowser(administrateUrl(target->id))) error(kNoBrowser);
}

void CatalogueCommandsModel::invite(const CatalogueSelection& selection) {
  const auto target = selection.target();
  if (!isGroup(target)) return error(kInviteNoGroup);
  if (!isGroupMember(*target)) return error(kInviteNotMember);
  if (!m_prompts.openBrowser(inviteUrl(target->id))) error(kNoBrowser);
}

}  // namespace vantrel
