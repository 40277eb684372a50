#pragma once

#include <functional>
#include <string>

namespace velmora {

// The two console streams a diagnostic line belongs to.
enum class DiagnosticStream { kStdout, kStderr };

// Receives one console line (without its line break) and the stream it is meant for.
using DiagnosticsSink = std::function<void(DiagnosticStream stream, const std::string& line)>;

// The one route of a solver's console lines. Without a sink of its own it
// writes each line and a line break to the process's standard output or error.
class Diagnostics {
 public:
  Diagnostics() = default;
  explicit Diagnostics(DiagnosticsSink sink) : sink_(std::move(sink)) {}

  void Out(const std::string& line) const { Write(DiagnosticStream::kStdout, line); }
  void Err(const std::string& line) const { Write(DiagnosticStream::kStderr, line); }
  void Write(DiagnosticStream stream, const std::string& line) const;

  // The process-wide default: standard output and standard error.
  static const Diagnostics& Console();

 private:
  DiagnosticsSink sink_;
};

}  // namespace velmora
