// A strip of toggle buttons, one per simulated reader, that plugs and pulls readers of a farm while
// the station runs, as an operator would at the hubs. It knows the farm only through these calls.
#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

namespace tarvix::ui {

struct SimulatedReaders {
  std::vector<std::string> ids;
  std::function<bool(const std::string&)> plugged;
  std::function<bool(const std::string&)> plug;
  std::function<bool(const std::string&)> pull;
};

class SimulatorPanel final : public QWidget {
public:
  SimulatorPanel(SimulatedReaders readers, QWidget* parent = nullptr);

private:
  SimulatedReaders readers_;
};

} // namespace tarvix::ui
