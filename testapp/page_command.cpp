// Команда: any frame, typed as hexadecimal bytes, sent as it is.
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <stdexcept>
#include <string>

#include "platform/text.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "testapp/command_text.h"
#include "testapp/page_controls.h"
#include "testapp/pages.h"

namespace varn::testapp {

std::string ParseCommandText(const QString& text) {
  // Cut at each single blank: two blanks in a row leave an empty token.
  const QString s = text.trimmed() + ' ';
  std::string bytes;
  qsizetype from = 0;
  while (from < s.size()) {
    const qsizetype blank = s.indexOf(' ', from);
    const QString token = s.mid(from, blank - from);
    if (token.size() < 1 || token.size() > 2)
      throw std::invalid_argument("Недопустимый символ в строке");
    int value = 0;
    for (const QChar c : token) {
      const int digit = c.unicode() < 0x80 ? HexDigitValue(static_cast<char>(c.unicode())) : -1;
      if (digit < 0)
        throw std::invalid_argument("'" + token.toStdString() +
                                    "' не является шестнадцатеричным числом.");
      value = value * 16 + digit;
    }
    bytes += static_cast<char>(value);
    from = blank + 1;
  }
  return bytes;
}

namespace {

// The beep (0x13) with the operator password, framed with its check byte.
QString SampleCommand() {
  return QString::fromStdString(HexDump(protocol::Frame(protocol::Request(protocol::cmd::Beep))));
}

class TfmCommand : public TCallPage {
 public:
  TfmCommand(QWidget* owner, TDriver& driver) : TCallPage(owner, driver) {
    setObjectName("fmCommand");
    m_command = new QLineEdit(SampleCommand());
    m_command->setObjectName("edtCommand");
    auto* grid = new QGridLayout(this);
    grid->addWidget(NewLabel("lblCommand", "Команда:", m_command), 0, 0);
    grid->addWidget(m_command, 0, 1);
    grid->addWidget(AddButton("btnExecute", "Выполнить",
                              [this] {
                                const std::string bytes = ParseCommandText(m_command->text());
                                Driver().Set(drv_dispid::kTransferBytes,
                                             Variant(Cp1251ToUtf16(bytes)));
                                CallDriver(drv_dispid::kExchangeBytes);
                              }),
                    1, 1, Qt::AlignLeft);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(2, 1);
  }
  static QString PageTitle() { return "Команда"; }

 private:
  QLineEdit* m_command;
};

}  // namespace

TPageClass CommandPage() {
  return PageClassOf<TfmCommand>();
}

}  // namespace varn::testapp
