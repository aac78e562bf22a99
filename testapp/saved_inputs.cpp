#include "testapp/saved_inputs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QWidget>
#include <functional>

#include "testapp/page_controls.h"

namespace varn::testapp {
namespace {

constexpr const char* kDateTimeFormat = "yyyy-MM-ddTHH:mm:ss";

QList<QRadioButton*> RadioButtons(QWidget& w) {
  return w.findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
}

bool IsRadioGroup(QWidget& w) {
  return qobject_cast<QGroupBox*>(&w) && !RadioButtons(w).empty();
}

// Inputs hold their own parts (a list's editor, a spin box's edit): the
// walk does not go into them.
bool IsInput(QWidget& w) {
  return qobject_cast<QLineEdit*>(&w) || qobject_cast<QAbstractSpinBox*>(&w) ||
         qobject_cast<QComboBox*>(&w) || qobject_cast<QCheckBox*>(&w) || IsRadioGroup(w);
}

// Every named widget under `parent` (windows of their own excepted), depth
// first, each after its own children, with its value name.
void Walk(QWidget& parent, const QString& parentName,
          const std::function<void(QWidget&, const std::string&)>& visit) {
  for (QObject* o : parent.children()) {
    auto* w = qobject_cast<QWidget*>(o);
    if (!w || w->isWindow()) continue;
    const QString name = w->objectName();
    // Qt's own unnamed or "qt_" parts add nothing to the names below them.
    const bool named = !name.isEmpty() && !name.startsWith("qt_");
    const QString valueName = named ? name + "." + parentName : parentName;
    if (!IsInput(*w)) Walk(*w, valueName, visit);
    if (named) visit(*w, valueName.toStdString());
  }
}

void ForEachControl(QWidget& root, const std::function<void(QWidget&, const std::string&)>& visit) {
  Walk(root, root.objectName(), visit);
}

RegValue Text(const QString& s) {
  return {RegValue::Type::String, s.toStdString(), 0};
}
RegValue Dword(int32_t v) {
  return {RegValue::Type::Dword, {}, static_cast<uint32_t>(v)};
}

}  // namespace

void SaveInputs(Registry& reg, QWidget& root, int pageIndex) {
  reg.Update([&](RegistryData& data) {
    data.Ensure(kSavedInputsKey);
    data.SetValue(kSavedInputsKey, kPageIndexValue, Dword(pageIndex));
    ForEachControl(root, [&](QWidget& w, const std::string& name) {
      auto put = [&](RegValue v) { data.SetValue(kSavedInputsKey, name, std::move(v)); };
      if (auto* e = qobject_cast<QLineEdit*>(&w)) {
        if (!e->isReadOnly()) put(Text(e->text()));
      } else if (auto* dt = qobject_cast<QDateTimeEdit*>(&w)) {
        put(Text(dt->dateTime().toString(kDateTimeFormat)));
      } else if (auto* n = qobject_cast<QAbstractSpinBox*>(&w)) {
        if (!n->isReadOnly()) put(Text(n->text()));
      } else if (auto* cb = qobject_cast<QComboBox*>(&w)) {
        put(Dword(cb->currentIndex()));
      } else if (auto* chb = qobject_cast<QCheckBox*>(&w)) {
        put(Dword(chb->isChecked() ? 1 : 0));
      } else if (IsRadioGroup(w)) {
        const QList<QRadioButton*> buttons = RadioButtons(w);
        int checked = -1;
        for (qsizetype i = 0; i < buttons.size(); ++i)
          if (buttons[i]->isChecked()) checked = static_cast<int>(i);
        put(Dword(checked));
      }
    });
  });
}

std::optional<int> RestoreInputs(const Registry& reg, QWidget& root) {
  const RegistryData data = reg.Load();
  if (!data.Exists(kSavedInputsKey)) {
    for (QComboBox* cb : root.findChildren<QComboBox*>())
      if (cb->count() > 0) cb->setCurrentIndex(0);
    return std::nullopt;
  }
  ForEachControl(root, [&](QWidget& w, const std::string& name) {
    const RegValue* v = data.Value(kSavedInputsKey, name);
    if (!v) return;
    const bool text = v->type == RegValue::Type::String;
    const QString s = QString::fromStdString(v->text);
    const int32_t n = static_cast<int32_t>(v->dword);
    if (auto* e = qobject_cast<QLineEdit*>(&w)) {
      if (text && !e->isReadOnly()) e->setText(s);
    } else if (auto* dt = qobject_cast<QDateTimeEdit*>(&w)) {
      const QDateTime when = QDateTime::fromString(s, kDateTimeFormat);
      if (text && when.isValid()) dt->setDateTime(when);
    } else if (auto* u = dynamic_cast<TUpDownEdit*>(&w)) {
      if (text && !u->isReadOnly()) u->SetText(s);
    } else if (auto* cb = qobject_cast<QComboBox*>(&w)) {
      if (!text && n >= -1 && n < cb->count()) cb->setCurrentIndex(n);
    } else if (auto* chb = qobject_cast<QCheckBox*>(&w)) {
      if (!text) chb->setChecked(n != 0);
    } else if (IsRadioGroup(w)) {
      const QList<QRadioButton*> buttons = RadioButtons(w);
      if (!text && n >= 0 && n < static_cast<int32_t>(buttons.size())) buttons[n]->setChecked(true);
    }
  });
  const RegValue* page = data.Value(kSavedInputsKey, kPageIndexValue);
  if (page && page->type == RegValue::Type::Dword) return static_cast<int32_t>(page->dword);
  return std::nullopt;
}

}  // namespace varn::testapp
