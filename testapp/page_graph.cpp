// Графика: a picture from a file, its two conversions to black and white,
// and its loading into the device's graphics lines in three ways.
#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <algorithm>
#include <stdexcept>

#include "platform/text.h"
#include "testapp/graphics.h"
#include "testapp/page_controls.h"
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

// Lines sent by LoadLineData, and by the other two ways.
constexpr int kLoadLines = 200;
constexpr int kLoadLinesEx = 1200;

class TfmGraph : public TCallPage {
 public:
  TfmGraph(QWidget* owner, TDriver& driver) : TCallPage(owner, driver) {
    setObjectName("fmGraph");
    m_image = new QLabel(this);
    m_image->setObjectName("Image");
    m_image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A picture bigger than the area is scrolled, as the device's 320 dots
    // are wider than the page has room for beside the buttons.
    auto* area = new QScrollArea;
    area->setObjectName("ImageArea");
    area->setWidget(m_image);
    area->setWidgetResizable(true);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName("ProgressBar");
    m_progress->setTextVisible(false);
    m_progress->hide();

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->addWidget(area, 0, 0, 7, 1);
    int row = 0;
    const auto add = [&](const char* name, const QString& text, std::function<void()> onClick) {
      grid->addWidget(AddButton(name, text, std::move(onClick)), row++, 1);
    };
    add("btnOpen", "Открыть файл", [this] { OpenFile(); });
    add("btnMonochrome1", "Монохромизировать1", [this] { Convert(&Monochrome1); });
    add("btnMonochrome2", "Монохромизировать2", [this] { Convert(&Monochrome2); });
    add("btnLoadLineData", "Загрузка картинки",
        [this] { LoadLines(drv_dispid::kLoadLineData, kLoadLines); });
    add("btnLoadLineDataEx", "Расширенная загрузка",
        [this] { LoadLines(drv_dispid::kLoadLineDataEx, kLoadLinesEx); });
    add("btnWideLoadLineData", "Загрузка 1 командой", [this] { LoadAtOnce(); });
    grid->setRowStretch(row, 1);
    grid->addWidget(m_progress, 7, 0, 1, 2);
    grid->setColumnStretch(0, 1);
  }
  static QString PageTitle() { return "Графика"; }

 private:
  void OpenFile() {
    const QString path = ChoosePicture(this);
    if (path.isEmpty()) return;
    BeforeCall();
    QImage picture(path);
    if (picture.isNull())
      throw std::runtime_error("Файл не является изображением: " + path.toStdString());
    m_picture = picture;
    ShowPicture();
    AfterCall();
  }

  // The picture changes in place; the progress bar shows while it works.
  void Convert(QImage (*convert)(const QImage&, const Progress&)) {
    if (m_picture.isNull()) return;
    Working working(*m_progress);
    m_picture = convert(m_picture, [&](int position, int maximum) {
      m_progress->setMaximum(maximum);
      m_progress->setValue(std::min(position, maximum));
    });
    ShowPicture();
  }

  // One line per call; a refused line asks whether to go on.
  void LoadLines(DISPID method, int limit) {
    if (m_picture.isNull()) return;
    const int n = std::min(m_picture.height(), limit);
    Working working(*m_progress);
    m_progress->setRange(0, n);
    BeforeCall();
    for (int y = 0; y < n; ++y) {
      Driver().Set(drv_dispid::kLineNumber, y);
      Driver().Set(drv_dispid::kLineData, LineText(y));
      const int32_t result = Driver().Call(method);
      m_progress->setValue(y + 1);
      if (result != 0 && !GoOn()) break;
    }
    AfterCall();
  }

  void LoadAtOnce() {
    if (m_picture.isNull()) return;
    const int n = std::min(m_picture.height(), kLoadLinesEx);
    std::string bytes;
    bytes.reserve(static_cast<size_t>(n) * kLineBytes);
    for (int y = 0; y < n; ++y) bytes += LineData(m_picture, y);
    Driver().Set(drv_dispid::kLineData, QString::fromStdU16String(Cp1251ToUtf16(bytes)));
    Driver().Set(drv_dispid::kLineNumber, 0);
    CallDriver(drv_dispid::kWideLoadLineData);
  }

  bool GoOn() {
    const QString text = QString("(%1) %2.\n\rПродолжить загрузку ?")
                             .arg(Driver().Int(drv_dispid::kResultCode))
                             .arg(Driver().Text(drv_dispid::kResultCodeDescription));
    QMessageBox box(QMessageBox::Warning, AppTitle(), text, QMessageBox::Yes | QMessageBox::No,
                    this);
    return box.exec() == QMessageBox::Yes;
  }

  // The bytes cross as text, one character per byte (the driver takes it
  // back to bytes by the same code page).
  QString LineText(int y) const {
    return QString::fromStdU16String(Cp1251ToUtf16(LineData(m_picture, y)));
  }

  void ShowPicture() { m_image->setPixmap(QPixmap::fromImage(m_picture)); }

  // The progress bar is seen only while the page works.
  class Working {
   public:
    explicit Working(QProgressBar& bar) : m_bar(bar) {
      m_bar.setValue(0);
      m_bar.show();
    }
    ~Working() { m_bar.hide(); }

   private:
    QProgressBar& m_bar;
  };

  QLabel* m_image;
  QProgressBar* m_progress;
  QImage m_picture;
};

}  // namespace

TPageClass GraphPage() {
  return PageClassOf<TfmGraph>();
}

}  // namespace varn::testapp
