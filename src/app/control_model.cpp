#include "app/control_model.h"

#include "app/control_table.h"
#include "app/window_timers.h"
#include "platform/trace.h"
#include "station/numbering.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <chrono>
#include <utility>

namespace tarvix::app {
namespace {

// How often queued port box changes reach the window: a smooth bar, and ten wake-ups a second
// however busy the ports are, which leaves room for the run's own timer within twelve.
constexpr auto kDisplayPeriod = std::chrono::milliseconds(100);

// The port boxes' result lines, bars and pictures: where workers show how their port is doing.
bool inPortBox(int id) {
  using namespace station;
  return isResultLine(id) || (id >= progressBarId(1) && id <= progressBarId(kPortCount)) ||
         (id >= statusPictureId(1) && id <= statusPictureId(kPortCount));
}

} // namespace

ControlModel::ControlModel(ui::WindowHost& host, std::vector<ControlRecord> records) : host_(host) {
  if (records.empty()) return;
  firstId_ = records.front().id;
  records_.resize(static_cast<std::size_t>(records.back().id - firstId_ + 1));
  for (ControlRecord& r : records) {
    ids_.push_back(r.id);
    records_[r.id - firstId_] = std::move(r);
  }
}

ControlModel::~ControlModel() {
  // Runs after what workers posted before, so no timer is armed for a model that is gone.
  auto stop = [this] { host_.stopTimer(WindowTimers::kDisplay); };
  if (host_.onWindowThread()) {
    stop();
  } else {
    host_.runAndWait(stop);
  }
}

ControlRecord* ControlModel::find(int id) {
  return const_cast<ControlRecord*>(std::as_const(*this).find(id));
}

const ControlRecord* ControlModel::find(int id) const {
  const int index = id - firstId_;
  const bool known = index >= 0 && index < static_cast<int>(records_.size()) &&
                     records_[static_cast<std::size_t>(index)].id == id;
  assert(known && "no control of the window has this id");
  return known ? &records_[static_cast<std::size_t>(index)] : nullptr;
}

const ControlRecord& ControlModel::control(int id) const {
  static const ControlRecord kMissing{};
  const ControlRecord* r = find(id);
  return r != nullptr ? *r : kMissing;
}

template <typename Change> void ControlModel::change(int id, Change&& apply) {
  ControlRecord* r = find(id);
  if (r == nullptr) return; // no such control: nothing to change
  auto run = [&] {
    apply(*r);
    revise();
  };
  if (host_.onWindowThread()) {
    run();
  } else {
    host_.runAndWait(run);
  }
}

template <typename Read> auto ControlModel::read(int id, Read&& get) const {
  const ControlRecord& r = control(id);
  if (host_.onWindowThread()) return get(r);
  decltype(get(r)) result{};
  // A worker reads what it has shown, queued or not.
  host_.runAndWait([&] {
    const_cast<ControlModel*>(this)->flushDisplay();
    result = get(r);
  });
  return result;
}

void ControlModel::display(int id, DisplayQueue::Property property,
                           std::function<void(ControlRecord&)> apply) {
  if (!inPortBox(id)) return change(id, apply);
  if (host_.onWindowThread()) {
    displayQueue_.drop(id, property);
    change(id, apply);
    return;
  }
  ControlRecord* r = find(id);
  if (r == nullptr) return;
  const bool armTimer = displayQueue_.put(id, property, [this, r, apply = std::move(apply)] {
    apply(*r);
    revise();
  });
  if (armTimer) host_.post([this] { armDisplayTimer(); });
}

void ControlModel::armDisplayTimer() {
  host_.armTimer(WindowTimers::kDisplay, kDisplayPeriod, [this] {
    auto [due, again] = displayQueue_.takeOnTimer();
    for (const DisplayQueue::Apply& apply : due)
      apply();
    if (again) armDisplayTimer();
  });
}

void ControlModel::flushDisplay() {
  for (const DisplayQueue::Apply& apply : displayQueue_.take())
    apply();
}

void ControlModel::revise() {
  ++revision_;
  if (onChange_) onChange_();
}

void ControlModel::setText(int id, const std::string& text) {
  display(id, DisplayQueue::Property::Text, [text](ControlRecord& r) { r.text = text; });
}

std::string ControlModel::text(int id) const {
  return read(id, [](const ControlRecord& r) { return r.text; });
}

int ControlModel::number(int id) const {
  const std::string t = text(id);
  std::size_t start = t.find_first_not_of(" \t");
  if (start == std::string::npos) return 0;
  int value = 0;
  std::from_chars(t.data() + start, t.data() + t.size(), value);
  return value;
}

bool ControlModel::checked(int id) const {
  return read(id, [](const ControlRecord& r) { return r.checked; });
}

void ControlModel::setChecked(int id, bool checked) {
  change(id, [&](ControlRecord& r) { r.checked = checked; });
}

void ControlModel::enable(int id, bool enabled) {
  change(id, [&](ControlRecord& r) { r.enabled = enabled; });
}

void ControlModel::show(int id, bool visible) {
  change(id, [&](ControlRecord& r) { r.visible = visible; });
}

void ControlModel::setPicture(int id, int pictureId) {
  display(id, DisplayQueue::Property::Picture,
          [pictureId](ControlRecord& r) { r.picture = pictureId; });
}

void ControlModel::setProgressRange(int id, int low, int high) {
  display(id, DisplayQueue::Property::Range, [low, high](ControlRecord& r) {
    r.rangeLow = low;
    r.rangeHigh = high;
  });
}

void ControlModel::setProgress(int id, int position) {
  display(id, DisplayQueue::Property::Position,
          [position](ControlRecord& r) { r.position = position; });
}

void ControlModel::addRow(int id, const std::string& row) {
  change(id, [&](ControlRecord& r) {
    auto at = r.rows.end();
    if (r.sorted) at = std::upper_bound(r.rows.begin(), r.rows.end(), row);
    r.rows.insert(at, row);
  });
}

int ControlModel::selectedRow(int id) const {
  return read(id, [](const ControlRecord& r) { return r.selectedRow; });
}

void ControlModel::setSelectedRow(int id, int row) {
  change(id, [&](ControlRecord& r) {
    r.selectedRow = (row >= 0 && row < static_cast<int>(r.rows.size())) ? row : -1;
  });
}

void ControlModel::setFont(int id, station::FontChoice font) {
  change(id, [&](ControlRecord& r) { r.font = font; });
}

void ControlModel::setTextLimit(int id, int limit) {
  change(id, [limit](ControlRecord& r) { r.textLimit = limit; });
}

void ControlModel::messageBox(const std::string& text) {
  // A box a port's worker shows says which port in its caption: twenty-one may be at work.
  std::string caption(kApplicationName);
  if (const int port = platform::tracedPort(); port != 0)
    caption += std::string(kPortCaption) + std::to_string(port);
  auto show = [&] { host_.messageBox(text, caption); };
  if (host_.onWindowThread()) {
    show();
  } else {
    host_.runAndWait(show);
  }
}

} // namespace tarvix::app
