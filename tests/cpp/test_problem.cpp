#include <gtest/gtest.h>

#include "model/problem.hpp"

using namespace velmora;

TEST(Problem, AgentTypesGetIndicesInOrderOfFirstAppearance) {
  Problem p;
  for (const char* t : {"truck", "drone", "truck"}) {
    Agent a;
    a.type = t;
    p.add_agent(a, p.agents_ordered().size());
  }
  EXPECT_EQ(p.agent_types(), (std::vector<std::string>{"truck", "drone"}));
  EXPECT_EQ(p.agent_type_index().at(0), 0u);
  EXPECT_EQ(p.agent_type_index().at(1), 1u);
  EXPECT_EQ(p.agent_type_index().at(2), 0u);
}
