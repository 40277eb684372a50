#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "postopt/composite_post_optimizer.hpp"
#include "postopt/default_post_optimizer.hpp"
#include "postopt/route_merging_post_optimizer.hpp"
#include "test_fixtures.hpp"

using namespace velmora;
using namespace velmora::testing_support;

namespace {

// Logs every call; Optimize appends its tag to agent 0's route.
class Recorder : public PostOptimizerPlugin {
 public:
  Recorder(std::string name, int64_t tag, std::vector<std::string>* log) : name_(name), tag_(tag), log_(log) {}
  ~Recorder() override { log_->push_back("~" + name_); }
  std::string GetName() const override { return name_; }
  void Optimize(const PlannerGraph*, const std::vector<SolverNode>& nodes, const std::vector<SolverAgent>&,
                Result& result) override {
    log_->push_back(name_ + ".Optimize saw " + std::to_string(result.paths[0].size()) +
                    " nodes=" + std::to_string(nodes.size()));
    result.paths[0].push_back(tag_);
  }
  void SetReturnToEnd(bool flag) override { log_->push_back(name_ + ".rte " + std::to_string(flag)); }
  void SetAgentStarts(const std::vector<uint64_t>& s) override {
    log_->push_back(name_ + ".starts " + std::to_string(s.size()));
  }
  void SetAgentEnds(const std::vector<uint64_t>& e) override {
    log_->push_back(name_ + ".ends " + std::to_string(e.size()));
  }
  void SetTimeWindows(const WindowTable& w) override {
    log_->push_back(name_ + ".windows " + std::to_string(w.size()));
  }

 private:
  std::string name_;
  int64_t tag_;
  std::vector<std::string>* log_;
};

}  // namespace

TEST(CompositePostOptimizer, ForwardsInOrderAndDestroysInReverse) {
  std::vector<std::string> log;
  {
    CompositePostOptimizer composite;
    EXPECT_EQ(composite.GetName(), "CompositePostOptimizer");
    composite.AddChild(std::make_unique<Recorder>("A", 7, &log));
    composite.AddChild(nullptr);  // ignored
    composite.AddChild(std::make_unique<Recorder>("B", 8, &log));
    ASSERT_EQ(composite.Children().size(), 2u);
    EXPECT_EQ(composite.Children()[0]->GetName(), "A");
    composite.SetReturnToEnd(true);
    composite.SetAgentStarts({0, 1});
    composite.SetAgentEnds({2});
    composite.SetTimeWindows({{3, {0.0, 1.0}}});
    Result result;
    composite.Optimize(nullptr, std::vector<SolverNode>(4), {}, result);
    EXPECT_EQ(result.paths.at(0), (std::vector<int64_t>{7, 8}));  // B saw A's change
  }
  EXPECT_EQ(log, (std::vector<std::string>{"A.rte 1", "B.rte 1", "A.starts 2", "B.starts 2", "A.ends 1",
                                           "B.ends 1", "A.windows 1", "B.windows 1", "A.Optimize saw 0 nodes=4",
                                           "B.Optimize saw 1 nodes=4", "~B", "~A"}));
}

// The solver's arrangement: relocations first, then merging on what they left.
TEST(CompositePostOptimizer, DefaultThenMerging) {
  std::mt19937 rng(17);
  for (int round = 0; round < 200; ++round) {
    RandomInstance inst = RandomInstance::Make(rng, round % 4 == 0);
    CompositePostOptimizer composite;
    composite.AddChild(std::make_unique<DefaultPostOptimizer>());
    composite.AddChild(std::make_unique<RouteMergingPostOptimizer>());
    ConfigureFrom(composite, inst.cfg);
    Result by_composite = inst.result;
    ::testing::internal::CaptureStderr();
    composite.Optimize(&inst.graph, inst.nodes, inst.agents, by_composite);

    DefaultPostOptimizer first;
    RouteMergingPostOptimizer second;
    ConfigureFrom(first, inst.cfg);
    ConfigureFrom(second, inst.cfg);
    Result by_hand = inst.result;
    first.Optimize(&inst.graph, inst.nodes, inst.agents, by_hand);
    second.Optimize(&inst.graph, inst.nodes, inst.agents, by_hand);
    ::testing::internal::GetCapturedStderr();

    ASSERT_EQ(by_composite.paths, by_hand.paths);
    ASSERT_EQ(by_composite.times, by_hand.times);
    ExpectConsistentWriteBack(inst, by_composite);
    ASSERT_EQ(AllNodes(by_composite), AllNodes(inst.result));
  }
}
