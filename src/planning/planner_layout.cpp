#include "planning/planner_layout.h"

#include <algorithm>

#include "planning/logic/planner_rules.h"

namespace dorvik::planning {

namespace {
void measureChild(const Gtk::Widget& child, Gtk::Orientation orientation, int forSize, int& minimum, int& natural) {
  minimum = natural = 0;
  if (!child.get_visible()) return;
  int minimumBaseline = -1, naturalBaseline = -1;
  child.measure(orientation, forSize, minimum, natural, minimumBaseline, naturalBaseline);
}
}  // namespace

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
  measureChild(widget, Gtk::Orientation::HORIZONTAL, -1, minimum, natural);
  return natural;
}

int FitsOrWraps::heightFor(const Gtk::Widget& widget, int width) const {
  int minimum = 0, natural = 0;
  measureChild(widget, Gtk::Orientation::VERTICAL, width, minimum, natural);
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
    measureChild(first_, orientation, -1, firstMinimum, firstNatural);
    measureChild(second_, orientation, -1, secondMinimum, secondNatural);
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
  inRow_ = fits(width);
  if (inRow_) {
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
  measureChild(content_, orientation, forSize, minimum, natural);
  if (orientation == Gtk::Orientation::VERTICAL && shown_) {
    int paneMinimum = 0, paneNatural = 0;
    measureChild(pane_, orientation, -1, paneMinimum, paneNatural);
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
