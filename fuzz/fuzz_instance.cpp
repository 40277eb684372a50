// libFuzzer target: instance text -> JSON reader -> solver set-up.
//
// An input that starts with "L" is not read as text: its next two bytes size a
// large instance (257 to 2000 nodes, improve on, so the set-up builds the
// engine's tables alone), generated as JSON text with full matrices, and the
// remaining bytes are (position, byte) pairs written into that text before it
// is read, so that the reader meets large documents broken anywhere.
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

// A large document from the input's first bytes (see the top of the file).
std::string LargeDocument(const uint8_t* data, size_t size) {
  const size_t n = 257 + ((size > 2 ? (static_cast<size_t>(data[1]) << 8) | data[2] : 0) % 1744);
  uint64_t state = 0x9e3779b97f4a7c15ull ^ n;
  auto next = [&state](uint64_t bound) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return (state >> 33) % bound;
  };
  std::string text = "{\"nodes\":[";
  for (size_t i = 0; i < n; ++i) {
    text += (i ? ",{\"id\":" : "{\"id\":") + std::to_string(i) + ",\"x\":" + std::to_string(next(1000)) +
            ",\"y\":" + std::to_string(next(1000)) + "}";
  }
  text +=
      "],\"agents\":[{\"id\":0,\"type\":\"t\",\"start_node\":0,\"end_node\":0},"
      "{\"id\":1,\"type\":\"t\",\"start_node\":1,\"end_node\":1,\"max_length\":5000}],"
      "\"costs\":{\"t\":[";
  for (size_t i = 0; i < n; ++i) {
    text += i ? ",[" : "[";
    for (size_t j = 0; j < n; ++j) {
      if (j) text += ',';
      text += std::to_string(i == j ? 0 : 1 + next(99));
    }
    text += ']';
  }
  text += "]},\"options\":{\"improve\":true,\"objective\":\"min_max\"}}";
  for (size_t k = 3; k + 2 < size; k += 3) {
    const size_t at = ((static_cast<size_t>(data[k]) << 8) | data[k + 1]) * 7919 % text.size();
    text[at] = static_cast<char>(data[k + 2]);
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = size > 0 && data[0] == 'L' ? LargeDocument(data, size)
                                                      : std::string(reinterpret_cast<const char*>(data), size);
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
