// Farm files are written by hand: any bytes must give a plan or one message naming the file,
// never a crash or a half-read plan.
#include "platform/sim/farm_file.h"
#include "fuzz_input.h"

#include <algorithm>
#include <set>

using namespace tarvix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view json(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto plan = platform::sim::parseFarm(json, "farm.json", "/farms", error);
  if (!plan) {
    fuzz::expect(error.starts_with("farm.json: "), "a refusal names the file");
    return 0;
  }
  std::set<std::string> ids;
  for (const auto& reader : plan->readers) {
    fuzz::expect(ids.insert(reader.id).second, "reader ids are unique");
    fuzz::expect(reader.cards.size() == reader.model.cardSlots, "one card plan per slot");
  }
  fuzz::expect(std::is_sorted(plan->events.begin(), plan->events.end(),
                              [](const auto& a, const auto& b) { return a.atMs < b.atMs; }),
               "events come in time order");
  return 0;
}
