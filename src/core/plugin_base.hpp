#pragma once

#include <string>

namespace velmora {

class RoutingContext;

// Root of every exchangeable strategy object of the search.
class PluginBase {
 public:
  virtual ~PluginBase() = default;
  virtual std::string GetName() const = 0;
  // Reads what the plugin needs from the solver's context, which outlives
  // it. The family's own Init and setters do the same for a plugin used on
  // its own; this default ignores the context.
  virtual void Configure(const RoutingContext& /*context*/) {}
};

}  // namespace velmora
