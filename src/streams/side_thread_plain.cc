// Systems where a thread's core is left to the scheduler: a plain
// std::thread.
#include <system_error>
#include <thread>
#include <utility>

#include "streams/side_thread.h"

namespace quillantrex {

struct SideThread::State {
  std::thread thread;
};

SideThread::SideThread() = default;

SideThread::~SideThread() {
  join();
}

bool SideThread::start(std::function<void()> work) {
  if (state_) return false;
  auto state = std::make_unique<State>();
  try {
    state->thread = std::thread(std::move(work));
  } catch (const std::system_error&) {
    return false;
  }
  state_ = std::move(state);
  return true;
}

void SideThread::join() {
  if (!state_) return;
  state_->thread.join();
  state_.reset();
}

}  // namespace quillantrex
