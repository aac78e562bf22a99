// Проверка связи: Connect again and again until stopped, with the rate,
// the failures and the times on the page. Window events run between the
// calls, so "Прервать" (or closing the window) can stop it.
#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <chrono>

#include "testapp/page_controls.h"
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

class TfmTest : public TCallPage {
 public:
  TfmTest(QWidget* owner, TDriver& driver) : TCallPage(owner, driver) {
    setObjectName("fmTest");
    auto* grid = new QGridLayout(this);
    const struct {
      const char* name;
      const char* text;
      QLabel** value;
    } figures[] = {{"lblCount", "Количество повторов:", &m_count},
                   {"lblErrors", "Количество ошибок:", &m_errors},
                   {"lblSpeed", "Скорость, команд/c:", &m_speed},
                   {"lblErrorRate", "Процент ошибок:", &m_errorRate},
                   {"lblTestTime", "Время теста, секунд:", &m_testTime},
                   {"lblCommandTime", "Время команды, мс.:", &m_commandTime}};
    int row = 0;
    for (const auto& f : figures) {
      *f.value = new QLabel("0");
      (*f.value)->setObjectName(QString(f.name) + "Value");
      grid->addWidget(NewLabel(f.name, f.text), row, 0);
      grid->addWidget(*f.value, row, 1);
      ++row;
    }
    grid->setRowMinimumHeight(row++, 8);
    m_start = AddButton("btnStart", "Начать", [this] { Run(); });
    // Not a call: it only raises the stop flag, while the test runs.
    m_stopButton = new QPushButton("Прервать");
    m_stopButton->setObjectName("btnStop");
    QObject::connect(m_stopButton, &QPushButton::clicked, this, [this] { m_stop = true; });
    m_stopButton->setEnabled(false);
    m_stopOnError = new QCheckBox("Остановка при ошибке");
    m_stopOnError->setObjectName("chbStopOnError");
    grid->addWidget(m_start, row, 0);
    grid->addWidget(m_stopButton, row++, 1);
    grid->addWidget(m_stopOnError, row++, 0, 1, 2);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(row, 1);
  }
  ~TfmTest() override { m_stop = true; }
  static QString PageTitle() { return "Проверка связи"; }

 protected:
  // Closing the page's window stops a running test.
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Close) m_stop = true;
    return TCallPage::eventFilter(watched, event);
  }

 private:
  void Run() {
    int64_t calls = 0, errors = 0;
    m_stop = false;
    m_stopButton->setEnabled(true);
    m_start->setEnabled(false);
    QWidget* w = window();
    w->installEventFilter(this);
    const auto start = std::chrono::steady_clock::now();
    try {
      while (!m_stop) {
        BeforeCall();
        ++calls;
        const int32_t result = Driver().Call(drv_dispid::kConnect);
        if (result != 0) ++errors;
        const int64_t elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - start)
                                    .count();
        if (elapsed == 0) continue;
        m_count->setText(Num(calls));
        m_errors->setText(Num(errors));
        m_speed->setText(Num(calls * 1000 / elapsed));
        m_errorRate->setText(QString::asprintf("%.2f", static_cast<double>(errors) * 100 / calls));
        m_testTime->setText(Num(elapsed / 1000));
        m_commandTime->setText(Num(elapsed / calls));
        QCoreApplication::processEvents();
        AfterCall();
        if (result != 0 && m_stopOnError->isChecked()) break;
      }
    } catch (...) {
      Finish(w);
      throw;
    }
    Finish(w);
  }

  // However the loop ends.
  void Finish(QWidget* w) {
    w->removeEventFilter(this);
    m_stopButton->setEnabled(false);
    m_start->setEnabled(true);
    Driver().Call(drv_dispid::kDisconnect);
  }

  QLabel* m_count = nullptr;
  QLabel* m_errors = nullptr;
  QLabel* m_speed = nullptr;
  QLabel* m_errorRate = nullptr;
  QLabel* m_testTime = nullptr;
  QLabel* m_commandTime = nullptr;
  QPushButton* m_start;
  QPushButton* m_stopButton;
  QCheckBox* m_stopOnError;
  bool m_stop = false;
};

}  // namespace

TPageClass TestPage() {
  return PageClassOf<TfmTest>();
}

}  // namespace varn::testapp
