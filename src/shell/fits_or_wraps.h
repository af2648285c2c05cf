// FitsOrWraps: two widgets side by side when both fit at their natural widths, else one above the other, both
// aligned to the leading edge. Side by side, the second either follows the first or goes to the trailing edge.
// Screens lay out their headers and toolbars with it.
#pragma once

#include <gtkmm.h>

namespace dorvik {

class FitsOrWraps : public Gtk::Widget {
 public:
  FitsOrWraps(Gtk::Widget& first, Gtk::Widget& second, int rowSpacing, int columnSpacing, bool secondAtEnd);
  ~FitsOrWraps() override;

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
  bool released_ = false;
};

}  // namespace dorvik
