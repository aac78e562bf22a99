#include "server/window/fmu_about.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "server/app/program.h"
#include "server/varn_srv.h"

namespace varn {

TfmAbout::TfmAbout(QWidget* parent) : QDialog(parent) {
  setObjectName("fmAbout");
  setWindowTitle("О программе");

  auto* logo = new QLabel;
  logo->setObjectName("imgLogo");
  logo->setPixmap(QPixmap(":/varn/logo.png"));
  logo->setAlignment(Qt::AlignTop);

  auto* title = new QLabel(kServerTitle);
  title->setObjectName("lblTitle");
  QFont big = title->font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * 1.6);
  title->setFont(big);
  auto* version = new QLabel("Версия: " + QString::fromStdString(VarnSrvFileVersion()));
  version->setObjectName("lblVersion");

  auto* texts = new QVBoxLayout;
  texts->addWidget(title);
  texts->addWidget(version);
  texts->addStretch(1);
  auto* top = new QHBoxLayout;
  top->addWidget(logo);
  top->addSpacing(12);
  top->addLayout(texts, 1);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("btnOK");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace varn
