// POSIX threads. With glibc on Linux, the new thread is created on the
// caller's other cores and the caller pinned to its own while the work
// runs; in a virtual machine here, half of all runs of two threads of two
// milliseconds each otherwise ran one after the other on one core
// (HACKING.md).
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <utility>

#include "streams/side_thread.h"

#if defined(__linux__) && defined(__GLIBC__)
#define QUILLANTREX_PLACES_THREADS 1
#endif

namespace quillantrex {

struct SideThread::State {
  std::function<void()> work;
  pthread_t thread{};
#ifdef QUILLANTREX_PLACES_THREADS
  pthread_t caller{};
  cpu_set_t caller_cores{};  // given back once the work ends
  std::atomic<bool> caller_pinned{false};
#endif
};

namespace {

void give_back_cores(SideThread::State& state);

// The caller may run anywhere again as soon as the work ends: it may go on
// alone for a long time after, where another core would serve it better.
void* run(void* state) {
  auto& side = *static_cast<SideThread::State*>(state);
  side.work();
  give_back_cores(side);
  return nullptr;
}

#ifdef QUILLANTREX_PLACES_THREADS
// Has the thread that `attr` creates start on the caller's cores but its
// current one, and pins the caller there. Nothing where the caller may run
// on one core only or the system does not say where it runs.
void place_apart(SideThread::State& state, pthread_attr_t& attr) {
  cpu_set_t cores;
  if (::sched_getaffinity(0, sizeof cores, &cores) != 0) return;
  const int here = ::sched_getcpu();
  if (here < 0 || here >= CPU_SETSIZE || !CPU_ISSET(here, &cores)) return;
  cpu_set_t others = cores;
  CPU_CLR(here, &others);
  if (CPU_COUNT(&others) == 0) return;
  if (::pthread_attr_setaffinity_np(&attr, sizeof others, &others) != 0) return;
  cpu_set_t only_here;
  CPU_ZERO(&only_here);
  CPU_SET(here, &only_here);
  if (::sched_setaffinity(0, sizeof only_here, &only_here) == 0) {
    state.caller = ::pthread_self();
    state.caller_cores = cores;
    state.caller_pinned = true;
  }
}

// From the side thread or the caller, whichever comes first.
void give_back_cores(SideThread::State& state) {
  if (state.caller_pinned.exchange(false))
    (void)::pthread_setaffinity_np(state.caller, sizeof state.caller_cores, &state.caller_cores);
}
#else
void place_apart(SideThread::State&, pthread_attr_t&) {}
void give_back_cores(SideThread::State&) {}
#endif

}  // namespace

SideThread::SideThread() = default;

SideThread::~SideThread() {
  join();
}

bool SideThread::start(std::function<void()> work) {
  if (state_) return false;
  auto state = std::make_unique<State>();
  state->work = std::move(work);
  pthread_attr_t attr;
  if (::pthread_attr_init(&attr) != 0) return false;
  place_apart(*state, attr);
  const int failed = ::pthread_create(&state->thread, &attr, run, state.get());
  ::pthread_attr_destroy(&attr);
  if (failed != 0) {
    give_back_cores(*state);
    return false;
  }
  state_ = std::move(state);
  return true;
}

void SideThread::join() {
  if (!state_) return;
  (void)::pthread_join(state_->thread, nullptr);
  give_back_cores(*state_);
  state_.reset();
}

}  // namespace quillantrex
