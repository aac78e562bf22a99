#include "server/window/window_face.h"

#include <QApplication>

#include "server/app/server_app.h"
#include "server/window/fmu_main.h"
#include "server/window/qt_event_loop.h"

namespace varn {
namespace {

// QApplication keeps references to these for its whole life.
int g_argc = 1;
char g_name[] = "VarnSrv";
char* g_argv[] = {g_name, nullptr};

class TWindowFace final : public IServerFace {
 public:
  TWindowFace() : m_qt(g_argc, g_argv) {
    QApplication::setApplicationName(kServerTitle);
    // Hiding the window or closing the about box must not end the loop:
    // only "&Закрыть" (or a close request) does.
    QApplication::setQuitOnLastWindowClosed(false);
  }
  ~TWindowFace() override { m_form.reset(); }

  IEventLoop& Loop() override { return m_loop; }
  void Attach(TServerApp& app) override { m_form = std::make_unique<TfmMain>(app); }
  void Started() override { m_form->Attach(); }
  void CloseRequested() override {
    m_loop.Post([this] {
      if (m_form) m_form->CloseServer();
    });
  }
  void Detach() override { m_form.reset(); }

 private:
  QApplication m_qt;
  TQtEventLoop m_loop;
  std::unique_ptr<TfmMain> m_form;
};

}  // namespace

std::unique_ptr<IServerFace> MakeWindowFace(const TStartOptions&) {
  return std::make_unique<TWindowFace>();
}

}  // namespace varn
