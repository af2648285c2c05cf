// Helpers of the suites that run widgets under a display: finding widgets by their visible text, and writing a
// widget's picture to build/screens/<name>.png for a person to look at.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

namespace dorvik::testing {

// The first widget in the tree below root (root included, depth first) that matches.
GtkWidget* findWidget(GtkWidget* root, const std::function<bool(GtkWidget*)>& match);
// A visible label reading `text`.
GtkWidget* findLabel(GtkWidget* root, const std::string& text);
// The button whose own label or a label inside it reads `text`.
GtkWidget* findButton(GtkWidget* root, const std::string& text);

// Renders the widget as it stands into build/screens/<name>.png (checked with GoogleTest assertions).
void savePNG(GtkWidget* widget, const std::string& name);

}  // namespace dorvik::testing
