#include "planning/planner_layout.h"

#include <algorithm>

#include "planning/logic/planner_rules.h"
#include "widgets/gtk_helpers.h"

namespace dorvik::planning {

InspectorArea::InspectorArea(Gtk::Widget& content, Gtk::Widget& pane)
    : Glib::ObjectBase("DorvikInspectorArea"), content_(content), pane_(pane) {
  content_.set_parent(*this);
  pane_.set_parent(*this);  // after the content: drawn over it and picked first
  pane_.set_visible(false);
  set_hexpand(true);
  set_vexpand(true);
  signal_destroy().connect(sigc::mem_fun(*this, &InspectorArea::releaseChildren));
}

InspectorArea::~InspectorArea() { releaseChildren(); }

void InspectorArea::releaseChildren() {
  if (released_) return;
  released_ = true;
  content_.unparent();
  pane_.unparent();
}

void InspectorArea::setPaneShown(bool shown) {
  if (shown == shown_) return;
  shown_ = shown;
  pane_.set_visible(shown);
  queue_allocate();
}

void InspectorArea::measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural,
                                  int& minimumBaseline, int& naturalBaseline) const {
  minimumBaseline = naturalBaseline = -1;
  // The pane never widens the area: a narrow area shows it over the content.
  measureVisible(content_, orientation, forSize, minimum, natural);
  if (orientation == Gtk::Orientation::VERTICAL && shown_) {
    int paneMinimum = 0, paneNatural = 0;
    measureVisible(pane_, orientation, -1, paneMinimum, paneNatural);
    minimum = std::max(minimum, paneMinimum);
    natural = std::max(natural, paneNatural);
  }
}

void InspectorArea::size_allocate_vfunc(int width, int height, int) {
  const InspectorLayout layout = inspectorLayout(shown_, width);
  switch (layout.place) {
    case InspectorPlace::hidden:
      content_.size_allocate(Gtk::Allocation(0, 0, width, height), -1);
      break;
    case InspectorPlace::side:
      content_.size_allocate(Gtk::Allocation(0, 0, width - layout.width, height), -1);
      pane_.size_allocate(Gtk::Allocation(width - layout.width, 0, layout.width, height), -1);
      break;
    case InspectorPlace::overlay:
      content_.size_allocate(Gtk::Allocation(0, 0, width, height), -1);
      pane_.size_allocate(Gtk::Allocation(std::max(0, width - layout.width), 0, layout.width, height), -1);
      break;
  }
}

}  // namespace dorvik::planning
