// tarvix-farm: the readers of a farm file served as USB mass-storage devices, over usbredir to
// QEMU's usb-redir devices or over USB/IP to any machine with vhci-hcd, or the QEMU arguments that
// build the farm's USB tree. While serving, standard input takes control lines ("pull ID",
// "plug ID"), each answered on standard output; SIGTERM or SIGINT ends the server.
#include "farm_usb/control_line.h"
#include "farm_usb/device_server.h"
#include "farm_usb/qemu_arguments.h"
#include "platform/sim/farm.h"
#include "platform/sim/farm_file.h"

#include <array>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

using namespace tarvix;
namespace fs = std::filesystem;

constexpr int kFailed = 1;
constexpr int kUsageError = 2;
constexpr const char* kUsage = "usage: tarvix-farm --farm FILE --usbredir DIR\n"
                               "       tarvix-farm --farm FILE --usbip [ADDR:]PORT\n"
                               "       tarvix-farm --farm FILE --qemu-args DIR\n";
// USB/IP listens on the loopback unless told otherwise: the card images are not for the network.
constexpr const char* kDefaultUsbipAddress = "127.0.0.1";

enum class Mode { Usbredir, Usbip, QemuArguments };

struct Options {
  fs::path farmFile;
  Mode mode = Mode::Usbredir;
  std::string target; // the socket folder, or [ADDR:]PORT
};

std::optional<Options> parse(int argc, char** argv) {
  Options options;
  bool haveMode = false;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) return std::nullopt;
    const std::string value = argv[++i];
    if (flag == "--farm" && options.farmFile.empty()) {
      options.farmFile = value;
      continue;
    }
    if (haveMode) return std::nullopt;
    if (flag == "--usbredir") {
      options.mode = Mode::Usbredir;
    } else if (flag == "--usbip") {
      options.mode = Mode::Usbip;
    } else if (flag == "--qemu-args") {
      options.mode = Mode::QemuArguments;
    } else {
      return std::nullopt;
    }
    options.target = value;
    haveMode = true;
  }
  if (options.farmFile.empty() || !haveMode || options.target.empty()) return std::nullopt;
  return options;
}

int fail(const std::string& message) {
  std::cerr << "tarvix-farm: " << message << "\n";
  return kFailed;
}

int printQemuArguments(const Options& options) {
  std::ifstream in(options.farmFile, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) return fail(options.farmFile.string() + ": cannot be read");
  std::string error;
  const auto plan = platform::sim::parseFarm(text.str(), options.farmFile.string(),
                                             fs::absolute(options.farmFile).parent_path(), error);
  if (!plan) return fail(error);
  const auto arguments = farm_usb::qemuArguments(*plan, fs::absolute(options.target), error);
  if (!arguments) return fail(error);
  for (const std::string& argument : *arguments)
    std::cout << argument << "\n";
  return 0;
}

// "[ADDR:]PORT" into its parts; false when the port is no number from 0 to 65535.
bool splitAddress(const std::string& text, std::string& address, std::uint16_t& port) {
  const std::size_t colon = text.rfind(':');
  address = colon == std::string::npos ? kDefaultUsbipAddress : text.substr(0, colon);
  const std::string digits = colon == std::string::npos ? text : text.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const unsigned long value = std::stoul(digits);
  if (value > 0xFFFF) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

// Answers control lines until a signal ends the server; standard input may end long before.
void serveControlLines(platform::sim::Farm& farm, int signals) {
  std::string pending;
  bool inputOpen = true;
  for (;;) {
    std::array<pollfd, 2> fds{{{signals, POLLIN, 0}, {inputOpen ? 0 : -1, POLLIN, 0}}};
    if (::poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents != 0) return;
    if (fds[1].revents == 0) continue;
    std::array<char, 4096> buffer{};
    const ssize_t got = ::read(0, buffer.data(), buffer.size());
    if (got <= 0) {
      inputOpen = false;
      continue;
    }
    pending.append(buffer.data(), static_cast<std::size_t>(got));
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
      const std::string answer = farm_usb::answerControlLine(farm, pending.substr(0, end));
      pending.erase(0, end + 1);
      if (!answer.empty()) std::cout << answer << std::endl;
    }
  }
}

int serve(const Options& options) {
  // The signals are taken as events before any thread starts, so every thread blocks them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  const int signals = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
  std::signal(SIGPIPE, SIG_IGN); // a peer that goes away is a closed connection, not an end

  std::string error;
  std::unique_ptr<platform::sim::Farm> farm = platform::sim::Farm::load(options.farmFile, error);
  if (!farm) return fail(error);
  std::unique_ptr<farm_usb::DeviceServer> server;
  if (options.mode == Mode::Usbredir) {
    std::error_code made;
    fs::create_directories(options.target, made);
    if (made) return fail(options.target + ": " + made.message());
    server = farm_usb::DeviceServer::serveUsbredir(*farm, fs::absolute(options.target), error);
  } else {
    std::string address;
    std::uint16_t port = 0;
    if (!splitAddress(options.target, address, port)) {
      std::cerr << kUsage;
      return kUsageError;
    }
    server = farm_usb::DeviceServer::serveUsbip(*farm, address, port, error);
  }
  if (!server) return fail(error);
  std::cerr << "tarvix-farm: serving " << server->readerCount() << " readers" << std::endl;
  farm->start();
  serveControlLines(*farm, signals);
  // Stopping joins every reader's thread; the card images are written through, so closing the
  // farm leaves every byte a host wrote in its image.
  server.reset();
  farm.reset();
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  const std::optional<Options> options = parse(argc, argv);
  if (!options) {
    std::cerr << kUsage;
    return kUsageError;
  }
  return options->mode == Mode::QemuArguments ? printQemuArguments(*options) : serve(*options);
}
