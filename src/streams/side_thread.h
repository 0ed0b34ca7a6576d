// A second thread for work that pays only while it runs beside the caller,
// on a core of its own: the pieces of a long export, converted on two cores
// for a few milliseconds.
#ifndef QUILLANTREX_STREAMS_SIDE_THREAD_H_
#define QUILLANTREX_STREAMS_SIDE_THREAD_H_

#include <functional>
#include <memory>

namespace quillantrex {

class SideThread {
 public:
  SideThread();
  // Joins the thread if it still runs.
  ~SideThread();
  SideThread(const SideThread&) = delete;
  SideThread& operator=(const SideThread&) = delete;

  // Runs `work` on a new thread. Where the system lets one say so (Linux),
  // the thread starts on another core than the caller's, and the caller
  // stays on its own until the work ends: a scheduler may otherwise queue a
  // new thread behind its parent, or wake one thread on the other's core,
  // and leave the second core idle for milliseconds. False if no thread
  // could be started; the work is then not run.
  bool start(std::function<void()> work);
  // Waits for the work to end. Nothing to do if no thread was started.
  void join();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace quillantrex

#endif  // QUILLANTREX_STREAMS_SIDE_THREAD_H_
