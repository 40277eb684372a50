#include "bindings/solve_runner.hpp"

#include <pthread.h>

#include <chrono>
#include <csignal>
#include <exception>
#include <optional>
#include <thread>
#include <utility>

namespace py = pybind11;

namespace {

// Asynchronous signals are left to the other threads (Python handles them on its main
// thread); faults still reach the worker that causes them.
void BlockAsyncSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGCHLD, SIGWINCH}) {
    sigaddset(&set, sig);
  }
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

}  // namespace

SolveRunner::SolveRunner(py::object callback, std::function<void()> stop)
    : callback_(std::move(callback)), has_callback_(!callback_.is_none()), stop_(std::move(stop)) {}

bool SolveRunner::Deliver(const Event& event) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (failed_) return true;
  pending_ = &event;
  answered_ = false;
  wake_.notify_all();
  wake_.wait(lock, [this] { return answered_; });
  pending_ = nullptr;
  return answer_stop_;
}

void SolveRunner::CallBack(const Event& event, bool* stop) {
  in_callback_ = true;
  try {
    const py::object answer = callback_(event());
    in_callback_ = false;
    const int truthy = PyObject_IsTrue(answer.ptr());
    if (truthy < 0) throw py::error_already_set();
    *stop = truthy != 0;
  } catch (...) {
    in_callback_ = false;
    throw;
  }
}

void SolveRunner::Run(const std::function<void()>& work) {
  std::exception_ptr failure;  // what `work` threw
  std::thread worker;
  {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = false;
    failed_ = false;
    worker = std::thread([this, &work, &failure] {
      BlockAsyncSignals();
      try {
        work();
      } catch (...) {
        failure = std::current_exception();
      }
      std::lock_guard<std::mutex> done_lock(mutex_);
      done_ = true;
      wake_.notify_all();
    });
  }

  std::optional<py::error_already_set> error;  // raised by a signal handler or the callback
  std::exception_ptr callback_failure;         // a native error while building the argument
  for (;;) {
    const Event* event = nullptr;
    bool finished = false;
    {
      py::gil_scoped_release release;
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait_for(lock, std::chrono::milliseconds(kPollMilliseconds),
                     [this] { return done_ || (pending_ != nullptr && !answered_); });
      if (pending_ != nullptr && !answered_) event = pending_;
      finished = done_;
    }
    bool stop = false;
    if (event != nullptr && !error && !callback_failure) {
      try {
        CallBack(*event, &stop);
      } catch (py::error_already_set& e) {
        error.emplace(std::move(e));
      } catch (...) {
        callback_failure = std::current_exception();
      }
    }
    if (!error && PyErr_CheckSignals() != 0) error.emplace();
    const bool failed = error.has_value() || callback_failure != nullptr;
    if (stop || failed) stop_();
    if (event != nullptr) {
      std::lock_guard<std::mutex> lock(mutex_);
      answered_ = true;
      answer_stop_ = stop || failed;
      failed_ = failed;
      wake_.notify_all();
    }
    if (finished) break;
  }
  {
    py::gil_scoped_release release;
    worker.join();
  }
  if (error) throw std::move(*error);
  if (callback_failure) std::rethrow_exception(callback_failure);
  if (failure) std::rethrow_exception(failure);
}
