// The serial number series of a station: the number the next reader gets, kept in the settings
// file, which every station process on this computer shares whichever account runs it; or, on a
// production line, the line's series. A number is recorded (the advanced one saved, or the taken
// one in the line) before it reaches a card, so that a crash never hands one out twice. Any
// thread; one lock of its own, never held across a call to the window thread.
#pragma once

#include "run/run_options.h"
#include "station/serial_source.h"

#include <cstddef>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

namespace tarvix::run {

// Digits of a serial number: shorter ones are filled with zeros in front, longer ones are never
// written, as the card information would cut them into one already handed out.
inline constexpr std::size_t kSerialDigits = 12;

// `serial` filled with zeros in front to kSerialDigits.
std::string paddedSerial(std::string serial);

class SerialCounter {
public:
  // What taking a serial number came to.
  struct Taken {
    std::optional<std::string> serial; // the reader's; nothing when none could be taken
    bool tooLong = false;              // the series holds more digits than a card takes
    bool notSaved = false;             // the advanced number could not be saved
    std::string lineRefusal;           // why the production line gave none
    bool firstFailure = false;         // the first failure since the run began
  };

  // Where advanced numbers are saved.
  void keepIn(std::filesystem::path file);
  std::filesystem::path file() const;
  // On a production line every number comes from its series instead, Increase or not. Owned
  // elsewhere; set before the first run.
  void takeFrom(station::SerialSource* line);
  // Whether the station is on a production line.
  bool onLine() const { return line() != nullptr; }
  // The number the next reader gets, as far as this station knows.
  std::string next() const;
  // The number the settings file gave: the counter's, known to the station.
  void startFrom(std::string serial);
  // Whether the serial edit's `shown` is another number than the one the station knows: typed by
  // the operator, or loaded from another file.
  bool typed(const std::string& shown) const;
  // A run starts counting from `shown` when it was typed, which becomes the shared counter's
  // number; otherwise from the counter's own, which another station may have moved on. Its
  // failures are told afresh. The number it starts from.
  std::string startRun(const std::string& shown);
  // Why a run of `options` cannot take its serial numbers now, in the operator's words: a
  // production line that cannot give them, for a run that writes them. Nothing when it can.
  // Asked while the run is prepared, on the window thread.
  std::optional<std::string> unavailable(const RunOptions& options) const;
  // The serial number for the reader in port `port`: with `increase`, the series advances and
  // the advanced number is saved first, under the lock all station processes take.
  Taken take(bool increase, int port);

private:
  station::SerialSource* line() const;
  Taken takeFromLine(station::SerialSource& line, int port);

  mutable std::mutex lock_;
  std::string next_;
  std::filesystem::path file_;
  station::SerialSource* line_ = nullptr;
  bool failed_ = false;
};

} // namespace tarvix::run
