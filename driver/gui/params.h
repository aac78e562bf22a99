// TfmParams ("Дополнительные параметры"): a list of page titles beside the
// selected page; OK applies every page (TParamPages::ApplyAll). TfmLog, its
// one page ("Лог"): the driver log's switch and file.
#pragma once

#include <QDialog>
#include <QWidget>
#include <vector>

#include "driver/gui/gui_common.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QStackedWidget;
class QToolButton;

namespace varn::gui {

class TParamPages;

class TParamPage : public QWidget {
 public:
  using QWidget::QWidget;
  virtual void Load() = 0;
  virtual void Apply() = 0;
  DriverClient& Driver();
  TParamPages* Pages = nullptr;
};

class TParamPages {
 public:
  explicit TParamPages(IDispatch& drv) : m_drv(drv) {}
  void Add(TParamPage* page) {
    page->Pages = this;
    m_pages.push_back(page);
  }
  void LoadAll() {
    for (auto* p : m_pages) p->Load();
  }
  void ApplyAll() {
    for (auto* p : m_pages) p->Apply();
  }
  DriverClient& Driver() { return m_drv; }
  const std::vector<TParamPage*>& Items() const { return m_pages; }

 private:
  DriverClient m_drv;
  std::vector<TParamPage*> m_pages;
};

class TfmLog : public TParamPage {
 public:
  TfmLog();
  void Load() override;
  void Apply() override;

 private:
  void UpdateEnabling();
  QCheckBox* chbLogEnabled;
  QLabel* lblFileName;
  QLineEdit* edtFileName;
  QToolButton* btnFileName;
};

class TfmParams : public QDialog {
 public:
  TfmParams(QWidget* owner, IDispatch& drv);
  void ApplyAll();

 private:
  TParamPages m_pages;
  QListWidget* ListBox;
  QStackedWidget* pnlData;
};

}  // namespace varn::gui
