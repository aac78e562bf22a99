// TfmMain: the test program's main window. The page list on the left, the
// page shown in pnlData, and below them the outcome of the last driver
// call: its time, "(code) text", the bytes sent and the exchange received.
// The page inputs are restored at start and saved when the window goes.
//
//   TfmMain w;   // builds the pages, shows page 0, restores saved inputs
//   w.show();
#pragma once

#include <QString>
#include <QWidget>
#include <chrono>
#include <memory>
#include <vector>

#include "testapp/driver.h"
#include "testapp/pages.h"

class QLineEdit;
class QListWidget;
class QStackedLayout;

namespace varn::testapp {

class TPageList;

// One entry of the page list: the page class and its page once created.
// Made with a list, it joins it; destroyed, it leaves it (and destroys the
// page).
class TPageItem {
 public:
  TPageItem(TPageList* owner, TPageClass pageClass);
  ~TPageItem();
  TPageItem(const TPageItem&) = delete;
  TPageItem& operator=(const TPageItem&) = delete;

  const TPageClass PageClass;
  TPage* Page = nullptr;
  TPageList* Owner() const { return m_owner; }

 private:
  TPageList* m_owner;
};

// Owns its items in order.
class TPageList {
 public:
  TPageList() = default;
  ~TPageList();
  TPageList(const TPageList&) = delete;
  TPageList& operator=(const TPageList&) = delete;
  int Count() const { return m_items ? static_cast<int>(m_items->size()) : 0; }
  TPageItem* Item(int index) const { return (*m_items)[static_cast<size_t>(index)]; }

 private:
  friend class TPageItem;
  void Add(TPageItem* item);
  void Remove(TPageItem* item);
  // Made at the first add, dropped when the last item leaves.
  std::unique_ptr<std::vector<TPageItem*>> m_items;
};

// The window's client area as designed; larger only where texts need it.
inline constexpr int kClientWidth = 517;
inline constexpr int kClientHeight = 416;

// The program's version, "%d.%d.%d.%d".
QString TestVersion();

class TfmMain : public QWidget {
 public:
  // `progId`: what the driver object is created as (tests pass the same).
  explicit TfmMain(std::u16string progId = kDriverProgId);
  ~TfmMain() override;

  TDriver& Driver() { return m_driver; }
  TPageList& Pages() { return m_pages; }
  // The page of that index becomes the one shown; std::out_of_range
  // "Invalid page index" outside the list.
  void ShowPage(int index);
  int PageIndex() const { return m_pageIndex; }
  TPage* CurrentPage() const { return m_pageIndex < 0 ? nullptr : m_pages.Item(m_pageIndex)->Page; }

 private:
  void Build();
  void CreatePages();
  void BeforeCallHandler(TPage&);
  void AfterCallHandler(TPage&);
  void ShowAbout();
  void ShowProperties();
  void RestoreInputs();
  void SaveInputs();

  // Declared before the pages: it outlives them.
  TDriver m_driver;
  TPageList m_pages;
  int m_pageIndex = -1;
  std::chrono::steady_clock::time_point m_tick;  // at the last BeforeCall

  QListWidget* m_list = nullptr;
  QWidget* m_data = nullptr;
  QStackedLayout* m_stack = nullptr;
  QLineEdit* m_time = nullptr;
  QLineEdit* m_result = nullptr;
  QLineEdit* m_input = nullptr;
  QLineEdit* m_output = nullptr;
};

}  // namespace varn::testapp
