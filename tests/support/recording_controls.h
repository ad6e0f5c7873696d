// Window controls that remember what was done to them: each control's last state, and in order
// every text, progress position and message box. With a window behind them, every operation also
// goes on to it and questions are answered by it. Workers set controls at once, so all of it is
// kept under a lock.
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
  };

  RecordingControls() = default;
  explicit RecordingControls(station::WindowControls& window) : window_(&window) {}

  void setText(int id, const std::string& t) override {
    note(
        id, [&](Control& c) { c.text = t; }, texts_, t);
    if (window_) window_->setText(id, t);
  }
  std::string text(int id) const override { return window_ ? window_->text(id) : get(id).text; }
  int number(int id) const override { return std::atoi(text(id).c_str()); }
  bool checked(int id) const override { return window_ && window_->checked(id); }
  void setChecked(int id, bool c) override {
    if (window_) window_->setChecked(id, c);
  }
  void enable(int id, bool on) override {
    note(id, [&](Control& c) { c.enabled = on; });
    if (window_) window_->enable(id, on);
  }
  void show(int id, bool v) override {
    if (window_) window_->show(id, v);
  }
  void setPicture(int id, int picture) override {
    note(id, [&](Control& c) { c.picture = picture; });
    if (window_) window_->setPicture(id, picture);
  }
  void setProgressRange(int id, int low, int high) override {
    if (window_) window_->setProgressRange(id, low, high);
  }
  void setProgress(int id, int position) override {
    note(
        id, [&](Control& c) { c.progress = position; }, progress_, position);
    if (window_) window_->setProgress(id, position);
  }
  void addRow(int id, const std::string& row) override {
    if (window_) window_->addRow(id, row);
  }
  int selectedRow(int id) const override { return window_ ? window_->selectedRow(id) : -1; }
  void setSelectedRow(int id, int row) override {
    if (window_) window_->setSelectedRow(id, row);
  }
  void setFont(int id, station::FontChoice font) override {
    note(id, [&](Control& c) { c.font = font; });
    if (window_) window_->setFont(id, font);
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

  station::WindowControls* window_ = nullptr;
  mutable std::mutex mutex_;
  std::map<int, Control> controls_;
  std::map<int, std::vector<std::string>> texts_;
  std::map<int, std::vector<int>> progress_;
  std::vector<std::string> boxes_;
};

} // namespace tarvix::testing
