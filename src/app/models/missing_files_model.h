// SPDX-License-Identifier: MIT
#pragma once
// MissingFilesModel: the "Missing Files.." dialog's model over the
// catalogue's MissingFiles, for one showing of the dialog. The list and
// context must outlive it.

#include <atomic>

#include "catalogue/sync/missing_files.h"
#include "core/user_interface.h"

namespace vantrel {

class MissingFilesModel : public MissingFilesDialogModel {
 public:
  MissingFilesModel(SharedFileList& list, ProtocolContext& ctx);

  std::vector<Row> rows() const override;
  std::string browseProblem(std::size_t selectedRows) const override { return MissingFiles::browseProblem(selectedRows); }
  void replaceWith(const std::string& name, const std::string& path) override;
  std::string stopSharing(const std::vector<std::string>& names) override { return m_files.stopSharing(names); }
  void autoFind(const std::vector<std::string>& folders, const std::function<void(const std::string&)>& onLine) override;
  void stopSearching() override { m_stop = true; }
  std::vector<std::string> stopSharingNames() const override { return m_files.stopSharingNames(); }
  void apply() override { m_files.apply(m_ctx); }

 private:
  MissingFiles m_files;
  ProtocolContext& m_ctx;
  std::atomic<bool> m_stop{false};
};

}  // namespace vantrel
