#include "shell/fits_or_wraps.h"

#include <algorithm>

#include "widgets/gtk_helpers.h"

namespace dorvik {

FitsOrWraps::FitsOrWraps(Gtk::Widget& first, Gtk::Widget& second, int rowSpacing, int columnSpacing, bool secondAtEnd)
    : Glib::ObjectBase("DorvikFitsOrWraps"),
      first_(first),
      second_(second),
      rowSpacing_(rowSpacing),
      columnSpacing_(columnSpacing),
      secondAtEnd_(secondAtEnd) {
  first_.set_parent(*this);
  second_.set_parent(*this);
  signal_destroy().connect(sigc::mem_fun(*this, &FitsOrWraps::releaseChildren));
}

FitsOrWraps::~FitsOrWraps() { releaseChildren(); }

void FitsOrWraps::releaseChildren() {
  if (released_) return;
  released_ = true;
  first_.unparent();
  second_.unparent();
}

Gtk::SizeRequestMode FitsOrWraps::get_request_mode_vfunc() const { return Gtk::SizeRequestMode::HEIGHT_FOR_WIDTH; }

int FitsOrWraps::naturalWidth(const Gtk::Widget& widget) const {
  int minimum = 0, natural = 0;
  measureVisible(widget, Gtk::Orientation::HORIZONTAL, -1, minimum, natural);
  return natural;
}

int FitsOrWraps::heightFor(const Gtk::Widget& widget, int width) const {
  int minimum = 0, natural = 0;
  measureVisible(widget, Gtk::Orientation::VERTICAL, width, minimum, natural);
  return natural;
}

bool FitsOrWraps::fits(int width) const {
  return width < 0 || naturalWidth(first_) + rowSpacing_ + naturalWidth(second_) <= width;
}

void FitsOrWraps::measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural,
                                int& minimumBaseline, int& naturalBaseline) const {
  minimumBaseline = naturalBaseline = -1;
  if (orientation == Gtk::Orientation::HORIZONTAL) {
    int firstMinimum = 0, firstNatural = 0, secondMinimum = 0, secondNatural = 0;
    measureVisible(first_, orientation, -1, firstMinimum, firstNatural);
    measureVisible(second_, orientation, -1, secondMinimum, secondNatural);
    // The column needs only the wider of the two; the row is what the pair would like.
    minimum = std::max(firstMinimum, secondMinimum);
    natural = firstNatural + rowSpacing_ + secondNatural;
    return;
  }
  if (fits(forSize)) {
    minimum = natural = std::max(heightFor(first_, -1), heightFor(second_, -1));
    if (forSize >= 0) {
      const int secondWidth = naturalWidth(second_);
      natural = minimum = std::max(heightFor(first_, std::max(0, forSize - rowSpacing_ - secondWidth)),
                                   heightFor(second_, secondWidth));
    }
    return;
  }
  const int firstWidth = std::min(forSize, naturalWidth(first_));
  const int secondWidth = std::min(forSize, naturalWidth(second_));
  minimum = natural = heightFor(first_, firstWidth) + columnSpacing_ + heightFor(second_, secondWidth);
}

void FitsOrWraps::size_allocate_vfunc(int width, int height, int) {
  const int firstNatural = naturalWidth(first_);
  const int secondNatural = naturalWidth(second_);
  if (fits(width)) {
    const int firstWidth = secondAtEnd_ ? std::max(0, width - rowSpacing_ - secondNatural) : firstNatural;
    const int secondX = secondAtEnd_ ? width - secondNatural : firstNatural + rowSpacing_;
    const int firstHeight = std::min(height, heightFor(first_, firstWidth));
    const int secondHeight = std::min(height, heightFor(second_, secondNatural));
    first_.size_allocate(Gtk::Allocation(0, (height - firstHeight) / 2, firstWidth, firstHeight), -1);
    second_.size_allocate(Gtk::Allocation(secondX, (height - secondHeight) / 2, secondNatural, secondHeight), -1);
    return;
  }
  const int firstWidth = std::min(width, firstNatural);
  const int secondWidth = std::min(width, secondNatural);
  const int firstHeight = heightFor(first_, firstWidth);
  first_.size_allocate(Gtk::Allocation(0, 0, firstWidth, firstHeight), -1);
  second_.size_allocate(Gtk::Allocation(0, firstHeight + columnSpacing_, secondWidth, heightFor(second_, secondWidth)),
                        -1);
}

}  // namespace dorvik
