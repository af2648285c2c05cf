// Two layouts of the planner screen that depend on the width they get.
//
// FitsOrWraps: two widgets side by side when both fit at their natural widths, else one above the other, both
// aligned to the leading edge. Side by side, the second either follows the first or goes to the trailing edge.
//
// InspectorArea: the content of the selected tab with the order-properties pane: beside the content in a wide
// area, over its trailing edge in a narrow one (inspectorLayout decides).
#pragma once

#include <gtkmm.h>

namespace dorvik::planning {

class FitsOrWraps : public Gtk::Widget {
 public:
  FitsOrWraps(Gtk::Widget& first, Gtk::Widget& second, int rowSpacing, int columnSpacing, bool secondAtEnd);
  ~FitsOrWraps() override;
  // True while the two stand side by side (as last allocated).
  bool inRow() const { return inRow_; }

 protected:
  Gtk::SizeRequestMode get_request_mode_vfunc() const override;
  void measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural, int& minimumBaseline,
                     int& naturalBaseline) const override;
  void size_allocate_vfunc(int width, int height, int baseline) override;

 private:
  // Unparents both children once: when the container is destroyed (GTK wants them gone before it is finalized),
  // or when its C++ object goes first.
  void releaseChildren();
  bool fits(int width) const;
  int naturalWidth(const Gtk::Widget& widget) const;
  int heightFor(const Gtk::Widget& widget, int width) const;
  Gtk::Widget& first_;
  Gtk::Widget& second_;
  int rowSpacing_;
  int columnSpacing_;
  bool secondAtEnd_;
  bool inRow_ = true;
  bool released_ = false;
};

class InspectorArea : public Gtk::Widget {
 public:
  InspectorArea(Gtk::Widget& content, Gtk::Widget& pane);
  ~InspectorArea() override;
  void setPaneShown(bool shown);
  bool paneShown() const { return shown_; }

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
