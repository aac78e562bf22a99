// Change notifications of the port server (the port list, each port's lock,
// the client list): a callback raised after the change, often while the
// notifier still holds its lock. Handlers therefore only post: the work runs
// later on the main loop's thread, where no lock of the notifier is held.
//
//   ports.SetOnChange(PostingNotify(loop, [this] { RefreshPorts(); }));
#pragma once

#include <functional>

#include "platform/event_loop.h"

namespace varn {

using TNotifyEvent = std::function<void()>;

// A notification that posts `handler` to `loop` (which must outlive it).
inline TNotifyEvent PostingNotify(IEventLoop& loop, std::function<void()> handler) {
  return [&loop, handler = std::move(handler)] { loop.Post(handler); };
}

}  // namespace varn
