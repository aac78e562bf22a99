#include "driver/gui/params.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace varn::gui {

DriverClient& TParamPage::Driver() {
  return Pages->Driver();
}

TfmLog::TfmLog() {
  setObjectName("TfmLog");
  setWindowTitle("Лог");
  auto* layout = new QVBoxLayout(this);
  chbLogEnabled = new QCheckBox("Вести лог");
  chbLogEnabled->setObjectName("chbLogEnabled");
  layout->addWidget(chbLogEnabled);
  auto* file = new QHBoxLayout;
  lblFileName = new QLabel("Файл:");
  edtFileName = new QLineEdit;
  edtFileName->setObjectName("edtFileName");
  // Room for a usual log path (~/.local/state/varn/VarnDrv.log and longer).
  edtFileName->setMinimumWidth(edtFileName->fontMetrics().averageCharWidth() * 48);
  btnFileName = new QToolButton;
  btnFileName->setObjectName("btnFileName");
  btnFileName->setText("...");
  file->addWidget(lblFileName);
  file->addWidget(edtFileName, 1);
  file->addWidget(btnFileName);
  layout->addLayout(file);
  layout->addStretch();
  connect(chbLogEnabled, &QCheckBox::toggled, this, [this] { UpdateEnabling(); });
  connect(btnFileName, &QToolButton::clicked, this, [this] {
    // A save dialog, so that a file not there yet can be named (the log is
    // appended to, never replaced, so no question about an existing one).
    // Each filter's last brackets are what it matches: "(*.*)" is only its
    // name, as "*" is what matches every file, a dot in its name or not.
    // Qt's own dialog, where the names show as they are written here.
    const QString name = QFileDialog::getSaveFileName(
        this, QString(), edtFileName->text(), "Файлы лога (*.log) (*.log);;Все файлы (*.*) (*)",
        nullptr,
        QFileDialog::DontConfirmOverwrite | QFileDialog::HideNameFilterDetails |
            QFileDialog::DontUseNativeDialog);
    if (!name.isEmpty()) edtFileName->setText(name);
  });
}

void TfmLog::Load() {
  edtFileName->setText(QText(Driver(), dd::kLogFileName));
  edtFileName->setCursorPosition(0);
  chbLogEnabled->setChecked(Driver().Bool(dd::kLogEnabled));
  UpdateEnabling();
}

void TfmLog::Apply() {
  SetText(Driver(), dd::kLogFileName, edtFileName->text());
  Driver().Set(dd::kLogEnabled, chbLogEnabled->isChecked());
}

void TfmLog::UpdateEnabling() {
  const bool on = chbLogEnabled->isChecked();
  lblFileName->setEnabled(on);
  edtFileName->setEnabled(on);
  btnFileName->setEnabled(on);
}

TfmParams::TfmParams(QWidget* owner, IDispatch& drv) : QDialog(owner), m_pages(drv) {
  setObjectName("TfmParams");
  setWindowTitle("Дополнительные параметры");
  auto* layout = new QVBoxLayout(this);
  auto* body = new QHBoxLayout;
  ListBox = new QListWidget;
  ListBox->setObjectName("ListBox");
  ListBox->setFixedWidth(120);
  pnlData = new QStackedWidget;
  pnlData->setObjectName("pnlData");
  body->addWidget(ListBox);
  body->addWidget(pnlData, 1);
  layout->addLayout(body, 1);
  auto* buttons = new QDialogButtonBox;
  auto* btnOK = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
  btnOK->setObjectName("btnOK");
  auto* btnCancel = buttons->addButton("Отмена", QDialogButtonBox::RejectRole);
  btnCancel->setObjectName("btnCancel");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  m_pages.Add(new TfmLog);
  for (TParamPage* page : m_pages.Items()) {
    ListBox->addItem(page->windowTitle());
    pnlData->addWidget(page);
  }
  connect(ListBox, &QListWidget::currentRowChanged, pnlData, &QStackedWidget::setCurrentIndex);
  ListBox->setCurrentRow(0);
  m_pages.LoadAll();
  resize(480, 220);
}

void TfmParams::ApplyAll() {
  m_pages.ApplyAll();
}

}  // namespace varn::gui
