#include "core/diagnostics.hpp"

#include <iostream>

namespace velmora {

void Diagnostics::Write(DiagnosticStream stream, const std::string& line) const {
  if (sink_) {
    sink_(stream, line);
    return;
  }
  std::ostream& out = stream == DiagnosticStream::kStdout ? std::cout : std::cerr;
  out << line << '\n';
}

const Diagnostics& Diagnostics::Console() {
  static const Diagnostics console;
  return console;
}

}  // namespace velmora
