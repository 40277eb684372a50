#pragma once

#include "core/focal_entry.hpp"
#include "core/plugin_base.hpp"

namespace velmora {

// Orders the focal list: true when `a` goes before `b` (a strict weak ordering).
class FocalComparatorPlugin : public PluginBase {
 public:
  std::string GetName() const override = 0;
  virtual bool Compare(const FocalEntry& a, const FocalEntry& b) const = 0;
};

}  // namespace velmora
