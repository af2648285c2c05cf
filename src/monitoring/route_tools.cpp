#include "monitoring/route_tools.h"

#include <adwaita.h>

#include <map>
#include <optional>

#include "core/api/failure.h"
#include "map/map_surface.h"
#include "monitoring/logic/monitoring_rules.h"
#include "monitoring/logic/timers.h"
#include "shell/form_widgets.h"
#include "shell/screen_notice.h"
#include "shell/sheet.h"
#include "shell/toolkit/symbols.h"

namespace dorvik::monitoring {

namespace {

// The transfer sheet's list of addresses scrolls beyond this height.
constexpr int kAddressesHeight = 200;

Gtk::Label* label(const std::string& text, std::initializer_list<const char*> classes = {}) {
  auto* l = Gtk::make_managed<Gtk::Label>(text);
  l->set_xalign(0);
  l->set_wrap(true);
  for (const char* c : classes) l->add_css_class(c);
  return l;
}

Gtk::Widget* spacer() {
  auto* gap = Gtk::make_managed<Gtk::Box>();
  gap->set_hexpand(true);
  return gap;
}

// ---- GPS track

class TrackView : public Gtk::Box {
 public:
  TrackView(const ShellContext& context, std::string routeID, Sheet* sheet)
      : Gtk::Box(Gtk::Orientation::VERTICAL),
        context_(context),
        path_(routePath(routeID) + "/track"),
        routeless_(routeID.empty()),
        player_(mainLoopScheduler(), [this] { update(); }) {
    auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    header->set_margin(20);
    auto* title = label("GPS-трек маршрута", {"title-2"});
    header->append(*title);
    header->append(*spacer());
    refresh_.signal_clicked().connect([this] { async::spawn(run(link_.weak(), state_, path_, context_)); });
    header->append(refresh_);
    auto* close = Gtk::make_managed<Gtk::Button>("Закрыть");
    close->signal_clicked().connect([sheet] { sheet->dismiss(); });
    header->append(*close);
    append(*header);
    append(*Gtk::make_managed<ScreenNotice>(state_));
    map_ = Gtk::make_managed<TwoGISSurface>(context_.model, context_.defaults);
    map_->set_vexpand(true);
    append(*map_);

    auto* player = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
    player->set_margin(16);
    playContent_.append(playIcon_);
    playContent_.append(playLabel_);
    play_.set_child(playContent_);
    play_.signal_clicked().connect([this] { player_.press(); });
    player->append(play_);
    slider_.set_adjustment(Gtk::Adjustment::create(0, 0, 1, 1, 1, 0));
    slider_.set_digits(0);
    slider_.set_round_digits(0);
    slider_.set_hexpand(true);
    sliderConnection_ = slider_.signal_value_changed().connect([this] { player_.setPosition(slider_.get_value()); });
    player->append(slider_);
    at_.add_css_class("caption");
    at_.add_css_class("numeric");
    player->append(at_);
    append(*player);
    caption_.add_css_class("caption");
    caption_.add_css_class("dim-label");
    caption_.set_xalign(0);
    caption_.set_margin_start(16);
    caption_.set_margin_bottom(16);
    append(caption_);

    stateConnection_ = state_->observe([this](ScreenData::Property) { update(); });
    update();
    if (routeless_)
      state_->setIssue(kNoRouteText);
    else
      async::spawn(run(link_.weak(), state_, path_, context_), token_);
  }
  ~TrackView() override {
    token_.cancel();
    player_.stop();
  }

 private:
  static async::Task<void> run(std::weak_ptr<TrackView*> link, std::shared_ptr<ScreenData> state, std::string path,
                               ShellContext context) {
    if (auto* self = lockView(link)) self->player_.loading();
    co_await state->load(std::move(path), context.screenSource());
    if (auto* self = lockView(link)) self->player_.loaded(trackPings(state->value()).size());
  }

  void update() {
    const auto pings = trackPings(state_->value());
    const std::size_t index = player_.index();
    MapContent content;
    content.pins = trackPins(pings, index);
    content.lines = {trackLine(pings, index)};
    map_->setContent(std::move(content));

    const bool playing = player_.playing();
    playIcon_.set_from_icon_name(std::string(symbolIcon(playing ? "pause.fill" : "play.fill")));
    playLabel_.set_text(playing ? "Пауза" : "Воспроизвести");
    play_.set_sensitive(player_.controlsEnabled());
    sliderConnection_.block();
    slider_.get_adjustment()->set_upper(player_.sliderMaximum());
    slider_.set_value(player_.position());
    sliderConnection_.unblock();
    slider_.set_sensitive(player_.controlsEnabled());
    at_.set_text(pings.empty() ? "Нет GPS-сигналов" : pings[index]["at"].string());
    caption_.set_text(trackCaption(pings.size(), state_->value()));
    refresh_.set_sensitive(!state_->loading() && !routeless_);
  }

  ShellContext context_;
  std::string path_;
  bool routeless_;
  std::shared_ptr<ScreenData> state_ = ScreenData::create();
  TrackPlayer player_;
  async::CancelToken token_;
  TwoGISSurface* map_ = nullptr;
  Gtk::Button refresh_{"Обновить"};
  Gtk::Button play_;
  Gtk::Box playContent_{Gtk::Orientation::HORIZONTAL, 6};
  Gtk::Image playIcon_;
  Gtk::Label playLabel_;
  Gtk::Scale slider_{Gtk::Orientation::HORIZONTAL};
  sigc::connection sliderConnection_;
  Gtk::Label at_, caption_;
  ScreenData::Connection stateConnection_;
  ViewLink<TrackView> link_{this};
};

// ---- Transfer of points

class TransferView : public Gtk::Box {
 public:
  TransferView(const ShellContext& context, std::string routeID, std::string routeDate, std::vector<JSONValue> points,
               Refresh refresh, Sheet* sheet)
      : Gtk::Box(Gtk::Orientation::VERTICAL, 16),
        context_(context),
        routeID_(std::move(routeID)),
        routeDate_(std::move(routeDate)),
        points_(std::move(points)),
        refresh_(std::move(refresh)),
        sheet_(sheet),
        footer_(
            "Передать", [this] { save(); }, [sheet] { sheet->dismiss(); }) {
    set_margin(24);
    set_size_request(630, -1);
    append(*label("Передать точки другому курьеру", {"title-2"}));
    append(*label(std::to_string(points_.size()) + " точек · " + routeDate_));
    // The addresses scroll beyond a few rows, so that the destination and the footer stay on screen however many
    // points go.
    auto* addresses = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
    for (const JSONValue& p : points_) {
      auto* row = label(p["address"].string());
      row->set_lines(2);
      row->set_ellipsize(Pango::EllipsizeMode::END);
      addresses->append(*row);
    }
    auto* scroll = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroll->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    scroll->set_propagate_natural_height(true);
    scroll->set_max_content_height(kAddressesHeight);
    scroll->set_child(*addresses);
    append(*scroll);
    auto* pickerRow = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    pickerRow->append(*Gtk::make_managed<Gtk::Label>("Маршрут назначения"));
    names_ = Gtk::StringList::create({"Выберите маршрут"});
    picker_.set_model(names_);
    picker_.set_hexpand(true);
    picker_.property_selected().signal_changed().connect([this] {
      if (filling_) return;
      const guint at = picker_.get_selected();
      target_ = at < ids_.size() ? ids_[at] : "";
      updateEnabled();
    });
    pickerRow->append(picker_);
    append(*pickerRow);
    append(suggestions_);
    append(
        *label("Точки с отметками курьера сервер не переносит. После передачи оба курьера получат обновление "
               "маршрута.",
               {"dim-label"}));
    append(*Gtk::make_managed<ScreenNotice>(state_));
    footer_.set_margin(0);
    append(footer_);

    stateConnection_ = state_->observe([this](ScreenData::Property p) {
      if (p == ScreenData::Property::value) fillPicker();
      updateEnabled();
    });
    nearbyConnection_ = nearby_->observe([this](ScreenData::Property p) {
      if (p == ScreenData::Property::value) fillSuggestions();
    });
    modelConnection_ = context_.model->observe([this](AppModel::Property) { updateEnabled(); });
    fillPicker();
    fillSuggestions();
    async::spawn(loadAll(state_, nearby_, context_.screenSource(), routeDate_, points_, routeID_), token_);
  }
  ~TransferView() override { token_.cancel(); }

 private:
  // The day's routes first; then, for a first point with a position, the routes nearest to it.
  static async::Task<void> loadAll(std::shared_ptr<ScreenData> state, std::shared_ptr<ScreenData> nearby,
                                   ScreenSource source, std::string day, std::vector<JSONValue> points,
                                   std::string routeID) {
    co_await state->load(routesPath(day), source);
    if (auto path = nearestPath(day, points, routeID)) co_await nearby->load(*path, source);
  }

  static async::Task<void> move(std::weak_ptr<TransferView*> link, std::shared_ptr<ScreenData> state,
                                ScreenSource source, std::string path, JSONValue body, Refresh refresh) {
    const bool moved = co_await state->write(std::move(path), "POST", std::move(body), source);
    if (!moved) co_return;
    if (refresh) co_await refresh();
    if (auto* self = lockView(link)) self->sheet_->dismiss();
  }

  void save() {
    if (!transferAllowed(target_, state_->saving(), context_.model->canWriteServer(), points_.size())) return;
    async::spawn(move(link_.weak(), state_, context_.screenSource(), routeOperationPath(routeID_, "move"),
                      moveBody(points_, target_), refresh_));
  }

  void fillPicker() {
    filling_ = true;
    std::vector<Glib::ustring> names{"Выберите маршрут"};
    ids_ = {""};
    for (const Record& route : transferCandidates(state_->value(), routeID_)) {
      names.emplace_back(candidateTitle(route));
      ids_.push_back(route.id());
    }
    names_->splice(0, names_->get_n_items(), names);
    showTarget();
    filling_ = false;
  }

  void showTarget() {
    guint at = 0;
    for (std::size_t i = 0; i < ids_.size(); ++i)
      if (ids_[i] == target_) at = static_cast<guint>(i);
    if (at == 0) target_.clear();
    picker_.set_selected(at);
  }

  void fillSuggestions() {
    while (Gtk::Widget* child = suggestions_.get_first_child()) suggestions_.remove(*child);
    const auto rows = nearestSuggestions(nearby_->value());
    suggestions_.set_visible(!rows.empty());
    if (rows.empty()) return;
    suggestions_.append(*label("Ближайшие к первой выбранной точке", {"heading"}));
    for (const Record& row : rows) {
      auto* button = Gtk::make_managed<Gtk::Button>();
      button->add_css_class("flat");
      auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
      content->append(*Gtk::make_managed<Gtk::Label>(row["courier.name"].string()));
      content->append(*spacer());
      content->append(*Gtk::make_managed<Gtk::Label>(suggestionDistances(row)));
      button->set_child(*content);
      const std::string id = row.id();
      button->signal_clicked().connect([this, id] {
        // Only a route the picker offers can be chosen.
        for (const std::string& candidate : ids_)
          if (!candidate.empty() && candidate == id) {
            target_ = id;
            filling_ = true;
            showTarget();
            filling_ = false;
            updateEnabled();
          }
      });
      suggestions_.append(*button);
    }
  }

  void updateEnabled() {
    footer_.setBusy(!transferAllowed(target_, state_->saving(), context_.model->canWriteServer(), points_.size()));
  }

  ShellContext context_;
  std::string routeID_, routeDate_;
  std::vector<JSONValue> points_;
  Refresh refresh_;
  Sheet* sheet_;
  std::shared_ptr<ScreenData> state_ = ScreenData::create();
  std::shared_ptr<ScreenData> nearby_ = ScreenData::create();
  std::string target_;
  std::vector<std::string> ids_;
  bool filling_ = false;
  Glib::RefPtr<Gtk::StringList> names_;
  Gtk::DropDown picker_;
  Gtk::Box suggestions_{Gtk::Orientation::VERTICAL, 4};
  EditorFooter footer_;
  async::CancelToken token_;
  ScreenData::Connection stateConnection_, nearbyConnection_;
  AppModel::Connection modelConnection_;
  ViewLink<TransferView> link_{this};
};

// ---- Adding a point

// What the form edits and its running lookup; shared with the tasks, which may outlive the sheet.
struct AddPointState {
  JSONValue value = newPointValue();
  bool searching = false;
  std::shared_ptr<ScreenData> data = ScreenData::create();
  sigc::signal<void()> changed;
};

class AddPointView : public Gtk::Box {
 public:
  AddPointView(const ShellContext& context, std::string routeID, Refresh refresh, Sheet* sheet)
      : Gtk::Box(Gtk::Orientation::VERTICAL),
        context_(context),
        routeID_(std::move(routeID)),
        refresh_(std::move(refresh)),
        sheet_(sheet),
        footer_(
            "Добавить заказ", [this] { save(); }, [sheet] { sheet->dismiss(); }) {
    auto* title = label("Добавить заказ в маршрут", {"title-2"});
    title->set_margin(20);
    append(*title);
    auto* scroll = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroll->set_vexpand(true);
    scroll->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    // The form in its order: the fields (the comment last), "Найти координаты", "Положение". A group lists its
    // rows first and other widgets after them, so the comment and the placement have groups of their own.
    auto* form = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 12);
    form->set_margin_start(20);
    form->set_margin_end(20);
    form->set_margin_bottom(6);
    GtkWidget* rows = adw_preferences_group_new();
    GtkWidget* comment = adw_preferences_group_new();
    for (const FieldSpec& field : addPointFields())
      addField(ADW_PREFERENCES_GROUP(field.kind == FieldSpec::Kind::longText ? comment : rows), field);
    gtk_box_append(form->gobj(), rows);
    gtk_box_append(form->gobj(), comment);

    lookup_.set_halign(Gtk::Align::START);
    lookup_.signal_clicked().connect([this] { lookup(); });
    form->append(lookup_);
    GtkWidget* placement = adw_combo_row_new();
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(placement), "Положение");
    GtkStringList* choices = gtk_string_list_new(nullptr);
    gtk_string_list_append(choices, "Минимальный объезд");
    gtk_string_list_append(choices, "Последняя точка");
    adw_combo_row_set_model(ADW_COMBO_ROW(placement), G_LIST_MODEL(choices));
    g_object_unref(choices);
    g_signal_connect(placement, "notify::selected", G_CALLBACK(+[](GObject* row, GParamSpec*, gpointer data) {
                       auto* state = static_cast<AddPointState*>(data);
                       const guint at = adw_combo_row_get_selected(ADW_COMBO_ROW(row));
                       state->value.set("position", at == 1 ? "end" : "best");
                     }),
                     state_.get());
    GtkWidget* placing = adw_preferences_group_new();
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(placing), placement);
    gtk_box_append(form->gobj(), placing);
    scroll->set_child(*form);
    append(*scroll);
    // The issue line right under the form, always in view however far it is scrolled, as in the other editors.
    append(*Gtk::make_managed<ScreenNotice>(state_->data));
    append(footer_);

    state_->changed.connect(sigc::mem_fun(*this, &AddPointView::update));
    dataConnection_ = state_->data->observe([this](ScreenData::Property) { update(); });
    modelConnection_ = context_.model->observe([this](AppModel::Property) { update(); });
    update();
  }

 private:
  void addField(AdwPreferencesGroup* group, const FieldSpec& field) {
    if (field.kind == FieldSpec::Kind::longText) {
      LongTextField made = longTextField(field.title);
      Gtk::TextView* editor = made.editor;
      editor->get_buffer()->signal_changed().connect(
          [this, editor, field] { ValueFields::setText(state_->value, field, editor->get_buffer()->get_text()); });
      adw_preferences_group_add(group, GTK_WIDGET(made.column->gobj()));
      return;
    }
    GtkWidget* row = adw_entry_row_new();
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row), field.title.c_str());
    gtk_editable_set_text(GTK_EDITABLE(row), ValueFields::text(state_->value, field).c_str());
    auto* binding = new RowBinding{this, field};
    const gulong handler = g_signal_connect_data(
        row, "changed", G_CALLBACK(+[](GtkEditable* editable, gpointer data) {
          auto* b = static_cast<RowBinding*>(data);
          b->view->typed(b->field, gtk_editable_get_text(editable));
        }),
        binding, [](gpointer data, GClosure*) { delete static_cast<RowBinding*>(data); }, GConnectFlags(0));
    entries_[field.key] = std::make_pair(row, handler);
    adw_preferences_group_add(group, row);
  }

  struct RowBinding {
    AddPointView* view;
    FieldSpec field;
  };

  // What the user typed into a row.
  void typed(const FieldSpec& field, const std::string& text) {
    if (field.key == "address") {
      setPointAddress(state_->value, text);
      showCoordinates();
    } else {
      ValueFields::setText(state_->value, field, text);
    }
    update();
  }

  // Puts the coordinates of the value into their rows without counting it as typing.
  void showCoordinates() {
    for (const char* key : {"lat", "lon"}) {
      auto& [row, handler] = entries_.at(key);
      g_signal_handler_block(row, handler);
      gtk_editable_set_text(GTK_EDITABLE(row), state_->value[key].string().c_str());
      g_signal_handler_unblock(row, handler);
    }
  }

  void lookup() {
    if (state_->searching) return;
    state_->searching = true;
    update();
    async::spawn(runLookup(state_, context_.model, link_.weak()));
  }

  static async::Task<void> runLookup(std::shared_ptr<AddPointState> state, std::shared_ptr<AppModel> model,
                                     std::weak_ptr<AddPointView*> link) {
    const JSONValue snapshot = state->value;
    try {
      JSONValue answer = co_await model->lookup(snapshot["address"].string(), false);
      if (lookupStillCurrent(snapshot, state->value)) {
        if (auto message = applyLookup(state->value, answer)) state->data->setIssue(*message);
        if (auto* self = lockView(link)) self->showCoordinates();
      }
    } catch (...) {
      state->data->setIssue(failureText(std::current_exception()));
    }
    state->searching = false;
    state->changed.emit();
  }

  void save() {
    JSONValue body;
    try {
      body = checkedPoint(state_->value);
    } catch (...) {
      state_->data->setIssue(failureText(std::current_exception()));
      return;
    }
    async::spawn(runSave(state_, context_.screenSource(), routeOperationPath(routeID_, "points"), std::move(body),
                         refresh_, link_.weak()));
  }

  static async::Task<void> runSave(std::shared_ptr<AddPointState> state, ScreenSource source, std::string path,
                                   JSONValue body, Refresh refresh, std::weak_ptr<AddPointView*> link) {
    const bool saved = co_await state->data->write(std::move(path), "POST", std::move(body), source);
    if (!saved) co_return;
    if (refresh) co_await refresh();
    if (auto* self = lockView(link)) self->sheet_->dismiss();
  }

  void update() {
    lookup_.set_sensitive(!state_->searching && !state_->value["address"].string().empty());
    footer_.setBusy(state_->data->saving() || state_->searching || !context_.model->canWriteServer());
  }

  ShellContext context_;
  std::string routeID_;
  Refresh refresh_;
  Sheet* sheet_;
  std::shared_ptr<AddPointState> state_ = std::make_shared<AddPointState>();
  std::map<std::string, std::pair<GtkWidget*, gulong>> entries_;
  Gtk::Button lookup_{"Найти координаты"};
  EditorFooter footer_;
  ScreenData::Connection dataConnection_;
  AppModel::Connection modelConnection_;
  ViewLink<AddPointView> link_{this};
};

}  // namespace

Sheet* openRouteTrack(Gtk::Widget& anchor, const ShellContext& context, std::string routeID) {
  Sheet* sheet = Sheet::open(anchor, "GPS-трек маршрута", 900, 620);
  sheet->set_size_request(680, 480);
  sheet->setContent(*Gtk::make_managed<TrackView>(context, std::move(routeID), sheet));
  sheet->present();
  return sheet;
}

void openRouteTransfer(Gtk::Widget& anchor, const ShellContext& context, std::string routeID, std::string routeDate,
                       std::vector<JSONValue> points, Refresh refresh) {
  Sheet* sheet = Sheet::open(anchor, "Передать точки", 630, -1);
  sheet->setContent(*Gtk::make_managed<TransferView>(context, std::move(routeID), std::move(routeDate),
                                                     std::move(points), std::move(refresh), sheet));
  sheet->present();
}

void openRouteAddPoint(Gtk::Widget& anchor, const ShellContext& context, std::string routeID, Refresh refresh) {
  Sheet* sheet = Sheet::open(anchor, "Добавить заказ", 580, 620);
  sheet->set_size_request(580, 450);
  sheet->setContent(*Gtk::make_managed<AddPointView>(context, std::move(routeID), std::move(refresh), sheet));
  sheet->present();
}

}  // namespace dorvik::monitoring
