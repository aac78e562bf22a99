#include "driver/gui/progress.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "driver/gui/gui_common.h"

namespace varn::gui {

TfmProgress::TfmProgress(QWidget* owner) : QDialog(owner) {
  setObjectName("TfmProgress");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  auto* layout = new QVBoxLayout(this);
  lblInfo = new QLabel;
  lblInfo->setObjectName("lblInfo");
  lblInfo2 = new QLabel;
  lblInfo2->setObjectName("lblInfo2");
  ProgressBar = new QProgressBar;
  ProgressBar->setObjectName("ProgressBar");
  ProgressBar->setRange(0, 100);
  ProgressBar->setValue(0);
  ProgressBar->setTextVisible(false);
  ProgressBar->setMinimumWidth(360);
  auto* btnCancel = new QPushButton("Прервать");
  btnCancel->setObjectName("btnCancel");
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  layout->addWidget(lblInfo);
  layout->addWidget(lblInfo2);
  layout->addWidget(ProgressBar);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnCancel);
  buttons->addStretch();
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TfmProgress::SetCaption(const std::string& text) {
  setWindowTitle(Q(text));
}

void TfmProgress::SetMaximum(int32_t maximum) {
  ProgressBar->setMaximum(maximum);
}

void TfmProgress::ShowProgress(int32_t position, const std::string& info,
                               const std::string& info2) {
  QMetaObject::invokeMethod(
      this,
      [this, position, info = Q(info), info2 = Q(info2)] {
        lblInfo->setText(info);
        lblInfo2->setText(info2);
        ProgressBar->setValue(std::min(position, ProgressBar->maximum()));
      },
      Qt::QueuedConnection);
}

void TfmProgress::Close() {
  m_closed = true;
  QMetaObject::invokeMethod(
      this, [this] { accept(); }, Qt::QueuedConnection);
}

bool TfmProgress::ShowModal() {
  if (m_closed) return true;
  return exec() == QDialog::Accepted;
}

}  // namespace varn::gui
