#include "server/window/qt_event_loop.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <stdexcept>

namespace varn {
namespace {

// One posted task. Qt owns the event once posted and deletes it after
// delivery (or with the receiver, when it goes first).
class TaskEvent : public QEvent {
 public:
  static QEvent::Type Kind() {
    static const int kind = QEvent::registerEventType();
    return static_cast<QEvent::Type>(kind);
  }
  explicit TaskEvent(IEventLoop::Task task) : QEvent(Kind()), task(std::move(task)) {}
  IEventLoop::Task task;
};

}  // namespace

struct TQtEventLoop::Receiver : QObject {
  bool event(QEvent* e) override {
    if (e->type() != TaskEvent::Kind()) return QObject::event(e);
    RunGuarded(static_cast<TaskEvent*>(e)->task);
    return true;
  }
};

TQtEventLoop::TQtEventLoop() : m_receiver(std::make_unique<Receiver>()) {}

TQtEventLoop::~TQtEventLoop() {
  m_timers.clear();
  // Tasks still queued go with the receiver, unrun.
  m_receiver.reset();
}

void TQtEventLoop::RunGuarded(const Task& task) {
  try {
    task();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "event loop: a task failed: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "event loop: a task failed\n");
  }
}

void TQtEventLoop::CheckLoopThread(const char* what) const {
  if (!InLoopThread())
    throw std::logic_error(std::string(what) + " outside the main loop's thread");
}

void TQtEventLoop::Post(Task task) {
  // postEvent is thread-safe and never waits for the receiver's thread.
  QCoreApplication::postEvent(m_receiver.get(), new TaskEvent(std::move(task)));
}

void TQtEventLoop::StartTimer(int32_t id, std::chrono::milliseconds interval, Task onFire) {
  CheckLoopThread("StartTimer");
  std::unique_ptr<QTimer>& timer = m_timers[id];
  if (!timer) timer = std::make_unique<QTimer>();
  timer->disconnect();
  QObject::connect(timer.get(), &QTimer::timeout,
                   [onFire = std::move(onFire)] { RunGuarded(onFire); });
  timer->setTimerType(Qt::PreciseTimer);
  // start() on a running timer restarts its countdown.
  timer->start(std::max<std::chrono::milliseconds>(interval, std::chrono::milliseconds(1)));
}

void TQtEventLoop::StopTimer(int32_t id) {
  CheckLoopThread("StopTimer");
  auto it = m_timers.find(id);
  if (it == m_timers.end()) return;
  // A timer may stop itself from its own firing: delete it later.
  it->second->stop();
  it->second.release()->deleteLater();
  m_timers.erase(it);
}

void TQtEventLoop::Run() {
  if (m_quit.exchange(false)) return;  // quit before it ran
  QEventLoop loop;
  m_running = &loop;
  loop.exec();
  m_running = nullptr;
  m_quit = false;
}

void TQtEventLoop::Quit() {
  m_quit = true;
  Post([this] {
    if (m_quit && m_running) m_running->exit(0);
  });
}

bool TQtEventLoop::InLoopThread() const {
  return QThread::currentThread() == m_receiver->thread();
}

}  // namespace varn
