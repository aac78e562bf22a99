// Small makers of the controls the graphics, tables and device pages are
// built from: each control gets its design name as object name (saved
// inputs and tests find it by that name).
//
//   QLineEdit* e = NumberEdit(this, "edtTableNumber", 1);
//   ActionButton(this, "btnReadTable", "Прочитать таблицу", [this] { ReadTable(); });
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <functional>

namespace varn::testapp {

// A push button that runs `onClick`.
inline QPushButton* ActionButton(QWidget* page, const char* name, const QString& text,
                                 std::function<void()> onClick) {
  auto* b = new QPushButton(text, page);
  b->setObjectName(name);
  QObject::connect(b, &QPushButton::clicked, page, [run = std::move(onClick)] { run(); });
  return b;
}

// A text field; `width` fixes it (0 lets the layout decide).
inline QLineEdit* TextEdit(QWidget* page, const char* name, const QString& text, int width = 0) {
  auto* e = new QLineEdit(text, page);
  e->setObjectName(name);
  if (width > 0) e->setFixedWidth(width);
  return e;
}

// A number field. It keeps any text: a text that is not a number is the
// conversion error of the button that reads it, not something refused here.
inline QLineEdit* NumberEdit(QWidget* page, const char* name, int value, int width = 64) {
  return TextEdit(page, name, QString::number(value), width);
}

inline QLabel* Caption(QWidget* page, const QString& text, QWidget* buddy = nullptr) {
  auto* l = new QLabel(text, page);
  if (buddy) l->setBuddy(buddy);
  return l;
}

// "COM 1" .. "COM 32": entry k stands for port k + 1.
inline QComboBox* ComPortList(QWidget* page, const char* name) {
  auto* c = new QComboBox(page);
  c->setObjectName(name);
  for (int n = 1; n <= 32; ++n) c->addItem(QString("COM %1").arg(n));
  return c;
}

// The baud-rate codes 0..6 as the entry index.
inline QComboBox* BaudRateList(QWidget* page, const char* name) {
  auto* c = new QComboBox(page);
  c->setObjectName(name);
  c->addItems({"2400", "4800", "9600", "19200", "38400", "57600", "115200"});
  return c;
}

}  // namespace varn::testapp
