#include "shell/sign_in_views.h"

#include <glib.h>

#include "build_info.h"
#include "core/api/failure.h"
#include "core/base/bundles.h"
#include "shell/secret_field.h"
#include "shell/toolkit/shell_rules.h"
#include "widgets/gtk_helpers.h"

namespace dorvik {

namespace {
// The width of the fields and buttons of the sign-in screens.
constexpr int kSignInFieldsWidth = 320;
}  // namespace

bool useApplicationIcon() {
  Glib::RefPtr<Gdk::Display> display = Gdk::Display::get_default();
  if (!display) return false;
  Glib::RefPtr<Gtk::IconTheme> theme = Gtk::IconTheme::get_for_display(display);
  if (!theme->get_data("dorvik-build-icons")) {
    theme->set_data("dorvik-build-icons", GINT_TO_POINTER(1));
    if (auto resources = bundleResources(kAppBundle)) theme->add_search_path((*resources / "icons").string());
  }
  return theme->has_icon(BuildInfo::kApplicationId);
}

Gtk::Widget* makeBrandMark(int size) {
  if (!useApplicationIcon()) {
    auto* empty = Gtk::make_managed<Gtk::Box>();
    empty->set_visible(false);
    return empty;
  }
  auto* image = Gtk::make_managed<Gtk::Image>();
  image->set_from_icon_name(BuildInfo::kApplicationId);
  image->set_pixel_size(size);
  image->set_halign(Gtk::Align::CENTER);
  image->set_tooltip_text("Dorvik");
  gtk_accessible_update_property(GTK_ACCESSIBLE(image->gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, "Dorvik", -1);
  return image;
}

LoginView::LoginView(ShellContext context) : Gtk::Box(Gtk::Orientation::VERTICAL, 28), context_(std::move(context)) {
  set_halign(Gtk::Align::CENTER);
  set_valign(Gtk::Align::CENTER);
  append(*makeBrandMark(88));

  auto* titles = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
  titles->append(*centredLabel("Dorvik", "title-1"));
  titles->append(*centredLabel("Вся доставка. Перед глазами.", "title-3"));
  titles->get_last_child()->add_css_class("dim-label");
  append(*titles);

  status_.set_wrap(true);
  status_.set_justify(Gtk::Justification::CENTER);
  status_.set_max_width_chars(45);
  status_.add_css_class("dim-label");
  append(status_);

  auto* fields = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 14);
  fields->set_size_request(kSignInFieldsWidth, -1);
  fields->set_halign(Gtk::Align::CENTER);
  login_.set_placeholder_text("Логин или телефон");
  login_.set_input_purpose(Gtk::InputPurpose::FREE_FORM);
  password_.set_property("placeholder-text", Glib::ustring("Пароль"));
  password_.set_show_peek_icon(true);
  keepSecret(password_);
  fields->append(login_);
  fields->append(password_);
  auto* buttonContent = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
  buttonContent->set_halign(Gtk::Align::CENTER);
  buttonContent->append(spinner_);
  buttonContent->append(*Gtk::make_managed<Gtk::Label>("Войти"));
  signInButton_.set_child(*buttonContent);
  setAccessibleLabel(signInButton_, "Войти");
  signInButton_.add_css_class("suggested-action");
  signInButton_.add_css_class("pill");
  fields->append(signInButton_);
  append(*fields);

  auto* links = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
  links->set_halign(Gtk::Align::CENTER);
  auto* settings = Gtk::make_managed<Gtk::Button>("Настройки подключения");
  settings->add_css_class("flat");
  previewButton_.add_css_class("flat");
  links->append(*settings);
  links->append(previewButton_);
  append(*links);

  login_.signal_changed().connect([this] { update(); });
  password_.signal_changed().connect([this] { update(); });
  // "Войти" is the window's default: Return in either field presses it (when it is enabled).
  login_.set_activates_default(true);
  password_.set_property("activates-default", true);
  setAccessibleLabel(login_, "Логин или телефон");
  setAccessibleLabel(password_, "Пароль");
  signInButton_.signal_clicked().connect([this] { signIn(); });
  makeDefaultOnMap(signInButton_);
  settings->signal_clicked().connect([this] {
    if (context_.openPreferences) context_.openPreferences(PreferencesTab::connection);
  });
  previewButton_.signal_clicked().connect([this] { openPreview(); });

  connection_ = context_.model->observe([this](AppModel::Property p) {
    using P = AppModel::Property;
    if (p == P::busy || p == P::status || p == P::engine || p == P::generation) update();
  });
  update();
  signal_map().connect([this] { login_.grab_focus(); });
}

void LoginView::update() {
  const AppModel& model = *context_.model;
  status_.set_text(model.status());
  status_.set_visible(!model.status().empty());
  spinner_.set_visible(model.busy());
  spinner_.set_spinning(model.busy());
  signInButton_.set_sensitive(canSignIn(login_.get_text(), secretText(password_), model.busy()));
  previewButton_.set_sensitive(model.engine() != nullptr);
}

void LoginView::signIn() {
  const AppModel& model = *context_.model;
  std::string login = login_.get_text();
  std::string password = secretText(password_);
  if (!canSignIn(login, password, model.busy())) return;
  async::spawn(runSignIn(link_.weak(), context_, std::move(login), std::move(password)));
}

async::Task<void> LoginView::runSignIn(std::weak_ptr<LoginView*> view, ShellContext context, std::string login,
                                       std::string password) {
  co_await context.workflows->login(std::move(login), std::move(password));
  if (context.model->user().isNull()) co_return;
  if (LoginView* self = lockView(view)) self->password_.set_text("");
}

void LoginView::openPreview() { async::spawn(runPreview(context_)); }

async::Task<void> LoginView::runPreview(ShellContext context) {
  try {
    co_await context.workflows->loadPreview();
  } catch (const CancelledError&) {
  } catch (...) {
    if (auto text = failureText(std::current_exception())) context.model->setError(*text);
  }
}

RequiredPasswordView::RequiredPasswordView(ShellContext context)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 20), context_(std::move(context)) {
  set_halign(Gtk::Align::CENTER);
  set_valign(Gtk::Align::CENTER);
  append(*makeBrandMark(64));
  append(*centredLabel("Создайте свой пароль", "title-2"));
  Gtk::Label* hint = centredLabel("Временный пароль нужно заменить перед началом работы.", "dim-label");
  hint->set_max_width_chars(45);
  append(*hint);
  // The fields and buttons as wide as those of the sign-in screen.
  auto* fields = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 14);
  fields->set_size_request(kSignInFieldsWidth, -1);
  fields->set_halign(Gtk::Align::CENTER);
  password_.set_property("placeholder-text", Glib::ustring("Новый пароль, от 8 знаков"));
  repeated_.set_property("placeholder-text", Glib::ustring("Повторите пароль"));
  keepSecret(password_);
  keepSecret(repeated_);
  fields->append(password_);
  fields->append(repeated_);
  issue_.set_wrap(true);
  issue_.set_max_width_chars(30);
  issue_.add_css_class("error");
  issue_.set_visible(false);
  fields->append(issue_);
  saveButton_.add_css_class("suggested-action");
  fields->append(saveButton_);
  fields->append(backButton_);
  append(*fields);

  password_.signal_changed().connect([this] { update(); });
  repeated_.signal_changed().connect([this] { update(); });
  // "Сохранить пароль" is the window's default: Return in either field presses it (when it is enabled).
  password_.set_property("activates-default", true);
  repeated_.set_property("activates-default", true);
  setAccessibleLabel(password_, "Новый пароль, от 8 знаков");
  setAccessibleLabel(repeated_, "Повторите пароль");
  saveButton_.signal_clicked().connect([this] { save(); });
  makeDefaultOnMap(saveButton_);
  backButton_.signal_clicked().connect([this] { async::spawn(context_.workflows->logout()); });
  connection_ = context_.model->observe([this](AppModel::Property p) {
    if (p == AppModel::Property::busy || p == AppModel::Property::generation) update();
  });
  update();
}

void RequiredPasswordView::update() {
  const bool busy = context_.model->busy();
  saveButton_.set_sensitive(canSavePassword(secretText(password_), secretText(repeated_), busy));
  backButton_.set_sensitive(!busy);
}

void RequiredPasswordView::save() {
  std::string password = secretText(password_);
  if (!canSavePassword(password, secretText(repeated_), context_.model->busy())) return;
  async::spawn(runSave(link_.weak(), context_, std::move(password)));
}

async::Task<void> RequiredPasswordView::runSave(std::weak_ptr<RequiredPasswordView*> view, ShellContext context,
                                                std::string password) {
  std::optional<std::string> failure;
  try {
    co_await context.workflows->changeRequiredPassword(std::move(password));
  } catch (...) {
    failure = failureText(std::current_exception());
    if (!failure) co_return;  // cancelled: the workspace changed meanwhile
  }
  RequiredPasswordView* self = lockView(view);
  if (!self) co_return;
  if (failure) {
    self->issue_.set_text(*failure);
    self->issue_.set_visible(true);
  } else {
    self->password_.set_text("");
    self->repeated_.set_text("");
  }
}

}  // namespace dorvik
