// Real key presses on the tests' display (Xvfb), apart from the other helpers: the X headers define names (None,
// Status, True) that the rest of the toolkit's headers must not see.
#include <vector>

#include "support/async_helpers.h"
#include "support/ui_helpers.h"
// After GTK's and gtkmm's headers.
#include <X11/extensions/XTest.h>
#include <gdk/x11/gdkx.h>

namespace dorvik::testing {

bool typeKey(GtkWidget* window, guint keyval, GdkModifierType modifiers) {
  GdkDisplay* display = gtk_widget_get_display(window);
  GdkSurface* surface = GTK_IS_NATIVE(window) ? gtk_native_get_surface(GTK_NATIVE(window)) : nullptr;
  if (!GDK_IS_X11_DISPLAY(display) || !surface) return false;
  Display* x = gdk_x11_display_get_xdisplay(display);
  const KeyCode code = XKeysymToKeycode(x, keyval);
  if (!code) return false;
  // No window manager hands out the focus under the tests' display: the window takes it.
  if (GTK_IS_WINDOW(window) && !gtk_window_is_active(GTK_WINDOW(window))) {
    XSetInputFocus(x, gdk_x11_surface_get_xid(surface), RevertToParent, CurrentTime);
    XSync(x, False);
    spinUntil([&] { return gtk_window_is_active(GTK_WINDOW(window)); }, std::chrono::seconds(2));
  }
  std::vector<KeyCode> held;
  for (auto [mask, sym] : {std::pair{GDK_SHIFT_MASK, XK_Shift_L}, std::pair{GDK_CONTROL_MASK, XK_Control_L},
                           std::pair{GDK_ALT_MASK, XK_Alt_L}})
    if (modifiers & mask) held.push_back(XKeysymToKeycode(x, sym));
  for (KeyCode modifier : held) XTestFakeKeyEvent(x, modifier, True, CurrentTime);
  XTestFakeKeyEvent(x, code, True, CurrentTime);
  XTestFakeKeyEvent(x, code, False, CurrentTime);
  for (auto it = held.rbegin(); it != held.rend(); ++it) XTestFakeKeyEvent(x, *it, False, CurrentTime);
  XSync(x, False);
  spin();
  return true;
}

}  // namespace dorvik::testing
