// A drop-down of texts with a greatest width: a long entry is cut in the button and shown whole in the open list.
#pragma once

#include <gtkmm.h>

namespace dorvik {

// Gives `picker` (a drop-down over a Gtk::StringList) its cut and whole labels and puts it in a clamp no wider than
// `maximum`. The clamp, kept to the leading edge, is what the layout holds in the picker's place.
GtkWidget* clampedPicker(Gtk::DropDown& picker, int maximum);

}  // namespace dorvik
