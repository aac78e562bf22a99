// TQtEventLoop: the main loop interface of the core (platform/event_loop.h)
// on Qt's event loop, so the window, the timer service and the posted
// notifications all run on the GUI thread.
//
// Posted tasks are Qt events sent to one receiver object, which Qt delivers
// in the order they were posted; timers are QTimers created, restarted and
// stopped only on that thread, so the order of TTimer's posted starts and
// stops is kept as with TEventLoop.
//
//   QApplication qt(argc, argv);
//   TQtEventLoop loop;               // on the GUI thread, after QApplication
//   TServerApp app(mode, &loop);
//   app.Start(); app.Run();          // Run: a QEventLoop until Quit()
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>

#include "platform/event_loop.h"

class QObject;
class QTimer;
class QEventLoop;

namespace varn {

class TQtEventLoop final : public IEventLoop {
 public:
  TQtEventLoop();  // on the thread that runs Qt's loop
  ~TQtEventLoop() override;
  TQtEventLoop(const TQtEventLoop&) = delete;
  TQtEventLoop& operator=(const TQtEventLoop&) = delete;

  void Post(Task task) override;
  void StartTimer(int32_t id, std::chrono::milliseconds interval, Task onFire) override;
  void StopTimer(int32_t id) override;
  void Run() override;
  void Quit() override;
  bool InLoopThread() const override;

  size_t RunningTimers() const { return m_timers.size(); }

 private:
  struct Receiver;
  static void RunGuarded(const Task& task);
  void CheckLoopThread(const char* what) const;

  std::unique_ptr<Receiver> m_receiver;                 // takes the posted tasks
  std::map<int32_t, std::unique_ptr<QTimer>> m_timers;  // the loop's thread only
  QEventLoop* m_running = nullptr;                      // the loop's thread only
  std::atomic<bool> m_quit{false};
};

}  // namespace varn
