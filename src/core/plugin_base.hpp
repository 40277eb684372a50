#pragma once

#include <string>

namespace velmora {

// Root of every exchangeable strategy object of the search.
class PluginBase {
 public:
  virtual ~PluginBase() = default;
  virtual std::string GetName() const = 0;
};

}  // namespace velmora
