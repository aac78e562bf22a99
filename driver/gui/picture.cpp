// TfmPicture: a BMP opened, shown in one bit per pixel, written to the
// device's graphics lines row by row, and printed as a test.
#include <QApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "driver/base/bitmap.h"
#include "driver/gui/dialogs.h"
#include "driver/gui/gui_common.h"
#include "driver/gui/picture.h"
#include "platform/text.h"

namespace varn::gui {
namespace {

constexpr int kRows = 200;  // LoadLineData's part of the line memory
constexpr int kLineDots = 320;
// What the dialog keeps of a picture to show it: bounded, since a small
// compressed file may claim any size.
constexpr TBitmapLimits kShownLimits{4096, 4096};

}  // namespace

TfmPicture::TfmPicture(QWidget* owner, IDispatch& drv) : QDialog(owner), m_drv(drv) {
  setObjectName("TfmPicture");
  setWindowTitle("Загрузка изображения");
  auto* layout = new QVBoxLayout(this);
  Image = new QLabel;
  Image->setObjectName("Image");
  Image->setAlignment(Qt::AlignCenter);
  Image->setBackgroundRole(QPalette::Base);
  Image->setAutoFillBackground(true);
  auto* scroll = new QScrollArea;
  scroll->setWidget(Image);
  scroll->setWidgetResizable(true);
  scroll->setMinimumSize(360, 260);
  layout->addWidget(scroll, 1);
  ProgressBar = new QProgressBar;
  ProgressBar->setObjectName("ProgressBar");
  ProgressBar->setRange(0, 100);
  ProgressBar->setValue(0);
  layout->addWidget(ProgressBar);
  auto* buttons = new QHBoxLayout;
  btnOpen = new QPushButton("Открыть файл");
  btnOpen->setObjectName("btnOpen");
  btnDownload = new QPushButton("Записать");
  btnDownload->setObjectName("btnDownload");
  btnTestPrint = new QPushButton("Пробная печать");
  btnTestPrint->setObjectName("btnTestPrint");
  btnDownload->setEnabled(false);
  btnTestPrint->setEnabled(false);
  buttons->addWidget(btnOpen);
  buttons->addWidget(btnDownload);
  buttons->addWidget(btnTestPrint);
  buttons->addStretch();
  btnClose = new QPushButton("Закрыть");
  btnClose->setObjectName("btnClose");
  buttons->addWidget(btnClose);
  layout->addLayout(buttons);
  connect(btnOpen, &QPushButton::clicked, this, [this] {
    const QString file =
        QFileDialog::getOpenFileName(this, QString(), QString(), "Bitmaps (*.bmp)");
    if (!file.isEmpty()) Guard([&] { OpenFile(file); });
  });
  connect(btnDownload, &QPushButton::clicked, this, [this] { Guard([this] { Download(); }); });
  connect(btnTestPrint, &QPushButton::clicked, this, [this] { Guard([this] { TestPrint(); }); });
  connect(btnClose, &QPushButton::clicked, this, [this] { reject(); });
}

TfmPicture::~TfmPicture() = default;

void TfmPicture::Guard(const std::function<void()>& action) {
  // The writes let the window process its messages: no second action may
  // start meanwhile.
  const bool loaded = m_bitmap != nullptr;
  for (auto* b : {btnOpen, btnDownload, btnTestPrint, btnClose}) b->setEnabled(false);
  try {
    action();
  } catch (...) {
    ShowError(this, CurrentErrorText());
  }
  btnOpen->setEnabled(true);
  btnClose->setEnabled(true);
  btnDownload->setEnabled(loaded || m_bitmap);
  btnTestPrint->setEnabled(loaded || m_bitmap);
}

void TfmPicture::OpenFile(const QString& file) {
  m_bitmap = std::make_shared<TMonoBitmap>(LoadBmpFile(U8(file), kShownLimits));
  const TMonoBitmap& b = *m_bitmap;
  QImage image(b.width, b.height, QImage::Format_Mono);
  image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  for (int y = 0; y < b.height; ++y)
    std::copy(b.Row(y), b.Row(y) + b.RowBytes(), image.scanLine(y));
  Image->setPixmap(QPixmap::fromImage(image));
  btnDownload->setEnabled(true);
  btnTestPrint->setEnabled(true);
}

void TfmPicture::Download() {
  if (!m_bitmap) return;
  const TMonoBitmap& b = *m_bitmap;
  const int h = std::min(b.height, kRows);
  const int w = std::min(b.width, kLineDots);
  DriverClient d(m_drv);
  {
    // Disconnect and UnlockPort for whatever had succeeded; a failure of
    // theirs is not reported over the first one.
    DriverSession session(d);
    for (int y = 0; y < h; ++y) {
      // Row y to line y, as the driver's own loading does: the test print
      // of lines 1 to h (the print range counts from 1) prints the picture.
      d.Set(u"LineNumber", y);
      PutProperty(m_drv, u"LineData", Variant(Cp1251ToUtf16(DeviceLineBytes(b, y, w))));
      d.Check(u"LoadLineData");
      ProgressBar->setValue(h > 1 ? y * 100 / (h - 1) : 100);
      QApplication::processEvents();
    }
  }
  ProgressBar->setValue(0);
}

void TfmPicture::TestPrint() {
  if (!m_bitmap) return;
  DriverClient d(m_drv);
  DriverSession session(d);
  d.Set(dd::kFirstLineNumber, 1);
  d.Set(dd::kLastLineNumber, std::min(m_bitmap->height, kRows));
  d.Check(dd::kDraw);
}

void ShowPictureDialog(QWidget* owner, IDispatch& drv) {
  TfmPicture dialog(owner, drv);
  dialog.exec();
}

}  // namespace varn::gui
