// TAxCtrl: the driver as a control on a form: a 40 x 40 opaque widget with
// a one-pixel raised frame and the driver's picture centred in it. It takes
// no input: hosts that only host the driver do not show it.
#pragma once

#include <QPixmap>
#include <QWidget>

namespace varn::gui {

// The picture alone (24 x 24), for a window that shows the driver's icon.
QPixmap DriverPicture();

class TAxCtrl : public QWidget {
 public:
  explicit TAxCtrl(QWidget* parent = nullptr);
  QSize sizeHint() const override { return {40, 40}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap m_bitmap;
};

}  // namespace varn::gui
