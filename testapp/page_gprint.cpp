// Печать графики: printing a range of the device's graphics lines, and
// loading a picture file into them by the driver's own loading.
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "testapp/graphics.h"
#include "testapp/page_controls.h"
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

class TfmGPrint : public TCallPage {
 public:
  TfmGPrint(QWidget* owner, TDriver& driver) : TCallPage(owner, driver) {
    setObjectName("fmGPrint");
    m_first = new TUpDownEdit("edtFirstLineNumber", "1", 0, 32767);
    m_last = new TUpDownEdit("edtLastLineNumber", "200", 0, 32767);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->addWidget(NewLabel("lblFirstLineNumber", "Номер первой строки:", m_first), 0, 0);
    grid->addWidget(m_first, 0, 1);
    grid->addWidget(NewLabel("lblLastLineNumber", "Номер последней строки:", m_last), 1, 0);
    grid->addWidget(m_last, 1, 1);
    // The buttons in a column under the fields, as wide as the two.
    int row = 2;
    const auto add = [&](const char* name, const QString& text, std::function<void()> onClick) {
      grid->addWidget(AddButton(name, text, std::move(onClick)), row++, 0, 1, 2);
    };
    add("btnDraw", "Печать картинки", [this] { Draw(); });
    add("btnDrawEx", "Расширенная печать", [this] { DrawEx(); });
    add("btnLoadBitmap", "Загрузка картинки из файла",
        [this] { LoadBitmap(drv_dispid::kLoadBitmap); });
    add("btnLoadBitmapEx", "Расширенная загрузка из файла",
        [this] { LoadBitmap(drv_dispid::kLoadBitmapEx); });
    add("btnLoadBMP", "LoadBMP", [this] { LoadBMP(); });
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(2, 1);
  }
  static QString PageTitle() { return "Печать графики"; }

 private:
  void Draw() {
    SetRange();
    CallDriver(drv_dispid::kDraw);
  }

  // The range is set inside the timed part here.
  void DrawEx() {
    BeforeCall();
    SetRange();
    Driver().Call(drv_dispid::kDrawEx);
    AfterCall();
  }

  // The range the driver left is shown whether the load went well or not.
  void LoadBitmap(DISPID method) {
    const QString path = ChoosePicture(this);
    if (path.isEmpty()) return;
    BeforeCall();
    Driver().Call(method, {Variant(path.toStdU16String())});
    AfterCall();
    m_last->SetText(Num(Driver().Int(drv_dispid::kLastLineNumber)));
    m_first->SetText(Num(Driver().Int(drv_dispid::kFirstLineNumber)));
  }

  void LoadBMP() {
    const QString path = ChoosePicture(this);
    if (path.isEmpty()) return;
    Driver().Set(drv_dispid::kFileName, path);
    CallDriver(drv_dispid::kLoadBMP);
  }

  void SetRange() {
    Driver().Set(drv_dispid::kFirstLineNumber, ToInt(m_first->text()));
    Driver().Set(drv_dispid::kLastLineNumber, ToInt(m_last->text()));
  }

  TUpDownEdit* m_first;
  TUpDownEdit* m_last;
};

}  // namespace

TPageClass GPrintPage() {
  return PageClassOf<TfmGPrint>();
}

}  // namespace varn::testapp
