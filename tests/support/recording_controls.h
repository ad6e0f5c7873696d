// Window controls that remember what was done to them: each control's last state, and in order
// every text, progress position and message box; no box is checked and no row chosen. Workers set
// controls at once, so all of it is kept under a lock.
#pragma once

#include "station/controls.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tarvix::testing {

class RecordingControls final : public station::WindowControls {
public:
  struct Control {
    std::string text;
    bool enabled = true;
    int picture = 0;
    int progress = -1;
    station::FontChoice font = station::FontChoice::Default;
    station::SlotColour colour = station::SlotColour::Idle;
  };

  void setText(int id, const std::string& t) override {
    note(
        id, [&](Control& c) { c.text = t; }, texts_, t);
  }
  std::string text(int id) const override { return get(id).text; }
  int number(int id) const override { return std::atoi(text(id).c_str()); }
  bool checked(int) const override { return false; }
  void setChecked(int, bool) override {}
  void enable(int id, bool on) override {
    note(id, [&](Control& c) { c.enabled = on; });
  }
  void show(int, bool) override {}
  void setPicture(int id, int picture) override {
    note(id, [&](Control& c) { c.picture = picture; });
  }
  void setProgressRange(int, int, int) override {}
  void setProgress(int id, int position) override {
    note(
        id, [&](Control& c) { c.progress = position; }, progress_, position);
  }
  void addRow(int, const std::string&) override {}
  int selectedRow(int) const override { return -1; }
  void setSelectedRow(int, int) override {}
  void setFont(int id, station::FontChoice font) override {
    note(id, [&](Control& c) { c.font = font; });
  }
  void setColour(int id, station::SlotColour colour) override {
    note(id, [&](Control& c) { c.colour = colour; });
  }
  void messageBox(const std::string& t) override {
    std::lock_guard lock(mutex_);
    boxes_.push_back(t);
  }

  Control get(int id) const {
    std::lock_guard lock(mutex_);
    auto it = controls_.find(id);
    return it == controls_.end() ? Control{} : it->second;
  }
  std::vector<std::string> texts(int id) const { return history(texts_, id); }
  std::vector<int> progress(int id) const { return history(progress_, id); }
  std::vector<std::string> boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
  }

private:
  template <typename Change> void note(int id, Change change) {
    std::lock_guard lock(mutex_);
    change(controls_[id]);
  }
  template <typename Change, typename T>
  void note(int id, Change change, std::map<int, std::vector<T>>& lists, const T& value) {
    std::lock_guard lock(mutex_);
    change(controls_[id]);
    lists[id].push_back(value);
  }
  template <typename T>
  std::vector<T> history(const std::map<int, std::vector<T>>& lists, int id) const {
    std::lock_guard lock(mutex_);
    auto it = lists.find(id);
    return it == lists.end() ? std::vector<T>{} : it->second;
  }

  mutable std::mutex mutex_;
  std::map<int, Control> controls_;
  std::map<int, std::vector<std::string>> texts_;
  std::map<int, std::vector<int>> progress_;
  std::vector<std::string> boxes_;
};

} // namespace tarvix::testing
