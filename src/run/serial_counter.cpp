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

void SerialCounter::takeFrom(station::SerialSource* line) {
  std::lock_guard guard(lock_);
  line_ = line;
}

std::string SerialCounter::next() const {
  std::lock_guard guard(lock_);
  return next_;
}

void SerialCounter::startFrom(std::string serial) {
  std::lock_guard guard(lock_);
  next_ = std::move(serial);
}

bool SerialCounter::typed(const std::string& shown) const {
  std::lock_guard guard(lock_);
  return paddedSerial(shown) != paddedSerial(next_);
}

std::string SerialCounter::startRun(const std::string& shown) {
  const bool typedIn = typed(shown);
  std::lock_guard guard(lock_);
  failed_ = false;
  // Read and written under the lock every station process on this computer takes. A counter that
  // cannot be locked cannot be saved either: the first number taken says so.
  const settings::SerialCounterLock shared(file_);
  if (typedIn) {
    next_ = paddedSerial(shown);
    if (shared.held()) settings::saveSerialNumber(file_, next_);
  } else if (shared.held()) {
    next_ = paddedSerial(settings::storedSerialNumber(file_).value_or(next_));
  }
  next_ = paddedSerial(next_);
  return next_;
}

std::optional<std::string> SerialCounter::unavailable(const RunOptions& options) const {
  station::SerialSource* fromLine = line();
  std::string why;
  if (fromLine == nullptr || !options.writeParameter || fromLine->ready(why)) return std::nullopt;
  return why;
}

station::SerialSource* SerialCounter::line() const {
  std::lock_guard guard(lock_);
  return line_;
}

SerialCounter::Taken SerialCounter::takeFromLine(station::SerialSource& line, int port) {
  Taken taken;
  // The line has a lock of its own: workers wait on it, not on this counter's.
  taken.serial = line.take(port, taken.lineRefusal);
  if (taken.serial && taken.serial->size() > kSerialDigits) {
    taken.tooLong = true;
    taken.lineRefusal = "the line's number " + *taken.serial + " has more than twelve digits";
    taken.serial.reset();
  }
  if (!taken.serial) {
    std::lock_guard guard(lock_);
    taken.firstFailure = !std::exchange(failed_, true);
  }
  return taken;
}

SerialCounter::Taken SerialCounter::take(bool increase, int port) {
  if (station::SerialSource* fromLine = line()) return takeFromLine(*fromLine, port);
  std::lock_guard guard(lock_);
  Taken taken;
  // The counter is shared with the other stations on this computer: the number to take is the
  // one in the file, read and advanced under the lock they all take.
  std::optional<settings::SerialCounterLock> shared;
  if (increase) {
    shared.emplace(file_);
    if (shared->held()) next_ = settings::storedSerialNumber(file_).value_or(next_);
  }
  next_ = paddedSerial(next_);
  if (next_.size() > kSerialDigits) {
    taken.tooLong = true;
    return taken;
  }
  if (increase) {
    const std::string advanced = nextSerialText(next_);
    if (!shared->held() || !settings::saveSerialNumber(file_, advanced)) {
      taken.notSaved = true;
      taken.firstFailure = !std::exchange(failed_, true);
      return taken;
    }
    taken.serial = std::exchange(next_, advanced);
    return taken;
  }
  taken.serial = next_;
  return taken;
}

} // namespace tarvix::run
