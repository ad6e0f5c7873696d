#include "run/serial_counter.h"

#include "run/card_parameters.h"
#include "settings/station_file.h"

#include <utility>

namespace tarvix::run {

std::string paddedSerial(std::string serial) {
  if (serial.size() < kSerialDigits) serial.insert(0, kSerialDigits - serial.size(), '0');
  return serial;
}

void SerialCounter::keepIn(std::filesystem::path file) {
  std::lock_guard guard(lock_);
  file_ = std::move(file);
}

std::filesystem::path SerialCounter::file() const {
  std::lock_guard guard(lock_);
  return file_;
}

std::string SerialCounter::next() const {
  std::lock_guard guard(lock_);
  return next_;
}

void SerialCounter::startFrom(std::string serial) {
  std::lock_guard guard(lock_);
  next_ = std::move(serial);
  saveFailed_ = false;
}

SerialCounter::Taken SerialCounter::take(bool increase) {
  std::lock_guard guard(lock_);
  Taken taken;
  if (next_.size() > kSerialDigits) {
    taken.tooLong = true;
    return taken;
  }
  if (increase) {
    const std::string advanced = nextSerialText(next_);
    if (!settings::saveSerialNumber(file_, advanced)) {
      taken.notSaved = true;
      taken.firstNotSaved = !std::exchange(saveFailed_, true);
      return taken;
    }
    taken.serial = std::exchange(next_, advanced);
    return taken;
  }
  taken.serial = next_;
  return taken;
}

} // namespace tarvix::run
