#include "shell/secret_field.h"

#include <cstring>
#include <string>
#include <vector>

namespace dorvik {

namespace {

// An entry buffer whose text reads as masking characters while its text input hides the text. The parent class
// keeps the typed text.
struct SecretBuffer {
  GtkEntryBuffer parent_instance;
  GtkText* input;    // weak: the text input showing the buffer
  std::string* mask;  // the masking characters last answered
};
struct SecretBufferClass {
  GtkEntryBufferClass parent_class;
};

G_DEFINE_TYPE(SecretBuffer, secret_buffer, GTK_TYPE_ENTRY_BUFFER)

constexpr const char* kMaskCharacter = "\u25CF";  // GTK's own: ●

GtkEntryBufferClass* parentClass() { return GTK_ENTRY_BUFFER_CLASS(secret_buffer_parent_class); }

const char* secretBufferText(GtkEntryBuffer* buffer, gsize* bytes) {
  auto* self = reinterpret_cast<SecretBuffer*>(buffer);
  if (self->input && gtk_text_get_visibility(self->input)) return parentClass()->get_text(buffer, bytes);
  const guint length = parentClass()->get_length(buffer);
  self->mask->clear();
  for (guint i = 0; i < length; ++i) *self->mask += kMaskCharacter;
  if (bytes) *bytes = self->mask->size();
  return self->mask->c_str();
}

void secretBufferFinalize(GObject* object) {
  auto* self = reinterpret_cast<SecretBuffer*>(object);
  if (self->input) g_object_remove_weak_pointer(G_OBJECT(self->input), reinterpret_cast<gpointer*>(&self->input));
  delete self->mask;
  G_OBJECT_CLASS(secret_buffer_parent_class)->finalize(object);
}

void secret_buffer_class_init(SecretBufferClass* klass) {
  GTK_ENTRY_BUFFER_CLASS(klass)->get_text = secretBufferText;
  G_OBJECT_CLASS(klass)->finalize = secretBufferFinalize;
}

void secret_buffer_init(SecretBuffer* self) {
  self->input = nullptr;
  self->mask = new std::string;
}

// Typed text goes into the buffer here, instead of through the input's own handler: the handlers that run after it
// (assistive technologies' among them) would receive the characters.
void insertQuietly(GtkEditable* input, const char* text, int length, int* position, gpointer) {
  if (length < 0) length = static_cast<int>(std::strlen(text));
  GtkEntryBuffer* buffer = gtk_text_get_buffer(GTK_TEXT(input));
  const guint characters = static_cast<guint>(g_utf8_strlen(text, length));
  const guint inserted = gtk_entry_buffer_insert_text(buffer, static_cast<guint>(*position), text, characters);
  if (inserted != characters) gtk_widget_error_bell(GTK_WIDGET(input));
  *position += static_cast<int>(inserted);
  g_signal_stop_emission_by_name(input, "insert-text");
}

GtkText* textInput(GtkWidget* field) {
  if (GTK_IS_TEXT(field)) return GTK_TEXT(field);
  if (!GTK_IS_EDITABLE(field)) return nullptr;
  GtkEditable* delegate = gtk_editable_get_delegate(GTK_EDITABLE(field));
  return delegate && GTK_IS_TEXT(delegate) ? GTK_TEXT(delegate) : nullptr;
}

// The control that shows or hides the text: it carries GTK's or libadwaita's tooltip for it.
bool isPeek(GtkWidget* widget) {
  const char* tip = gtk_widget_get_tooltip_text(widget);
  if (!tip) return false;
  for (const char* domain : {"gtk40", "libadwaita"})
    for (const char* text : {"Show Text", "Hide Text"})
      if (std::strcmp(tip, g_dgettext(domain, text)) == 0) return true;
  return false;
}

// The field's button (a password entry's icon) that shows or hides the text, named for screen readers as its
// tooltip says it (GTK gives it no name of its own).
void namePeekButtons(GtkWidget* field, GtkText* input) {
  const char* name = gtk_text_get_visibility(input) ? "Скрыть текст" : "Показать текст";
  std::vector<GtkWidget*> pending{field};
  while (!pending.empty()) {
    GtkWidget* widget = pending.back();
    pending.pop_back();
    if (widget != field && isPeek(widget))
      gtk_accessible_update_property(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_PROPERTY_LABEL, name, -1);
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child))
      pending.push_back(child);
  }
}

void visibilityChanged(GtkText* input, GParamSpec*, gpointer field) { namePeekButtons(GTK_WIDGET(field), input); }

}  // namespace

void keepSecret(GtkWidget* field) {
  GtkText* input = textInput(field);
  if (!input) return;
  GtkEntryBuffer* old = gtk_text_get_buffer(input);
  if (G_TYPE_CHECK_INSTANCE_TYPE(old, secret_buffer_get_type())) return;
  const std::string kept = secretText(field);
  auto* buffer = static_cast<SecretBuffer*>(g_object_new(secret_buffer_get_type(), nullptr));
  buffer->input = input;
  g_object_add_weak_pointer(G_OBJECT(input), reinterpret_cast<gpointer*>(&buffer->input));
  gtk_entry_buffer_set_text(GTK_ENTRY_BUFFER(buffer), kept.c_str(), -1);
  gtk_text_set_buffer(input, GTK_ENTRY_BUFFER(buffer));
  g_object_unref(buffer);
  g_signal_connect(input, "insert-text", G_CALLBACK(insertQuietly), nullptr);
  // The field holds its input: the handler goes with them.
  g_signal_connect(input, "notify::visibility", G_CALLBACK(visibilityChanged), field);
  namePeekButtons(field, input);
}

std::string secretText(GtkWidget* field) {
  GtkText* input = textInput(field);
  if (!input) return GTK_IS_EDITABLE(field) ? gtk_editable_get_text(GTK_EDITABLE(field)) : "";
  GtkEntryBuffer* buffer = gtk_text_get_buffer(input);
  if (!G_TYPE_CHECK_INSTANCE_TYPE(buffer, secret_buffer_get_type())) return gtk_entry_buffer_get_text(buffer);
  const char* text = parentClass()->get_text(buffer, nullptr);
  return text ? text : "";
}

}  // namespace dorvik
