// The window's controls as a model: one record per control id, a revision that counts every
// change, and the control operations for any thread. The records belong to the window thread; a
// call from another thread is carried out there through the window host while the caller waits,
// except what workers show in the port boxes, which is queued and shown a few times a second.
// An id the window does not have is a programming fault: it asserts in debug builds and changes
// nothing in release builds.
#pragma once

#include "app/control.h"
#include "app/display_queue.h"
#include "station/controls.h"
#include "ui/host.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarvix::app {

class ControlModel final : public station::WindowControls {
public:
  // `records` ascending by id, as initialControls() gives them; an id between two records that
  // no record has is unknown.
  ControlModel(ui::WindowHost& host, std::vector<ControlRecord> records);
  // Stops the display timer; the caller has joined every worker that could still queue changes.
  ~ControlModel() override;
  ControlModel(const ControlModel&) = delete;
  ControlModel& operator=(const ControlModel&) = delete;

  // Control operations (station::WindowControls); any thread.
  void setText(int id, const std::string& text) override;
  std::string text(int id) const override;
  int number(int id) const override;
  bool checked(int id) const override;
  void setChecked(int id, bool checked) override;
  void enable(int id, bool enabled) override;
  void show(int id, bool visible) override;
  void setPicture(int id, int pictureId) override;
  void setProgressRange(int id, int low, int high) override;
  void setProgress(int id, int position) override;
  void addRow(int id, const std::string& row) override;
  int selectedRow(int id) const override;
  void setSelectedRow(int id, int row) override;
  void setFont(int id, station::FontChoice font) override;
  void messageBox(const std::string& text) override;
  void setTextLimit(int id, int limit);

  // Window thread only.
  const ControlRecord& control(int id) const;
  const std::vector<int>& controlIds() const { return ids_; }
  // Increases with every change of any control, so a front end repaints only when it moved.
  std::uint64_t revision() const { return revision_; }
  // Called after every change of the revision, so a front end wakes only when there is something
  // to draw; it should coalesce what one pass of its event loop brings.
  void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }
  // Applies what workers queued for display.
  void flushDisplay();

private:
  // The record of `id`; none (and a debug assertion) for an id the window does not have. The
  // ids never change after construction, so any thread may look one up.
  ControlRecord* find(int id);
  const ControlRecord* find(int id) const;
  // Runs `change` on the record of `id` on the window thread and counts a revision.
  template <typename Change> void change(int id, Change&& change);
  template <typename Read> auto read(int id, Read&& read) const;
  // A port box change: applied at once on the window thread, queued from a worker.
  void display(int id, DisplayQueue::Property property, std::function<void(ControlRecord&)> apply);
  // Arms the timer that shows what workers queued; it arms itself again while changes keep coming.
  void armDisplayTimer();
  // Counts one change of the revision and tells the front end.
  void revise();

  ui::WindowHost& host_;
  int firstId_ = 0;
  std::vector<ControlRecord> records_; // indexed by id - firstId_
  std::vector<int> ids_;
  std::uint64_t revision_ = 0;
  std::function<void()> onChange_;
  mutable DisplayQueue displayQueue_;
};

} // namespace tarvix::app
