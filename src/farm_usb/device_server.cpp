#include "farm_usb/device_server.h"

#include "farm_usb/socket_io.h"
#include "farm_usb/usbip_link.h"
#include "farm_usb/usbip_wire.h"
#include "farm_usb/usbredir_link.h"

#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tarvix::farm_usb {
namespace {

namespace sim = platform::sim;

// How long a client may take to send its operation request before the server gives up on it.
constexpr int kOperationTimeoutSeconds = 5;
constexpr std::uint32_t kFirstDeviceNumber = 2; // 1 is a bus's root hub

enum class Transport : std::uint8_t { Usbredir, Usbip };

void poke(int eventFd) {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(eventFd, &one, sizeof one);
}

void drain(int eventFd) {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = ::read(eventFd, &count, sizeof count);
}

void say(const std::string& readerId, const char* what) {
  std::fprintf(stderr, "tarvix-farm: %s: %s\n", readerId.c_str(), what);
}

} // namespace

struct DeviceServer::Impl {
  class Worker;

  Impl(sim::Farm& served, Transport kind) : farm(served), transport(kind) {}
  ~Impl();
  bool start(std::string& error);
  void acceptImports();
  void answerOperation(int connection);

  sim::Farm& farm;
  Transport transport;
  std::filesystem::path socketDir;
  std::string address;
  std::uint16_t port = 0;
  int tcpListener = -1;
  int stopWake = -1;
  std::atomic<bool> stopping{false};
  std::deque<Worker> workers; // a deque: workers are pointed at and never move
  std::thread acceptor;
};

// One reader's server: its listening socket (usbredir), its connection and the link on it.
class DeviceServer::Impl::Worker {
public:
  Worker(Impl& server, const sim::ReaderPlan& reader, std::uint32_t deviceNumber)
      : server_(server), reader_(reader), wake_(::eventfd(0, EFD_CLOEXEC)),
        deviceNumber_(deviceNumber) {}
  ~Worker() {
    closeConnection();
    closeListener();
    closeSocket(offered_);
    if (wake_ >= 0) ::close(wake_);
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  bool openListenerIfPlugged(std::string& error) {
    if (server_.farm.plugGeneration(reader_.id) == 0) return true;
    listener_ = listenUnix(socketPath(), error);
    return listener_ >= 0;
  }
  void start() {
    thread_ = std::thread([this] { run(); });
  }
  void wake() { poke(wake_); }
  // Ends the connection's traffic from another thread, so that a read or write waiting on a
  // peer that went quiet mid-message returns and the worker can stop.
  void interrupt() {
    std::lock_guard lock(connectionMutex_);
    if (connection_ >= 0) ::shutdown(connection_, SHUT_RDWR);
  }
  void join() {
    if (thread_.joinable()) thread_.join();
  }

  const sim::ReaderPlan& reader() const { return reader_; }
  usbip::ExportedDevice exported() const {
    return {&reader_, reader_.id, static_cast<std::uint32_t>(reader_.at.controller + 1),
            deviceNumber_};
  }
  // Hands an imported USB/IP connection to the worker; false when it serves one already.
  bool offer(int connection, std::uint64_t generation) {
    {
      std::lock_guard lock(offerMutex_);
      if (busy_ || offered_ >= 0) return false;
      offered_ = connection;
      offeredGeneration_ = generation;
    }
    wake();
    return true;
  }

private:
  std::filesystem::path socketPath() const { return server_.socketDir / (reader_.id + ".sock"); }

  void run() {
    while (!server_.stopping) {
      reconcile();
      std::array<pollfd, 3> fds{};
      fds[0] = {wake_, POLLIN, 0};
      nfds_t count = 1;
      const int listening = listener_ >= 0 && connection_ < 0 ? listener_ : -1;
      if (listening >= 0) fds[count++] = {listening, POLLIN, 0};
      if (connection_ >= 0) fds[count++] = {connection_, POLLIN, 0};
      if (::poll(fds.data(), count, -1) < 0) continue;
      if (fds[0].revents != 0) drain(wake_);
      for (nfds_t i = 1; i < count; ++i) {
        if (fds[i].revents == 0) continue;
        if (fds[i].fd == listening) {
          acceptUsbredir();
        } else if (fds[i].fd == connection_ && !serveConnection()) {
          closeConnection();
        }
      }
    }
  }

  // Follows the farm: a pull ends the connection (and, for usbredir, the listening socket), a
  // plug-in opens the socket again; an offered USB/IP connection is taken up.
  void reconcile() {
    const std::uint64_t generation = server_.farm.plugGeneration(reader_.id);
    // The socket goes before the connection, so no host sees the close and reconnects at once.
    if (server_.transport == Transport::Usbredir && generation == 0) closeListener();
    if (connection_ >= 0 && generation != generation_) closeConnection();
    if (server_.transport == Transport::Usbredir) {
      if (generation != 0 && listener_ < 0) {
        std::string error;
        listener_ = listenUnix(socketPath(), error);
        if (listener_ < 0) say(reader_.id, error.c_str());
      }
      return;
    }
    int offered = -1;
    std::uint64_t offeredGeneration = 0;
    {
      std::lock_guard lock(offerMutex_);
      std::swap(offered, offered_);
      offeredGeneration = offeredGeneration_;
      if (offered >= 0) busy_ = true;
    }
    if (offered < 0) return;
    if (offeredGeneration != generation) {
      closeSocket(offered);
      setBusy(false);
      return;
    }
    setConnection(offered);
    generation_ = generation;
    usbip_ = std::make_unique<UsbipLink>(connection_, server_.farm, reader_, generation_);
    say(reader_.id, "USB/IP device imported");
  }

  void acceptUsbredir() {
    const int connection = acceptConnection(listener_);
    if (connection < 0) return;
    setNonBlocking(connection, true);
    setConnection(connection);
    generation_ = server_.farm.plugGeneration(reader_.id);
    setBusy(true);
    // QEMU's hubs are full-speed hubs: a reader behind one runs at full speed, as a real
    // high-speed reader does behind a USB 1.1 hub.
    const Speed speed = reader_.at.hub >= 0 ? Speed::Full : Speed::High;
    redir_ = std::make_unique<UsbredirLink>(connection_, server_.farm, reader_, generation_, speed);
    say(reader_.id, "usbredir connected");
    if (!redir_->serve()) closeConnection(); // the greeting goes out at once
  }

  bool serveConnection() { return redir_ ? redir_->serve() : usbip_->serve(); }

  void closeConnection() {
    if (connection_ < 0) return;
    redir_.reset();
    usbip_.reset();
    {
      std::lock_guard lock(connectionMutex_);
      closeSocket(connection_);
    }
    setBusy(false);
    say(reader_.id, "connection closed");
  }

  void closeListener() {
    if (listener_ < 0) return;
    closeSocket(listener_);
    ::unlink(socketPath().c_str()); // so that QEMU's reconnects fail until the plug-in
  }

  void setConnection(int connection) {
    std::lock_guard lock(connectionMutex_);
    connection_ = connection;
  }

  void setBusy(bool busy) {
    std::lock_guard lock(offerMutex_);
    busy_ = busy;
  }

  Impl& server_;
  const sim::ReaderPlan& reader_;
  int wake_;
  std::uint32_t deviceNumber_;
  int listener_ = -1;
  std::mutex connectionMutex_; // guards changes of connection_ against interrupt()
  int connection_ = -1;
  std::uint64_t generation_ = 0;
  std::unique_ptr<UsbredirLink> redir_;
  std::unique_ptr<UsbipLink> usbip_;
  std::mutex offerMutex_; // guards the three below, shared with the USB/IP acceptor
  bool busy_ = false;
  int offered_ = -1;
  std::uint64_t offeredGeneration_ = 0;
  std::thread thread_;
};

bool DeviceServer::Impl::start(std::string& error) {
  stopWake = ::eventfd(0, EFD_CLOEXEC);
  std::uint32_t deviceNumber = kFirstDeviceNumber;
  for (const sim::ReaderPlan& reader : farm.plan().readers) {
    if (transport == Transport::Usbip && reader.id.size() >= usbip::kBusIdBytes) {
      error = "reader " + reader.id + ": the id is too long for a USB/IP bus id";
      return false;
    }
    workers.emplace_back(*this, reader, deviceNumber++);
    if (transport == Transport::Usbredir && !workers.back().openListenerIfPlugged(error))
      return false;
  }
  if (transport == Transport::Usbip) {
    tcpListener = listenTcp(address, port, error);
    if (tcpListener < 0) return false;
    port = boundPort(tcpListener);
    acceptor = std::thread([this] { acceptImports(); });
  }
  farm.drives().setEventListener([this](platform::DeviceEvent) {
    for (Worker& worker : workers)
      worker.wake();
  });
  for (Worker& worker : workers)
    worker.start();
  return true;
}

DeviceServer::Impl::~Impl() {
  farm.drives().setEventListener(nullptr);
  stopping = true;
  if (stopWake >= 0) poke(stopWake);
  if (acceptor.joinable()) acceptor.join();
  for (Worker& worker : workers) {
    worker.wake();
    worker.interrupt();
  }
  for (Worker& worker : workers)
    worker.join();
  workers.clear();
  closeSocket(tcpListener);
  if (stopWake >= 0) ::close(stopWake);
}

void DeviceServer::Impl::acceptImports() {
  while (!stopping) {
    std::array<pollfd, 2> fds{{{stopWake, POLLIN, 0}, {tcpListener, POLLIN, 0}}};
    if (::poll(fds.data(), fds.size(), -1) < 0 || fds[0].revents != 0) continue;
    const int connection = acceptConnection(tcpListener);
    if (connection >= 0) answerOperation(connection);
  }
}

void DeviceServer::Impl::answerOperation(int connection) {
  setNoDelay(connection);
  setReadTimeout(connection, kOperationTimeoutSeconds);
  std::array<std::uint8_t, usbip::kOperationHeaderBytes> header{};
  if (!readAll(connection, header)) {
    closeSocket(connection);
    return;
  }
  const usbip::OperationHeader operation = usbip::parseOperationHeader(header);
  if (operation.code == usbip::kRequestDeviceList) {
    std::vector<usbip::ExportedDevice> devices;
    for (const Worker& worker : workers)
      if (farm.plugGeneration(worker.reader().id) != 0) devices.push_back(worker.exported());
    writeAll(connection, usbip::deviceListReply(devices));
    closeSocket(connection);
    return;
  }
  std::array<std::uint8_t, usbip::kBusIdBytes> busId{};
  if (operation.code != usbip::kRequestImport || !readAll(connection, busId)) {
    closeSocket(connection);
    return;
  }
  const std::string wanted = usbip::parseBusId(busId);
  Worker* found = nullptr;
  for (Worker& worker : workers)
    if (worker.reader().id == wanted) found = &worker;
  const std::uint64_t generation = found ? farm.plugGeneration(wanted) : 0;
  if (generation == 0) {
    writeAll(connection, usbip::importReply(nullptr));
    closeSocket(connection);
    return;
  }
  const usbip::ExportedDevice device = found->exported();
  setReadTimeout(connection, 0);
  // Offered before the reply goes out, so a second import of the same reader is refused.
  if (!found->offer(connection, generation)) {
    writeAll(connection, usbip::importReply(nullptr));
    closeSocket(connection);
    return;
  }
  writeAll(connection, usbip::importReply(&device));
}

DeviceServer::DeviceServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
DeviceServer::~DeviceServer() = default;

std::unique_ptr<DeviceServer> DeviceServer::serveUsbredir(sim::Farm& farm,
                                                          const std::filesystem::path& socketDir,
                                                          std::string& error) {
  auto impl = std::make_unique<Impl>(farm, Transport::Usbredir);
  impl->socketDir = socketDir;
  if (!impl->start(error)) return nullptr;
  return std::unique_ptr<DeviceServer>(new DeviceServer(std::move(impl)));
}

std::unique_ptr<DeviceServer> DeviceServer::serveUsbip(sim::Farm& farm, const std::string& address,
                                                       std::uint16_t port, std::string& error) {
  auto impl = std::make_unique<Impl>(farm, Transport::Usbip);
  impl->address = address;
  impl->port = port;
  if (!impl->start(error)) return nullptr;
  return std::unique_ptr<DeviceServer>(new DeviceServer(std::move(impl)));
}

std::size_t DeviceServer::readerCount() const { return impl_->workers.size(); }
std::uint16_t DeviceServer::usbipPort() const {
  return impl_->transport == Transport::Usbip ? impl_->port : 0;
}

} // namespace tarvix::farm_usb
