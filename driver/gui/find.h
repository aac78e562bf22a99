// TfmFind: the device search window ("Поиск оборудования"): the list of
// ports with the rate and what answered, a busy indicator, start, stop and
// close. The search's worker calls the list; the window posts each call to
// its own thread. A double-click on a found device chooses it.
#pragma once

#include <QDialog>
#include <memory>

#include "driver/services/search.h"

class QTreeWidget;
class QPushButton;
class QProgressBar;

namespace varn::gui {

class TfmFind : public QDialog, public ISearchList {
 public:
  TfmFind(QWidget* owner, IDispatch& drv);
  ~TfmFind() override;
  // Shows the window modally, then writes the saved or chosen settings back.
  void Run();

  void Cleared() override;
  void LineAdded(size_t index, const TSearchLine& line) override;
  void LineChanged(size_t index, const TSearchLine& line) override;
  void Finished(const std::string& error) override;

 private:
  void SetLine(size_t index, const TSearchLine& line);
  void Start();
  void Stop();
  void Choose();
  void done(int result) override;

  QTreeWidget* ListView;
  QPushButton* btnStart;
  QPushButton* btnStop;
  QPushButton* btnClose;
  QProgressBar* Animate;
  std::unique_ptr<TDeviceSearch> m_search;
};

}  // namespace varn::gui
