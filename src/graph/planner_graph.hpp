#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

using CostVector = std::vector<double>;

// Directed graph over vertices 0..n-1 whose arcs carry one cost per agent type.
class PlannerGraph {
 public:
  virtual ~PlannerGraph() = default;

  virtual bool HasVertex(uint64_t v) const = 0;
  virtual bool HasArc(uint64_t u, uint64_t v) const = 0;
  virtual std::vector<uint64_t> GetSuccs(uint64_t v) const = 0;
  virtual std::vector<uint64_t> GetPreds(uint64_t v) const = 0;
  virtual CostVector GetArcCost(uint64_t u, uint64_t v) const = 0;
  virtual std::vector<CostVector> GetSuccCosts(uint64_t v) const = 0;
  virtual std::vector<CostVector> GetPredCosts(uint64_t v) const = 0;
  virtual uint64_t NumVertex() const = 0;
  virtual uint64_t NumArc() const = 0;
  virtual uint64_t NumEdge() const = 0;
  virtual uint64_t GetCostDim() const = 0;
  virtual std::vector<uint64_t> GetAllVertices() const = 0;
  virtual void AddVertex(uint64_t v) = 0;
  virtual void AddEdge(uint64_t u, uint64_t v, const CostVector& cost) = 0;
  virtual void AddArc(uint64_t u, uint64_t v, const CostVector& cost) = 0;
  virtual void CreateFromEdges(const std::vector<uint64_t>& sources, const std::vector<uint64_t>& targets,
                               const std::vector<CostVector>& costs) = 0;
  virtual void CreateFromArcs(const std::vector<uint64_t>& sources, const std::vector<uint64_t>& targets,
                              const std::vector<CostVector>& costs) = 0;
  virtual void ChangeCostDim(uint64_t dim, double fill) = 0;
  virtual bool SetArcCost(uint64_t u, uint64_t v, const CostVector& cost) = 0;
  virtual std::string ToStr() const = 0;

  // Hot-path read: component `type` of the cost of arc u->v without copying the
  // vector; `absent` when u is not a vertex, there is no such arc or `type` is
  // outside the vector. This base version goes through GetArcCost.
  virtual double GetArcCostComponent(uint64_t u, uint64_t v, int64_t type, double absent) const;
};

}  // namespace velmora
