// A layout of the planner screen that depends on the width it gets.
//
// InspectorArea: the content of the selected tab with the order-properties pane: beside the content in a wide
// area, over its trailing edge in a narrow one (inspectorLayout decides).
#pragma once

#include <gtkmm.h>

namespace dorvik::planning {

class InspectorArea : public Gtk::Widget {
 public:
  InspectorArea(Gtk::Widget& content, Gtk::Widget& pane);
  ~InspectorArea() override;
  void setPaneShown(bool shown);

 protected:
  void measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural, int& minimumBaseline,
                     int& naturalBaseline) const override;
  void size_allocate_vfunc(int width, int height, int baseline) override;

 private:
  void releaseChildren();
  Gtk::Widget& content_;
  Gtk::Widget& pane_;
  bool shown_ = false;
  bool released_ = false;
};

}  // namespace dorvik::planning
