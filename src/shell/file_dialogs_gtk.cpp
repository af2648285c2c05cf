#include "shell/file_dialogs_gtk.h"

#include <algorithm>

#include "core/async/callback.h"

namespace dorvik {

async::Task<FileDialogs::Chosen> GtkFileDialogs::openFile(std::vector<std::string> extensions) {
  auto dialog = Gtk::FileChooserNative::create("Открыть заказы", Gtk::FileChooser::Action::OPEN, "Открыть", "Отмена");
  dialog->set_select_multiple(false);
  if (!extensions.empty()) {
    auto filter = Gtk::FileFilter::create();
    Glib::ustring title = "Книги Excel (";
    for (std::size_t i = 0; i < extensions.size(); ++i) {
      filter->add_suffix(extensions[i]);
      title += (i ? ", ." : ".") + extensions[i];
    }
    filter->set_name(title + ")");
    dialog->add_filter(filter);
    dialog->set_filter(filter);
  }
  return answer(std::move(dialog));
}

async::Task<FileDialogs::Chosen> GtkFileDialogs::saveFile(std::string suggestedName) {
  auto dialog = Gtk::FileChooserNative::create("Сохранить файл", Gtk::FileChooser::Action::SAVE, "Сохранить", "Отмена");
  dialog->set_current_name(suggestedName);
  return answer(std::move(dialog));
}

async::Task<FileDialogs::Chosen> GtkFileDialogs::answer(Glib::RefPtr<Gtk::FileChooserNative> dialog) {
  if (Gtk::Window* parent = parent_ ? parent_() : nullptr) dialog->set_transient_for(*parent);
  dialog->set_modal(false);
  auto show = [this, dialog](async::Resolver<Chosen> resolve) {
    Gtk::FileChooserNative* raw = dialog.get();
    dialog->signal_response().connect([this, raw, resolve](int response) {
      Chosen path;
      if (response == Gtk::ResponseType::ACCEPT) {
        if (auto file = raw->get_file()) {
          std::string chosen = file->get_path();
          if (!chosen.empty()) path = std::move(chosen);
        }
      }
      // Let go of the dialog after this handler has returned.
      auto it = std::find_if(shown_.begin(), shown_.end(), [raw](const auto& d) { return d.get() == raw; });
      if (it != shown_.end()) {
        Glib::RefPtr<Gtk::FileChooserNative> keep = *it;
        shown_.erase(it);
        Glib::signal_idle().connect_once([keep] {});
      }
      resolve(std::move(path));
    });
    shown_.push_back(dialog);
    dialog->show();
  };
  auto answered = async::fromCallback<Chosen>(std::move(show));
  Chosen chosen = co_await answered;
  co_return chosen;
}

}  // namespace dorvik
