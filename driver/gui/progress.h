// TfmProgress: the modal window of a background table read, with its two
// lines of text, the bar and "Прервать". The worker's calls are posted to
// the window's thread; TProgressOwner makes these windows for a dialog.
#pragma once

#include <QDialog>
#include <atomic>

#include "driver/services/operations.h"

class QLabel;
class QProgressBar;

namespace varn::gui {

class TfmProgress : public QDialog, public IProgressWindow {
 public:
  explicit TfmProgress(QWidget* owner);
  void SetCaption(const std::string& text) override;
  void SetMaximum(int32_t maximum) override;
  void ShowProgress(int32_t position, const std::string& info, const std::string& info2) override;
  void Close() override;
  bool ShowModal() override;

 private:
  QLabel* lblInfo;
  QLabel* lblInfo2;
  QProgressBar* ProgressBar;
  std::atomic<bool> m_closed{false};
};

class TProgressOwner : public IProgressOwner {
 public:
  explicit TProgressOwner(QWidget* owner) : m_owner(owner) {}
  std::unique_ptr<IProgressWindow> CreateProgressWindow() override {
    return std::make_unique<TfmProgress>(m_owner);
  }

 private:
  QWidget* m_owner;
};

}  // namespace varn::gui
