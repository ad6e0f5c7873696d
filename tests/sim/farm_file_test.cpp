// Bad farm files are refused with one message: the source, the JSON path of the offending field
// and what is wrong; and nothing is created for them.
#include "platform/sim/farm_file.h"
#include "sim/sim_fixture.h"

namespace tarvix::sim_test {
namespace {

using platform::sim::parseFarm;

struct BadFarm {
  const char* what;
  std::string json;
  std::string path;    // expected JSON path in the message
  std::string problem; // expected words of the complaint
};

std::string readerWith(const std::string& fields) { return oneReader("VQ301C", fields); }

const std::string kAt = "$.hostControllers[0].attached[0]";

std::vector<BadFarm> badFarms() {
  return {
      {"syntax", "{ \"hostControllers\": [ }", "", "not valid JSON"},
      // Found by fuzzing: a number beyond a double's range ended the station.
      {"number out of range",
       "{ \"-imale\": 5e615\x9f"
       "00\"u~\xa2, ",
       "", "not valid JSON"},
      {"timeScale out of range", R"({ "timeScale": 1e400, "hostControllers": [] })", "",
       "not valid JSON"},
      {"unknown top key", R"({ "hostControllers": [], "speed": 1 })", "$.speed", "not a known key"},
      {"no controllers", R"({ "timeScale": 1 })", "$.hostControllers", "missing"},
      {"zero time scale", R"({ "timeScale": 0, "hostControllers": [] })", "$.timeScale",
       "greater than 0"},
      {"unknown model", oneReader("VQ999"), kAt + ".reader.model", "no known model"},
      {"root port beyond", farmJson(R"({ "port": 9, "reader": { "id": "a", "model": "VQ301A" } })"),
       kAt + ".port", "between 1 and 8"},
      {"hub port beyond", farmJson(R"({ "port": 1, "hub": { "ports": 4, "attached": [
           { "port": 5, "reader": { "id": "a", "model": "VQ301A" } } ] } })"),
       kAt + ".hub.attached[0].port", "between 1 and 4"},
      {"two on one port", farmJson(R"({ "port": 3, "reader": { "id": "a", "model": "VQ301A" } },
                   { "port": 3, "reader": { "id": "b", "model": "VQ301A" } })"),
       "$.hostControllers[0].attached[1].port", "already taken"},
      {"duplicate id", farmJson(R"({ "port": 1, "reader": { "id": "a", "model": "VQ301A" } },
                   { "port": 2, "reader": { "id": "a", "model": "VQ301A" } })"),
       "$.hostControllers[0].attached[1].reader.id", "already used"},
      {"negative card", readerWith(R"("cardMiB": -1)"), kAt + ".reader.cardMiB", "between 0 and"},
      {"one-sector card", readerWith(R"("cardSectors": 1)"), kAt + ".reader.cardSectors",
       "at least 2"},
      {"typed card of no sectors", readerWith(R"("cardSectors": 0, "cardType": "SD")"),
       kAt + ".reader.cardSectors", "no sectors"},
      {"none with a size", readerWith(R"("cardMiB": 4, "cardType": "none")"),
       kAt + ".reader.cardType", "none"},
      {"bad card type", readerWith(R"("cardMiB": 4, "cardType": "SDXC")"), kAt + ".reader.cardType",
       "SD, MS, CF, xD"},
      {"bad hex pid", readerWith(R"("pid": "A7G6")"), kAt + ".reader.pid", "not hexadecimal"},
      {"short vid", readerWith(R"("vid": "3C7")"), kAt + ".reader.vid", "4 hex digits"},
      {"short config", readerWith(R"("config3E": "00 01")"), kAt + ".reader.config3E", "16 bytes"},
      {"eeprom on a model without", readerWith(R"("eeprom": "00")"), kAt + ".reader.eeprom",
       "no EEPROM"},
      {"odd eeprom hex", oneReader("VQ348", R"("eeprom": "123")"), kAt + ".reader.eeprom",
       "odd number"},
      {"unsafe id", oneReader("VQ301A", "", "../escape"), kAt + ".reader.id", "letters, digits"},
      {"cards on one slot", readerWith(R"("cards": [ {} ])"), kAt + ".reader.cards",
       "one card slot"},
      {"three cards", oneReader("VQ307B2B-2LUN", R"("cards": [ {}, {}, {} ])"),
       kAt + ".reader.cards", "2 slots"},
      {"device numbers count", readerWith(R"("deviceNumbers": [1, 2])"),
       kAt + ".reader.deviceNumbers", "one number per logical unit"},
      {"chained hub not of 7", farmJson(R"({ "port": 1, "hub": { "ports": 4, "chips": 2 } })"),
       kAt + ".hub.ports", "must be 7"},
      {"hub and reader", farmJson(R"({ "port": 1, "hub": { "ports": 4 }, "reader": {} })"), kAt,
       "exactly one of hub and reader"},
      {"fault command", readerWith(R"("faults": [ { "command": "Format", "fault": "fail" } ])"),
       kAt + ".reader.faults[0].command", "names no command"},
      {"fault kind", readerWith(R"("faults": [ { "command": "ReadCard", "fault": "explode" } ])"),
       kAt + ".reader.faults[0].fault", "fail, corrupt, pull, hang or unitAttention"},
      {"hang a volume write",
       readerWith(R"("faults": [ { "command": "volumeWrite", "fault": "hang" } ])"),
       kAt + ".reader.faults[0].fault", "does not apply to volumeWrite"},
      {"unit attention on open",
       readerWith(R"("faults": [ { "command": "open", "fault": "unitAttention" } ])"),
       kAt + ".reader.faults[0].fault", "needs a command"},
      {"corrupt a write",
       readerWith(R"("faults": [ { "command": "WriteCard", "fault": "corrupt" } ])"),
       kAt + ".reader.faults[0].fault", "reads data"},
      {"fromSector without sectors",
       readerWith(R"("faults": [ { "command": "WriteCard", "fault": "fail", "fromSector": 8 } ])"),
       kAt + ".reader.faults[0].fromSector", "ReadSector and WriteSector only"},
      {"failFirst elsewhere",
       readerWith(R"("faults": [ { "command": "ReadCard", "failFirst": 2 } ])"),
       kAt + ".reader.faults[0].failFirst", "\"open\" only"},
      {"event for nobody",
       R"({ "hostControllers": [], "events": [ { "atMs": 5, "pull": "ghost" } ] })",
       "$.events[0].pull", "names no reader"},
      {"event both ways",
       R"({ "hostControllers": [], "events": [ { "atMs": 5, "pull": "a", "plug": "a" } ] })",
       "$.events[0]", "exactly one of plug and pull"},
      // Below 64 KiB per command time-out every transfer outwaits it, and a run never ends.
      {"reader rate that stalls", readerWith(R"("readMBps": 1e-12)"), kAt + ".reader.readMBps",
       "greater than 0.032768"},
      {"write rate at the floor", readerWith(R"("writeMBps": 0.032768)"), kAt + ".reader.writeMBps",
       "greater than 0.032768"},
      {"hub rate that stalls", farmJson(R"({ "port": 1, "hub": { "ports": 4, "MBps": 0.001 } })"),
       kAt + ".hub.MBps", "greater than 0.032768"},
      {"bus rate that stalls", farmJson("", R"("busMBps": 0.03,)"), "$.busMBps",
       "greater than 0.032768"},
      {"card beyond 32-bit sectors", readerWith(R"("cardSectors": 4294967296)"),
       kAt + ".reader.cardSectors", "between 0 and 4294967295"},
      {"card beyond 2 TiB", readerWith(R"("cardMiB": 2097152)"), kAt + ".reader.cardMiB",
       "between 0 and 2097151"},
      {"partitioned tiny card", readerWith(R"("cardSectors": 40, "partitioned": true)"),
       kAt + ".reader", "more than 64 sectors"},
      {"forgery as large as the card",
       readerWith(R"("cardMiB": 8, "realMiB": 8, "forgery": "wrap")"), kAt + ".reader.realMiB",
       "below the card's reported size"},
      {"forgery without its size", readerWith(R"("cardMiB": 8, "forgery": "drop")"),
       kAt + ".reader.realMiB", "go together"},
      {"unknown forgery", readerWith(R"("cardMiB": 8, "realMiB": 4, "forgery": "shrink")"),
       kAt + ".reader.forgery", "wrap or drop"},
      {"drop reads on a wrap", readerWith(R"("cardMiB": 8, "realMiB": 4, "forgery": "wrap",
       "dropReads": "ff")"),
       kAt + ".reader.dropReads", "\"drop\" only"},
      {"forged second card as large", oneReader("VQ307B2B-2LUN", R"("cards": [ { "cardMiB": 4 },
       { "cardMiB": 4, "realMiB": 4, "forgery": "drop" } ])"),
       kAt + ".reader.cards[1].realMiB", "below the card's reported size"},
  };
}

TEST_F(FarmTest, EachBadFarmIsRefusedWithThePathAndTheProblem) {
  for (const BadFarm& bad : badFarms()) {
    const std::string error = refusal(bad.json);
    EXPECT_EQ(error.rfind("test farm: ", 0), 0u) << bad.what << ": " << error;
    if (!bad.path.empty()) {
      EXPECT_NE(error.find(": " + bad.path + ": "), std::string::npos) << bad.what << ": " << error;
    }
    EXPECT_NE(error.find(bad.problem), std::string::npos) << bad.what << ": " << error;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "farm-images")) << "nothing half-built";
}

TEST_F(FarmTest, TheExampleFarmFileIsReadWithEveryField) {
  const std::filesystem::path file =
      std::filesystem::path(std::getenv("TARVIX_TEST_DATA")) / "sim" / "example_farm.json";
  std::string error;
  auto plan = parseFarm(
      R"({ "imageDir": "imgs", "timeScale": 0.5, "busMBps": 40, "hostControllers": [
          { "rootHubPorts": 8, "attached": [
            { "port": 2, "hub": { "ports": 7, "chips": 2, "MBps": 30, "attached": [
              { "port": 3, "reader": { "id": "r3", "model": "VQ348", "cardMiB": 128,
                "cardType": "CF", "eeprom": "0102", "readMBps": 20, "writeMBps": 10,
                "faults": [ { "command": "open", "failFirst": 2 },
                            { "command": "ReadSector", "after": 4, "fault": "corrupt" } ] } } ] } } ] } ],
          "events": [ { "atMs": 4000, "plug": "r3" }, { "atMs": 1500, "pull": "r3" } ] })",
      "x", "/base", error);
  ASSERT_TRUE(plan) << error;
  EXPECT_EQ(plan->imageDir, "/base/imgs");
  EXPECT_EQ(plan->timeScale, 0.5);
  EXPECT_EQ(plan->controllers[0].mbps, 40);
  EXPECT_EQ(plan->hubs[0].mbps, 30);
  const auto& reader = plan->readers.at(0);
  EXPECT_EQ(reader.cards.at(0).sectors, 128u * 2048);
  EXPECT_EQ(reader.cards.at(0).typeByte, 0xFB);
  EXPECT_EQ(reader.eeprom, (std::vector<std::uint8_t>{1, 2}));
  EXPECT_EQ(reader.openFailFirst, 2u);
  ASSERT_EQ(reader.faults.size(), 1u);
  EXPECT_EQ(reader.faults[0].after, 4u);
  EXPECT_EQ(reader.at.hub, 0);
  EXPECT_EQ(reader.at.port, 3);
  EXPECT_EQ(plan->events.at(0).atMs, 1500u) << "events in time order";

  // The farm file in the test data loads as a whole farm, its images beside it.
  const std::filesystem::path copy = dir.path() / "example_farm.json";
  std::filesystem::copy_file(file, copy);
  auto loaded = Farm::load(copy, error);
  ASSERT_TRUE(loaded) << error;
  EXPECT_EQ(loaded->readerIds().size(), 3u);
  EXPECT_EQ(loaded->cardImagePath("r5"), dir.path() / "farm-images" / "r5.img");
  EXPECT_FALSE(Farm::load(dir.path() / "missing.json", error));
  EXPECT_NE(error.find("missing.json: cannot be read"), std::string::npos) << error;
}

} // namespace
} // namespace tarvix::sim_test
