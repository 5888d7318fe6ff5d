// The trace's JSON: one event object, or an array of them.
// Properties: an event read from outside JSON, recorded into a trace and
// exported, reads back from the export as the same event (NaN included);
// reading refuses only with std::invalid_argument.
#include <stdexcept>
#include <vector>

#include "cursor/native/cursor_trace.hpp"
#include "fuzz/fuzz_support.hpp"

namespace {

using vurle::CursorTrace;
using vurle::fuzz::sameReal;

bool sameEvent(const CursorTrace::Event& a, const CursorTrace::Event& b) {
  const bool sameValue = a.value.has_value() == b.value.has_value() && (!a.value || sameReal(*a.value, *b.value));
  return sameReal(a.time, b.time) && sameValue && a.kind == b.kind && a.seed == b.seed &&
         a.generation == b.generation && a.identity == b.identity && a.detail == b.detail &&
         a.seedBefore == b.seedBefore && a.seedReturned == b.seedReturned && a.seedAfter == b.seedAfter;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vurle::fuzz;
  const platform::JSON json = parseJSON(text(data, size));
  if (json.is_discarded()) return 0;
  std::vector<CursorTrace::Event> events;
  for (const auto& object : json.is_array() ? json : platform::JSON::array({json})) {
    try {
      events.push_back(CursorTrace::Event::decode(object));
    } catch (const std::invalid_argument&) {
    }
  }
  if (events.empty()) return 0;

  // A trace whose clock reads 0 when it starts and then each event's time.
  double clock = 0;
  CursorTrace trace(static_cast<long>(events.size()), [&clock] { return clock; });
  trace.enable(1, false);
  for (const auto& event : events) {
    clock = event.time;
    std::optional<std::string_view> detail;
    if (event.detail) detail = *event.detail;
    trace.record(event.kind, {.seed = event.seed,
                              .generation = event.generation,
                              .identity = event.identity,
                              .value = event.value,
                              .detail = detail,
                              .seedBefore = event.seedBefore,
                              .seedReturned = event.seedReturned,
                              .seedAfter = event.seedAfter});
  }
  const platform::JSON exported = platform::JSON::parse(trace.exportJSON());
  require(exported.is_array() && exported.size() == events.size(), "the export does not hold every event");
  for (size_t i = 0; i < events.size(); ++i) {
    require(sameEvent(CursorTrace::Event::decode(exported[i]), events[i]), "an event does not read back as itself");
  }
  return 0;
}
