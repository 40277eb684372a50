#pragma once

#include <pybind11/pybind11.h>

#include <condition_variable>
#include <functional>
#include <mutex>

// Runs a search so that Python stays in charge while it runs: the search works on a
// worker thread without the interpreter lock, while the calling thread waits with the
// lock released and takes it only briefly, every kPoll, to run pending signal handlers
// (Ctrl-C), and on each recorded solution, to call the user's callback. The search
// itself never takes the lock; the runner stops it through `stop`, which the search
// polls where it checks its budget.
class SolveRunner {
 public:
  // Builds the callback's argument; runs on the calling thread with the lock held
  // while the search waits, so it may read the solver's data by reference.
  using Event = std::function<pybind11::object()>;

  static constexpr int kPollMilliseconds = 100;

  // `callback`: None or a callable taking one argument; a truthy return value stops
  // the search. `stop`: ends the search as an exhausted budget does (thread-safe).
  SolveRunner(pybind11::object callback, std::function<void()> stop);
  SolveRunner(const SolveRunner&) = delete;
  SolveRunner& operator=(const SolveRunner&) = delete;

  bool has_callback() const { return has_callback_; }

  // Called on the search thread: hands `event` to the callback and waits for its
  // answer; true when the search has to stop.
  bool Deliver(const Event& event);

  // Called with the lock held: runs `work` on a worker thread and returns when it has
  // ended. Afterwards raises the Python error that stopped it (KeyboardInterrupt from a
  // signal handler, an exception from the callback) or rethrows what `work` threw.
  void Run(const std::function<void()>& work);

  // True while a Deliver call waits for the callback on the current thread's behalf
  // (the search is parked, so its data can be read safely).
  bool in_callback() const { return in_callback_; }

 private:
  // With the lock held: calls the callback on one event; *stop tells whether its answer
  // was truthy. Throws what the callback raised.
  void CallBack(const Event& event, bool* stop);

  pybind11::object callback_;
  bool has_callback_;
  std::function<void()> stop_;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  const Event* pending_ = nullptr;  // the event the search waits on
  bool answered_ = false;
  bool answer_stop_ = false;
  bool in_callback_ = false;
  bool failed_ = false;  // a Python error is held; no more callbacks
};
