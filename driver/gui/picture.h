// TfmPicture ("Загрузка изображения"): opens a BMP, shows it in one bit per
// pixel, writes its first 200 rows (320 pixels each) to the device's
// graphics lines with progress, and prints them as a test.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "platform/automation/dispatch.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace varn {
struct TMonoBitmap;
}

namespace varn::gui {

class TfmPicture : public QDialog {
 public:
  TfmPicture(QWidget* owner, IDispatch& drv);
  ~TfmPicture() override;
  void OpenFile(const QString& file);  // raises when it cannot be decoded
  void Download();
  void TestPrint();

 private:
  void Guard(const std::function<void()>& action);

  IDispatch& m_drv;
  std::shared_ptr<TMonoBitmap> m_bitmap;
  QLabel* Image;
  QProgressBar* ProgressBar;
  QPushButton* btnOpen;
  QPushButton* btnDownload;
  QPushButton* btnTestPrint;
  QPushButton* btnClose;
};

}  // namespace varn::gui
