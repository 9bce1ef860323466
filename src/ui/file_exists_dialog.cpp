// SPDX-License-Identifier: MIT
#include "ui/file_exists_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "transfers/download_prompts.h"

namespace vantrel::ui {

FileExistsDialog::FileExistsDialog(const QString& fileName, QWidget* parent) : QDialog(parent) {
  setWindowTitle(FileExistsPrompt::kTitle);
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(FileExistsPrompt::kText);
  text->setWordWrap(true);
  auto* name = new QLabel(fileName);
  QFont bold = name->font();
  bold.setBold(true);
  name->setFont(bold);
  name->setTextFormat(Qt::PlainText);
  auto* note = new QLabel(FileExistsPrompt::kNote);
  note->setWordWrap(true);
  layout->addWidget(text);
  layout->addWidget(name);
  layout->addWidget(note);
  auto* buttons = new QHBoxLayout;
  // In the order of FileExistsPrompt::kButtons.
  constexpr ExistingFileChoice kChoices[4] = {ExistingFileChoice::Overwrite, ExistingFileChoice::Resume,
                                              ExistingFileChoice::ChangeDestination,
                                              ExistingFileChoice::CancelTransfer};
  for (int i = 0; i < 4; ++i) {
    auto* button = new QPushButton(FileExistsPrompt::kButtons[i]);
    button->setAutoDefault(false);
    const ExistingFileChoice choice = kChoices[i];
    connect(button, &QPushButton::clicked, this, [this, choice] {
      m_choice = choice;
      accept();
    });
    buttons->addWidget(button);
  }
  layout->addLayout(buttons);
  setMinimumWidth(480);
}

}  // namespace vantrel::ui
