// The soak: run after run of a whole station on a random farm (model, card sizes, 1 to 21
// readers, hubs), with random settings within the edit rules, random faults and random pull and
// plug times, some runs in real time. Every port that shows pass must hold a card that verifies
// by the independent reading (card_reading.h); readers of another model must stay untouched.
// A seed fixes the farm, the settings and the faults, so a failing seed runs again as it ran.
//
// Runs go in batches, each batch in a child process that runs its stations one after another,
// so that what one run leaves behind (descriptors, threads, child processes, memory, and under
// LeakSanitizer leaked blocks) shows in the next; a run that never ends is ended with its batch
// and counted as a hang, and the batch goes on from the next seed.
//   soak_runs [--seed first] (--runs n | --minutes m) [--jobs j] [--batch b]
#include "e2e/card_reading.h"
#include "e2e/child_run.h"
#include "e2e/station_on_farm.h"
#include "platform/sim/models.h"
#include "platform/sim/wire.h"

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <set>
#include <sstream>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace tarvix::testing {
namespace {

namespace fs = std::filesystem;
namespace sim = platform::sim;
using namespace std::string_literals;
using namespace std::string_view_literals;
using Json = nlohmann::json;

constexpr std::string_view kLabelCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-";

// splitmix64: the same numbers from a seed on every build, unlike the standard distributions.
class Random {
public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint32_t below(std::uint64_t n) { return static_cast<std::uint32_t>(next() % n); }
  std::uint32_t between(std::uint32_t low, std::uint32_t high) {
    return low + below(high - low + 1);
  }
  bool chance(double p) { return static_cast<double>(next() >> 11) * 0x1.0p-53 < p; }
  std::string bytes(std::size_t size) {
    std::string out(size, '\0');
    for (char& c : out)
      c = static_cast<char>(next());
    return out;
  }

private:
  std::uint64_t state_;
};

struct Reader {
  std::string id;
  std::string model;
  std::vector<std::uint32_t> cards; // sectors of each card
  bool underTest = false;           // of the model the settings name
  bool used = false;                // the card comes with an old partition table and data
  std::string extra;                // further JSON fields: faults, rates
  std::string fault;                // in words, for the run's line
};

// Everything a seed decides.
struct Plan {
  const ReaderKind* row = nullptr;
  double timeScale = 0;
  std::vector<Reader> readers;
  std::string topology; // the hostControllers array
  std::string events;
  RunSteps steps;
  std::string file, folderFile;
};

// One entry of a reader's faults, any the farm takes; `words` says what it does.
std::string fault(Random& random, std::string& words) {
  static constexpr std::string_view kKinds[] = {"fail", "corrupt", "pull", "hang", "unitAttention"};
  const std::uint32_t pick = random.below(sim::kOpNames.size() + 2);
  const std::string_view command = pick < sim::kOpNames.size()    ? sim::kOpNames[pick]
                                   : pick == sim::kOpNames.size() ? sim::kOpenName
                                                                  : sim::kVolumeWriteName;
  const bool isCommand = pick < sim::kOpNames.size();
  if (command == sim::kOpenName && random.chance(0.5)) {
    const std::uint32_t k = random.between(1, 6);
    words = "open fails " + std::to_string(k) + " times";
    return R"({"command": "open", "failFirst": )" + std::to_string(k) + "}";
  }
  std::string_view kind;
  do {
    kind = kKinds[random.below(std::size(kKinds))];
  } while ((kind == "corrupt" && !(isCommand && sim::readsData(static_cast<sim::Op>(pick)))) ||
           (kind == "hang" && !isCommand) || (kind == "unitAttention" && !isCommand));
  const std::uint32_t after = random.below(random.chance(0.7) ? 6 : 120);
  const std::uint32_t times = random.chance(0.8) ? 1 : random.between(2, 4);
  words = std::string(command) + " after " + std::to_string(after) + " " + std::string(kind) +
          " x" + std::to_string(times);
  return R"({"command": ")" + std::string(command) + R"(", "after": )" + std::to_string(after) +
         R"(, "fault": ")" + std::string(kind) + R"(", "times": )" + std::to_string(times) + "}";
}

std::uint32_t cardSectors(Random& random, const ReaderKind& row) {
  // Both sides of the FAT16 / FAT32 edge; cards with areas keep room for them.
  if (random.chance(0.2)) return random.between(65537 + 1024, 69000);
  return random.between(row.binArea ? 26000 : 24576, 40960);
}

Plan plan(std::uint64_t seed) {
  Random random(seed);
  Plan p;
  p.row = &kReaderKinds[random.below(std::size(kReaderKinds))];
  p.steps.icType = p.row->icType;
  const bool realTime = random.chance(0.03);
  static constexpr double kScales[] = {0.0002, 0.0005, 0.001, 0.002};
  p.timeScale = realTime ? 1.0 : kScales[random.below(std::size(kScales))];

  p.steps.hubMap = random.chance(0.85);
  p.steps.llf = random.chance(0.5);
  p.steps.llfSelect = static_cast<int>(realTime ? 0 : random.below(4));
  p.steps.rwTest = random.chance(0.5);
  p.steps.rwCount = static_cast<int>(realTime ? 1 : random.between(1, 4));
  p.steps.cardInfo = random.chance(0.7);
  p.steps.copy = random.chance(0.7);
  p.steps.bin = p.row->binArea && random.chance(0.6);
  p.steps.iso = p.row->cdRomArea && random.chance(0.6);
  const std::uint32_t labelLength = random.between(1, 11);
  for (std::uint32_t i = 0; i < labelLength; ++i)
    p.steps.label += kLabelCharacters[random.below(kLabelCharacters.size())];
  p.steps.binImage = random.bytes(random.between(1, 140000));
  p.steps.isoImage = random.bytes(random.between(1, 140000));
  p.file = "first line " + std::to_string(seed) + "\n" + std::string(random.below(3000), 'f');
  p.folderFile = std::string(random.below(70000), 'd') + "\n";

  // Mostly the model under test, now and then one of another product that must stay untouched.
  std::vector<const ReaderKind*> others;
  const auto productOf = [](const ReaderKind& row) { return sim::findModel(row.model)->productId; };
  for (const ReaderKind& row : kReaderKinds)
    if (productOf(row) != productOf(*p.row)) others.push_back(&row);
  const std::uint32_t count = 1 + random.below(random.below(realTime ? 3 : 21) + 1);
  for (std::uint32_t i = 0; i < count; ++i) {
    Reader r;
    r.id = "r" + std::to_string(i + 1);
    const ReaderKind& row = random.chance(0.1) ? *others[random.below(others.size())] : *p.row;
    r.model = row.model;
    r.underTest = &row == p.row;
    r.used = random.chance(0.5);
    r.cards.push_back(cardSectors(random, row));
    if (row.twoCards) r.cards.push_back(cardSectors(random, row));
    if (row.eeprom && !r.underTest) r.extra += R"(, "eeprom": "A5C3E1F00F1E3C5A")";
    if (random.chance(0.35)) {
      std::string words;
      r.extra += R"(, "faults": [)" + fault(random, words) + "]";
      r.fault = r.id + " " + words;
    }
    if (random.chance(0.1))
      r.extra += R"(, "readMBps": )" + std::to_string(random.between(5, 40)) +
                 R"(, "writeMBps": )" + std::to_string(random.between(5, 40));
    p.readers.push_back(std::move(r));
  }

  // Hubs of seven (two chips) or four ports on the root ports of host controllers, and readers
  // on root ports of their own.
  std::vector<std::vector<std::string>> rootPorts(random.between(1, 2));
  std::size_t next = 0;
  while (next < p.readers.size()) {
    // Readers alone on root ports can fill a controller: another one takes the rest.
    if (std::all_of(rootPorts.begin(), rootPorts.end(),
                    [](const auto& ports) { return ports.size() == 8; }))
      rootPorts.emplace_back();
    auto& ports = rootPorts[random.below(rootPorts.size())];
    if (ports.size() == 8) continue;
    const std::string port = R"({"port": )" + std::to_string(ports.size() + 1) + ", ";
    const auto reader = [&] {
      const Reader& r = p.readers[next++];
      std::string cards = R"("cardSectors": )" + std::to_string(r.cards[0]);
      if (r.cards.size() == 2)
        cards = R"("cards": [{"cardSectors": )" + std::to_string(r.cards[0]) +
                R"(}, {"cardSectors": )" + std::to_string(r.cards[1]) + "}]";
      return R"("reader": {"id": ")" + r.id + R"(", "model": ")" + r.model + R"(", )" + cards +
             r.extra + "}}";
    };
    // Without the hub map only readers on root ports get a port box; the odd reader placed
    // otherwise must be left alone.
    if (random.chance(p.steps.hubMap ? 0.1 : 0.9)) {
      ports.push_back(port + reader());
      continue;
    }
    const bool seven = random.chance(0.8);
    std::string attached;
    const int hubPorts = seven ? 7 : 4;
    for (int at = 1; at <= hubPorts && next < p.readers.size(); ++at) {
      if (at > 1 && random.chance(0.15)) continue; // an empty hub port
      attached += std::string(attached.empty() ? "" : ", ") + R"({"port": )" + std::to_string(at) +
                  ", " + reader();
    }
    ports.push_back(port + R"("hub": {"ports": )" + std::to_string(hubPorts) +
                    (seven ? R"(, "chips": 2)" : "") + R"(, "attached": [)" + attached + "]}}");
  }
  for (const auto& ports : rootPorts) {
    std::string joined;
    for (const std::string& port : ports)
      joined += (joined.empty() ? "" : ", ") + port;
    p.topology += std::string(p.topology.empty() ? "" : ", ") + R"({"rootHubPorts": 8, )" +
                  R"("attached": [)" + joined + "]}";
  }

  // Pulls, some plugged in again, at random times within the first real second or so, when
  // most runs are busiest; the farm's time runs 1 / timeScale times faster.
  if (random.chance(0.3)) {
    const auto span = static_cast<std::uint32_t>(1000 / p.timeScale);
    for (std::uint32_t e = random.between(1, 3); e > 0; --e) {
      const std::string& id = p.readers[random.below(count)].id;
      const std::uint32_t at = random.below(span);
      p.events += std::string(p.events.empty() ? "" : ", ") + R"({"atMs": )" + std::to_string(at) +
                  R"(, "pull": ")" + id + "\"}";
      if (random.chance(0.7))
        p.events += R"(, {"atMs": )" + std::to_string(at + random.below(span)) + R"(, "plug": ")" +
                    id + "\"}";
    }
  }
  return p;
}

PreparedCard expected(const Plan& p, const sim::Farm& farm, const Reader& r) {
  PreparedCard card =
      expectedCard(*p.row, p.steps, {{"/hello.txt", p.file}, {"/Docs/inner.txt", p.folderFile}});
  card.image = farm.cardImagePath(r.id);
  if (p.row->twoCards) card.secondCard = farm.cardImagePath(r.id, 1);
  if (p.row->eeprom && p.steps.cardInfo)
    card.eeprom = card.image.parent_path() / (r.id + ".eeprom");
  return card;
}

// What the process holds; a run must give all of it back.
struct Holdings {
  int descriptors = 0, threads = 0, children = 0;
  bool operator==(const Holdings&) const = default;
};

int entries(const fs::path& dir) {
  return static_cast<int>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

Holdings holdings() {
  Holdings h{entries("/proc/self/fd") - 1, entries("/proc/self/task"), 0};
  const std::string self = std::to_string(::getpid());
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string state, parent;
    rest >> state >> parent;
    if (parent == self) ++h.children;
  }
  return h;
}

std::string describe(const Holdings& h) {
  return std::to_string(h.descriptors) + " descriptors, " + std::to_string(h.threads) +
         " threads, " + std::to_string(h.children) + " child processes";
}

long statusKiB(std::string_view field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size() + 1));
  return 0;
}

void tell(int fd, const Json& line) {
  const std::string text = line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
  [[maybe_unused]] const auto written = ::write(fd, text.data(), text.size());
}

// One run in this process; its verdict as one JSON object. A run that does not end is told on
// `fd` at once, and the process ends without tearing down what may never stop.
Json runOne(std::uint64_t seed, const fs::path& batchDir, const Holdings& start, int fd) {
  const auto began = std::chrono::steady_clock::now();
  const Plan p = plan(seed);
  Json verdict = {{"seed", seed},
                  {"model", p.row->model},
                  {"readers", p.readers.size()},
                  {"scale", p.timeScale},
                  {"ended", false}};
  const fs::path dir = batchDir / std::to_string(seed);
  writeFile(dir / "image.bin", p.steps.binImage);
  writeFile(dir / "image.iso", p.steps.isoImage);
  writeFile(dir / "hello.txt", p.file);
  writeFile(dir / "Docs" / "inner.txt", p.folderFile);
  writeFile(dir / "TarvixValue.ini", settingsText(p.steps, dir));
  for (const Reader& r : p.readers)
    for (std::size_t c = 0; c < r.cards.size(); ++c)
      if (r.used)
        layUsedCard(
            dir / "img" / (r.id + (c == 0 ? "" : "-2") + ".img"), r.cards[c],
            Random(seed + c).bytes(std::min<std::size_t>(4 << 20, (r.cards[c] - 1) * 512ull)));
  const std::string farmText = R"({"imageDir": ")" + (dir / "img").string() +
                               R"(", "timeScale": )" + std::to_string(p.timeScale) +
                               R"(, "hostControllers": [)" + p.topology + R"(], "events": [)" +
                               p.events + "]}";
  std::string error;
  auto farm = sim::Farm::fromText(farmText, "soak farm", dir, error);
  if (!farm) {
    verdict["ended"] = true;
    verdict["refused"] = error;
    return verdict;
  }
  std::map<std::string, std::string> untouched;
  for (const Reader& r : p.readers)
    if (!r.underTest) untouched[r.id] = readFile(farm->cardImagePath(r.id));

  std::vector<std::string> faults;
  for (const Reader& r : p.readers)
    if (!r.fault.empty()) faults.push_back(r.fault);
  verdict["faults"] = faults;
  verdict["events"] = !p.events.empty();
  {
    platform::CapturingTrace trace;
    SystemWithProcesses system;
    system.executable = dir / "tarvix";
    platform::Platform platform{farm->clock(),  trace,           system,
                                farm->drives(), farm->usbTree(), farm->readerAccess(),
                                farm->volumes()};
    ui::HeadlessHost host;
    auto window = std::make_unique<app::StationWindow>(platform, host);
    host.runAndWait([&] { window->initialise(); });
    // Which reader each port started on, by the letters it holds at the press.
    std::map<int, std::string> portReader;
    host.runAndWait([&] {
      window->onClicked(station::id::kAutoStart);
      for (const Reader& r : p.readers)
        for (char letter : farm->letters(r.id))
          for (int n = 1; n <= station::kPortCount; ++n)
            if (window->readers().ports[static_cast<std::size_t>(n - 1)].driveLetter[0] == letter)
              portReader[n] = r.id;
    });
    const auto limit =
        std::chrono::steady_clock::now() + std::chrono::seconds(p.timeScale >= 1.0 ? 240 : 90);
    bool ended = false;
    while (!ended && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      host.runAndWait([&] { ended = window->runEnded(); });
    }
    if (!ended) {
      tell(fd, verdict);
      ::_exit(0);
    }
    verdict["ended"] = true;
    Json report;
    host.runAndWait([&] { report = app::stationReport(*window); });
    window.reset();
    int passes = 0, fails = 0, verified = 0;
    std::vector<std::string> problems;
    std::set<std::string> refusals;
    for (const auto& port : report["ports"]) {
      if (port.contains("refused")) refusals.insert(port["refused"].get<std::string>());
      if (!port["started"].get<bool>()) continue;
      const std::string picture = port["picture"];
      if (picture != "pass") {
        fails += picture == "fail";
        continue;
      }
      ++passes;
      const auto bound = portReader.find(port["port"].get<int>());
      if (bound == portReader.end()) {
        problems.push_back("port " + port["port"].dump() + ": pass on no known reader");
        continue;
      }
      const auto r = std::find_if(p.readers.begin(), p.readers.end(),
                                  [&](const Reader& x) { return x.id == bound->second; });
      const fs::path scratch = dir / "reading" / r->id;
      fs::create_directories(scratch);
      std::vector<std::string> wrong = readBack(expected(p, *farm, *r), scratch);
      if (!r->underTest) wrong.insert(wrong.begin(), "a reader of another model passed");
      for (const std::string& line : wrong)
        problems.push_back(r->id + " (port " + port["port"].dump() + "): " + line);
      verified += wrong.empty();
    }
    std::vector<std::string> elsewhere;
    for (const auto& [id, bytes] : untouched)
      if (readFile(farm->cardImagePath(id)) != bytes) elsewhere.push_back(id + " written");
    farm.reset();
    verdict["passes"] = passes;
    verdict["verified"] = verified;
    verdict["fails"] = fails;
    verdict["refusals"] = refusals;
    verdict["problems"] = problems;
    verdict["elsewhere"] = elsewhere;
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  const Holdings after = holdings();
  if (!(after == start))
    verdict["leaks"] = {"holds " + describe(after) + ", began with " + describe(start)};
  verdict["heapKiB"] = static_cast<long>(::mallinfo2().uordblks / 1024);
  verdict["ms"] = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - began)
                      .count();
  return verdict;
}

// A batch's whole life: its runs one after another, then the leak check, each told on `fd`.
[[noreturn]] void runBatch(std::uint64_t first, std::uint64_t end, const fs::path& dir, int fd) {
  const Holdings start = holdings();
  long firstHeap = 0;
  for (std::uint64_t seed = first; seed < end; ++seed) {
    const Json verdict = runOne(seed, dir, start, fd);
    if (seed == first) firstHeap = verdict.value("heapKiB", 0L);
    tell(fd, verdict);
  }
  Json closing = {{"batch", first}, {"hwmKiB", statusKiB("VmHWM:")}, {"leaks", Json::array()}};
  // What the allocator still hands out, not what it keeps for reuse: the first run's caches
  // stay, and after them nothing may pile up.
  const long growth = static_cast<long>(::mallinfo2().uordblks / 1024) - firstHeap;
  closing["heapGrowthKiB"] = growth;
  if (growth > 1024)
    closing["leaks"].push_back("heap in use grew " + std::to_string(growth) + " KiB over seeds " +
                               std::to_string(first) + "-" + std::to_string(end - 1));
#if defined(__SANITIZE_ADDRESS__)
  if (__lsan_do_recoverable_leak_check() != 0)
    closing["leaks"].push_back("LeakSanitizer: leaks in seeds " + std::to_string(first) + "-" +
                               std::to_string(end - 1));
#endif
  tell(fd, closing);
  ::_exit(0);
}

struct Totals {
  std::uint64_t runs = 0, verified = 0, falsePasses = 0, hangs = 0, leaks = 0, elsewhere = 0,
                refused = 0;
  long peakKiB = 0, firstPeakKiB = 0, heapGrowthKiB = 0;
  std::uint64_t lowSeed = UINT64_MAX, highSeed = 0;
};

void report(const Json& v, Totals& t) {
  if (v.contains("batch")) {
    const long hwm = v["hwmKiB"];
    if (t.firstPeakKiB == 0) t.firstPeakKiB = hwm;
    t.peakKiB = std::max(t.peakKiB, hwm);
    t.heapGrowthKiB = std::max(t.heapGrowthKiB, v["heapGrowthKiB"].get<long>());
    for (const auto& leak : v["leaks"]) {
      ++t.leaks;
      std::printf("leak: %s\n", leak.get<std::string>().c_str());
    }
    return;
  }
  const std::uint64_t seed = v["seed"];
  ++t.runs;
  t.lowSeed = std::min(t.lowSeed, seed);
  t.highSeed = std::max(t.highSeed, seed);
  std::string line = "seed " + std::to_string(seed) + ": " + v["model"].get<std::string>() + ", " +
                     v["readers"].dump() + " readers, scale " + v["scale"].dump();
  for (const auto& f : v.value("faults", Json::array()))
    line += ", " + f.get<std::string>();
  if (v.value("events", false)) line += ", pulls";
  if (!v["ended"].get<bool>()) {
    ++t.hangs;
    std::printf("%s: HANG (the run did not end)\n", line.c_str());
    return;
  }
  const std::uint64_t passes = v.value("passes", 0), verified = v.value("verified", 0);
  t.verified += verified;
  t.falsePasses += passes - verified;
  line += ": " + std::to_string(passes) + " pass (" + std::to_string(verified) + " verified), " +
          v.value("fails", Json(0)).dump() + " fail, " + v.value("ms", Json(0)).dump() + " ms";
  for (const auto& refusal : v.value("refusals", Json::array()))
    line += "; not started: " + refusal.get<std::string>();
  std::printf("%s\n", line.c_str());
  for (const auto& problem : v.value("problems", Json::array()))
    std::printf("  false pass: seed %llu: %s\n", static_cast<unsigned long long>(seed),
                problem.get<std::string>().c_str());
  if (v.contains("refused")) {
    ++t.refused;
    std::printf("  farm refused: seed %llu: %s\n", static_cast<unsigned long long>(seed),
                v["refused"].get<std::string>().c_str());
  }
  for (const auto& write : v.value("elsewhere", Json::array())) {
    ++t.elsewhere;
    std::printf("  other-reader write: seed %llu: %s\n", static_cast<unsigned long long>(seed),
                write.get<std::string>().c_str());
  }
  for (const auto& leak : v.value("leaks", Json::array())) {
    ++t.leaks;
    std::printf("  leak: seed %llu: %s\n", static_cast<unsigned long long>(seed),
                leak.get<std::string>().c_str());
  }
  std::fflush(stdout);
}

struct Options {
  std::uint64_t seed = 1;
  std::uint64_t runs = 0;
  double minutes = 0;
  int jobs = 2;
  std::uint64_t batch = 50;
};

// How long a batch may go without finishing a run.
constexpr std::chrono::steady_clock::duration kRunLimit = std::chrono::minutes(5);

int soak(const Options& o) {
  struct Batch {
    std::uint64_t next, end; // the seed it runs now, and the batch's end
    ChildRun child;          // its runs' folders are in the child's, removed with it
  };
  const auto began = std::chrono::steady_clock::now();
  const auto stopAt = began + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(o.minutes * 60));
  std::deque<std::pair<std::uint64_t, std::uint64_t>> batches;
  std::uint64_t nextSeed = o.seed;
  const auto moreWork = [&] {
    if (!batches.empty()) return true;
    if (o.runs > 0 ? nextSeed >= o.seed + o.runs : std::chrono::steady_clock::now() >= stopAt)
      return false;
    const std::uint64_t end =
        o.runs > 0 ? std::min(nextSeed + o.batch, o.seed + o.runs) : nextSeed + o.batch;
    batches.emplace_back(nextSeed, end);
    nextSeed = end;
    return true;
  };
  Totals totals;
  const Holdings start = holdings();
  std::vector<Batch> running;
  while (moreWork() || !running.empty()) {
    while (static_cast<int>(running.size()) < o.jobs && moreWork()) {
      const auto [first, end] = batches.front();
      batches.pop_front();
      running.push_back(
          {first, end,
           startChild(kRunLimit, [&, from = first, to = end](const fs::path& dir, int fd) {
             runBatch(from, to, dir, fd);
           })});
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::erase_if(running, [&](Batch& batch) {
      ChildRun& child = batch.child;
      const bool over = pollChild(child);
      for (std::size_t eol; (eol = child.heard.find('\n')) != std::string::npos;) {
        const Json v = Json::parse(child.heard.substr(0, eol));
        child.heard.erase(0, eol + 1);
        report(v, totals);
        if (v.contains("seed")) {
          batch.next = v["seed"].get<std::uint64_t>() + 1;
          child.deadline = std::chrono::steady_clock::now() + kRunLimit;
        }
      }
      if (!over) return false;
      if (child.killed) {
        // Stuck outside the station's own time limit: in tearing down, or in the reading.
        report(
            {{"seed", batch.next}, {"model", "?"}, {"readers", 0}, {"scale", 0}, {"ended", false}},
            totals);
        ++batch.next;
      } else if (batch.next < batch.end &&
                 !(WIFEXITED(child.status) && WEXITSTATUS(child.status) == 0)) {
        // It died without a word for this seed: a crash, which counts with the hangs.
        std::printf("seed %llu: the batch process died (status %d)\n",
                    static_cast<unsigned long long>(batch.next), child.status);
        ++totals.hangs;
        ++batch.next;
      }
      if (batch.next < batch.end) batches.emplace_front(batch.next, batch.end);
      return true;
    });
  }
  const Holdings end = holdings();
  if (!(end == start)) {
    ++totals.leaks;
    std::printf("leak: the soak holds %s, began with %s\n", describe(end).c_str(),
                describe(start).c_str());
  }
  const double minutes =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count() / 60;
  std::printf(
      "soak: %llu runs (seeds %llu-%llu) in %.1f min, %llu passes verified, %llu false "
      "passes, %llu hangs, %llu leaks, %llu other-reader writes, %llu farms refused; "
      "peak memory %ld MiB (first batch %ld MiB), heap in use grew at most %ld KiB in a "
      "batch\n",
      static_cast<unsigned long long>(totals.runs), static_cast<unsigned long long>(totals.lowSeed),
      static_cast<unsigned long long>(totals.highSeed), minutes,
      static_cast<unsigned long long>(totals.verified),
      static_cast<unsigned long long>(totals.falsePasses),
      static_cast<unsigned long long>(totals.hangs), static_cast<unsigned long long>(totals.leaks),
      static_cast<unsigned long long>(totals.elsewhere),
      static_cast<unsigned long long>(totals.refused), totals.peakKiB / 1024,
      totals.firstPeakKiB / 1024, totals.heapGrowthKiB);
  return totals.falsePasses + totals.hangs + totals.leaks + totals.elsewhere + totals.refused == 0
             ? 0
             : 1;
}

} // namespace
} // namespace tarvix::testing

int main(int argc, char** argv) {
  tarvix::testing::Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view key = argv[i];
    const char* value = argv[i + 1];
    if (key == "--seed")
      o.seed = std::strtoull(value, nullptr, 10);
    else if (key == "--runs")
      o.runs = std::strtoull(value, nullptr, 10);
    else if (key == "--minutes")
      o.minutes = std::strtod(value, nullptr);
    else if (key == "--jobs")
      o.jobs = std::max(1, std::atoi(value));
    else if (key == "--batch")
      o.batch = std::max<std::uint64_t>(1, std::strtoull(value, nullptr, 10));
  }
  if (argc % 2 == 0 || (o.runs == 0 && o.minutes <= 0)) {
    std::fprintf(stderr,
                 "usage: %s [--seed first] (--runs n | --minutes m) [--jobs j] "
                 "[--batch b]\n",
                 argv[0]);
    return 2;
  }
  return tarvix::testing::soak(o);
}
