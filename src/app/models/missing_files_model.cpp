// SPDX-License-Identifier: MIT
#include "app/models/missing_files_model.h"

#include "platform/file_status.h"

namespace vantrel {

MissingFilesModel::MissingFilesModel(SharedFileList& list, ProtocolContext& ctx) : m_files(list), m_ctx(ctx) {}

std::vector<MissingFilesDialogModel::Row> MissingFilesModel::rows() const {
  std::vector<Row> out;
  for (const auto& [name, row] : m_files.rows()) out.push_back({name, row.recordedSize, row.replacement, row.replacementSize});
  return out;
}

void MissingFilesModel::replaceWith(const std::string& name, const std::string& path) {
  FileStatus status;
  m_files.setReplacement(name, path, statFile(path, status).ok() ? status.size : 0);
}

void MissingFilesModel::autoFind(const std::vector<std::string>& folders,
                                     const std::function<void(const std::string&)>& onLine) {
  m_stop = false;
  m_files.autoFind(folders, m_stop, onLine);
}

}  // namespace vantrel
