// Печать графики: printing a range of the device's graphics lines, and
// loading a picture file into them by the driver's own loading.
#include <QGridLayout>

#include "testapp/form_controls.h"
#include "testapp/graphics.h"
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

class TfmGPrint : public TPage {
 public:
  TfmGPrint(QWidget* owner, TDriver& driver) : TPage(owner, driver) {
    setObjectName("fmGPrint");
    m_first = NumberEdit(this, "edtFirstLineNumber", 1);
    m_last = NumberEdit(this, "edtLastLineNumber", 200);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->addWidget(Caption(this, "Номер первой строки:", m_first), 0, 0);
    grid->addWidget(m_first, 0, 1);
    grid->addWidget(Caption(this, "Номер последней строки:", m_last), 1, 0);
    grid->addWidget(m_last, 1, 1);
    int row = 0;
    const auto add = [&](const char* name, const QString& text, std::function<void()> onClick) {
      grid->addWidget(ActionButton(this, name, text, std::move(onClick)), row++, 2);
    };
    add("btnDraw", "Печать картинки", [this] { Draw(); });
    add("btnDrawEx", "Расширенная печать", [this] { DrawEx(); });
    add("btnLoadBitmap", "Загрузка картинки из файла", [this] { LoadBitmap(u"LoadBitmap"); });
    add("btnLoadBitmapEx", "Расширенная загрузка из файла",
        [this] { LoadBitmap(u"LoadBitmapEx"); });
    add("btnLoadBMP", "LoadBMP", [this] { LoadBMP(); });
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(1, 1);
  }
  static QString PageTitle() { return "Печать графики"; }

 private:
  void Draw() {
    RunCall([&] {
      SetRange();
      BeforeCall();
      Driver().Call(u"Draw");
      AfterCall();
    });
  }

  // The range is set inside the timed part here.
  void DrawEx() {
    RunCall([&] {
      BeforeCall();
      SetRange();
      Driver().Call(u"DrawEx");
      AfterCall();
    });
  }

  // The range the driver left is shown whether the load went well or not.
  void LoadBitmap(const std::u16string& method) {
    const QString path = ChoosePicture(this);
    if (path.isEmpty()) return;
    RunCall([&] {
      BeforeCall();
      Driver().Call(method, {Variant(path.toStdU16String())});
      AfterCall();
      m_last->setText(QString::number(Driver().Int(u"LastLineNumber")));
      m_first->setText(QString::number(Driver().Int(u"FirstLineNumber")));
    });
  }

  void LoadBMP() {
    const QString path = ChoosePicture(this);
    if (path.isEmpty()) return;
    RunCall([&] {
      Driver().Set(u"FileName", path);
      BeforeCall();
      Driver().Call(u"LoadBMP");
      AfterCall();
    });
  }

  void SetRange() {
    Driver().Set(u"FirstLineNumber", ToInt(m_first->text()));
    Driver().Set(u"LastLineNumber", ToInt(m_last->text()));
  }

  QLineEdit* m_first;
  QLineEdit* m_last;
};

}  // namespace

TPageClass GPrintPage() {
  return PageClassOf<TfmGPrint>();
}

}  // namespace varn::testapp
