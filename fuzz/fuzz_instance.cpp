// libFuzzer target: instance text -> JSON reader -> solver set-up.
//
// The reader may fail only with the JSON library's exceptions; the set-up only
// with the documented out-of-range lookup error and the invalid_argument
// rejections of inputs it cannot search. Anything else (another exception
// type, a sanitizer report, an allocation beyond the fuzzer's limit) is a
// finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "io/instance_reader.hpp"
#include "model/problem.hpp"
#include "solver/solver.hpp"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz_instance: %s: %s\n", what, detail.c_str());
  std::abort();
}

// Size of a section as the reader walks it: arrays and objects by element,
// null as nothing, any other scalar once.
size_t Walked(const nlohmann::json& section) {
  if (section.is_null()) return 0;
  if (section.is_array() || section.is_object()) return section.size();
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  nlohmann::json document;
  try {
    document = velmora::ParseInstanceText(text);
  } catch (const nlohmann::json::exception&) {  // syntax errors, number overflow (406)
    return -1;  // the parser is the library's; keep such inputs out of the corpus
  }

  velmora::Problem problem;
  try {
    velmora::ReadInstance(document, problem);
  } catch (const nlohmann::json::exception&) {
    return 0;
  }

  // A document read without error added every node and agent it lists.
  if (problem.nodes().size() != Walked(document.at("nodes"))) {
    Fail("node count", std::to_string(problem.nodes().size()));
  }
  if (problem.agents_ordered().size() != Walked(document.at("agents"))) {
    Fail("agent count", std::to_string(problem.agents_ordered().size()));
  }

  try {
    velmora::Solver solver(problem, problem.options());
    // The set-up's dense tables follow the problem exactly.
    if (solver.nodes().size() != problem.nodes().size()) Fail("solver nodes", "size mismatch");
    if (solver.agents().size() != problem.agents_ordered().size()) Fail("solver agents", "size mismatch");
    for (uint64_t s : solver.starts()) {
      if (s >= solver.nodes().size()) Fail("start index", std::to_string(s));
    }
    for (uint64_t e : solver.ends()) {
      if (e >= solver.nodes().size()) Fail("end index", std::to_string(e));
    }
  } catch (const std::out_of_range& e) {
    // Only the unknown-id / unknown-type lookup is an expected set-up failure.
    if (std::strcmp(e.what(), "unordered_map::at: key not found") != 0) Fail("out_of_range", e.what());
  } catch (const std::invalid_argument&) {
    // Rejected as unsearchable (too many nodes, NaN data, oversized matrix).
  }
  return 0;
}
