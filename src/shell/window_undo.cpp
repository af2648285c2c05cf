#include "shell/window_undo.h"

namespace dorvik {

namespace {

const char* const kStackKey = "dorvik-undo-stack";

std::shared_ptr<UndoStack>* storedStack(Gtk::Window& window) {
  return static_cast<std::shared_ptr<UndoStack>*>(g_object_get_data(G_OBJECT(window.gobj()), kStackKey));
}

// Text fields have their own undo on Ctrl+Z.
bool textHasFocus(Gtk::Window& window) {
  GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(window.gobj()));
  return focus && (GTK_IS_EDITABLE(focus) || GTK_IS_TEXT_VIEW(focus));
}

void addKey(Gtk::ShortcutController& controller, Gtk::Window& window, const char* accelerator, bool redo) {
  controller.add_shortcut(
      Gtk::Shortcut::create(Gtk::ShortcutTrigger::parse_string(accelerator),
                            Gtk::CallbackAction::create([&window, redo](Gtk::Widget&, const Glib::VariantBase&) {
                              return windowUndoKey(window, redo);
                            })));
}

}  // namespace

std::shared_ptr<UndoStack> windowUndoStack(Gtk::Widget& widget) {
  auto* window = dynamic_cast<Gtk::Window*>(widget.get_root());
  if (!window) return nullptr;
  if (auto* stored = storedStack(*window)) return *stored;

  auto* stack = new std::shared_ptr<UndoStack>(std::make_shared<UndoStack>());
  g_object_set_data_full(G_OBJECT(window->gobj()), kStackKey, stack,
                         [](gpointer data) { delete static_cast<std::shared_ptr<UndoStack>*>(data); });
  // After the focused widget: a text field that handles Ctrl+Z itself never lets it reach the window.
  auto controller = Gtk::ShortcutController::create();
  controller->set_propagation_phase(Gtk::PropagationPhase::BUBBLE);
  addKey(*controller, *window, "<Control>z", false);
  addKey(*controller, *window, "<Control><Shift>z", true);
  addKey(*controller, *window, "<Control>y", true);
  window->add_controller(controller);
  return *stack;
}

bool windowUndoKey(Gtk::Window& window, bool redo) {
  auto* stored = storedStack(window);
  if (!stored || textHasFocus(window)) return false;
  return redo ? (*stored)->redo() : (*stored)->undo();
}

}  // namespace dorvik
