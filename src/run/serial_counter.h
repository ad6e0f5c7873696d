// The serial number series of a station: the number the next reader gets, and the settings file
// each advanced number is saved in before the number taken reaches a card, so that a crash never
// hands a serial number out twice. Any thread; one lock of its own, never held across a call to
// the window thread.
#pragma once

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
    bool firstNotSaved = false;        // ... for the first time since the run began
  };

  // Where advanced numbers are saved.
  void keepIn(std::filesystem::path file);
  std::filesystem::path file() const;
  // The number the next reader gets.
  std::string next() const;
  // A run starts counting from `serial`; its save failures are told afresh.
  void startFrom(std::string serial);
  // The serial number for one reader: with `increase`, the series advances and the advanced
  // number is saved first.
  Taken take(bool increase);

private:
  mutable std::mutex lock_;
  std::string next_;
  std::filesystem::path file_;
  bool saveFailed_ = false;
};

} // namespace tarvix::run
