// TfmAbout: the modal "О программе" box: the logo, the program's title in a
// larger bold font and its file version.
#pragma once

#include <QDialog>

namespace varn {

class TfmAbout : public QDialog {
 public:
  explicit TfmAbout(QWidget* parent = nullptr);
};

}  // namespace varn
