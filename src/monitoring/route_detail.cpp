#include "monitoring/route_detail.h"

#include <adwaita.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "core/api/api_client.h"
#include "core/api/failure.h"
#include "core/async/shared_task.h"
#include "core/async/worker.h"
#include "map/map_surface.h"
#include "monitoring/logic/monitoring_rules.h"
#include "monitoring/route_tools.h"
#include "shell/record_table.h"
#include "shell/sheet.h"
#include "shell/text_picker.h"
#include "shell/toolkit/symbols.h"

namespace dorvik::monitoring {

namespace {

// What the sheet shows and its tasks change; it outlives the sheet while a write or reload runs.
struct DetailState {
  std::string routeID;
  std::string routeDate;
  JSONValue data;
  std::vector<Record> couriers;
  std::string selectedCourier;
  std::vector<JSONValue> points;
  std::set<std::string> selected;
  std::vector<Record> photos;
  Glib::RefPtr<Gdk::Texture> photo;
  int photoLoads = 0;                     // photo downloads running
  std::optional<std::string> photoIssue;  // the photo sheet's own line
  bool photosOpening = false;             // the photo list loads, or its sheet is open: "Фото" waits
  bool photosShown = false;               // the photo sheet is open
  std::optional<std::string> issue;
  bool busy = false;
  sigc::signal<void()> changed;

  void notify() { changed.emit(); }
};

using DetailPtr = std::shared_ptr<DetailState>;

// One GET in flight from the moment it is made; awaited later, cancellable meanwhile.
using Request = std::shared_ptr<async::SharedTask<JSONValue>>;

async::Task<void> drive(Request request) {
  try {
    co_await request->join();
  } catch (...) {
    // The load reads the outcome when it joins.
  }
}

Request send(const std::shared_ptr<AppModel>& model, std::string path) {
  auto request = std::make_shared<async::SharedTask<JSONValue>>(model->fetch(std::move(path)));
  async::spawn(drive(request));
  return request;
}

// Loads the route and the courier list together; either failure leaves the shown route as it was.
async::Task<void> load(DetailPtr state, std::shared_ptr<AppModel> model) {
  if (state->routeID.empty()) {
    state->issue = kNoRouteText;
    state->notify();
    co_return;
  }
  state->busy = true;
  state->notify();
  Request route = send(model, routePath(state->routeID));
  Request couriers = send(model, "/admin/couriers");
  try {
    JSONValue document;
    try {
      document = co_await route->join();
    } catch (...) {
      couriers->cancel();
      throw;
    }
    JSONValue list = co_await couriers->join();
    state->data = std::move(document);
    state->points = sortedPoints(state->data);
    state->couriers = JSONValue::records(list["couriers"].array());
    state->selectedCourier = state->data.path("courier.id").string();
    state->issue.reset();
  } catch (...) {
    state->issue = failureText(std::current_exception());
  }
  state->busy = false;
  state->notify();
}

// One route operation, then the whole route again.
async::Task<void> action(DetailPtr state, std::shared_ptr<AppModel> model, std::string op, JSONValue body) {
  if (state->busy || state->routeID.empty() || !model->canWriteServer()) co_return;
  state->busy = true;
  state->notify();
  bool sent = false;
  try {
    co_await model->fetch(routeOperationPath(state->routeID, op), "POST", std::move(body));
    sent = true;
  } catch (...) {
    state->issue = writeFailureText(std::current_exception());
  }
  if (sent) co_await load(state, model);
  state->busy = false;
  state->notify();
}

async::SerialWorker& decoder() {
  static async::SerialWorker worker("photo-decoder");
  return worker;
}

// Downloads a photo and decodes it off the main thread. The photo sheet shows the download running and says why
// a photo did not come: the failure, or bytes that are no picture it can show (which clear the picture). A failure
// that ends after the sheet closed goes to the detail's issue line.
async::Task<void> showPhoto(DetailPtr state, std::shared_ptr<AppModel> model, std::string photoID) {
  std::shared_ptr<APIClient> api = model->api();
  if (!api) co_return;
  ++state->photoLoads;
  state->photoIssue.reset();
  state->notify();
  std::string bytes;
  std::optional<std::string> failure;
  bool downloaded = false;
  try {
    bytes = co_await api->download(photoPath(photoID));
    downloaded = true;
  } catch (...) {
    failure = failureText(std::current_exception());
  }
  if (downloaded) {
    auto data = std::make_shared<const std::string>(std::move(bytes));
    auto decode = [data]() -> GdkTexture* {
      GBytes* wrapped = g_bytes_new(data->data(), data->size());
      GdkTexture* t = gdk_texture_new_from_bytes(wrapped, nullptr);
      g_bytes_unref(wrapped);
      return t;
    };
    auto job = decoder().run(decode);
    GdkTexture* texture = co_await job;
    state->photo = texture ? Glib::wrap(texture) : Glib::RefPtr<Gdk::Texture>();
    if (!texture) failure = kPhotoUnreadable;
  }
  --state->photoLoads;
  if (failure) (state->photosShown ? state->photoIssue : state->issue) = std::move(failure);
  state->notify();
}

Gtk::Label* label(const std::string& text, std::initializer_list<const char*> classes = {}) {
  auto* l = Gtk::make_managed<Gtk::Label>(text);
  l->set_xalign(0);
  l->set_wrap(true);
  for (const char* c : classes) l->add_css_class(c);
  return l;
}

Gtk::Button* iconButton(const std::string& title, std::string_view symbol) {
  auto* button = Gtk::make_managed<Gtk::Button>();
  auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
  // Gtk::Image's text constructor reads a file: the theme icon goes through set_from_icon_name.
  auto* image = Gtk::make_managed<Gtk::Image>();
  image->set_from_icon_name(std::string(symbolIcon(symbol)));
  content->append(*image);
  content->append(*Gtk::make_managed<Gtk::Label>(title));
  button->set_child(*content);
  return button;
}

Gtk::Widget* spacer() {
  auto* gap = Gtk::make_managed<Gtk::Box>();
  gap->set_hexpand(true);
  return gap;
}

// The photo sheet: the route's photos as buttons, the chosen picture below, with the download's progress and
// failure in view.
class PhotoSheetView : public Gtk::Box {
 public:
  PhotoSheetView(DetailPtr state, std::shared_ptr<AppModel> model, Sheet* sheet)
      : Gtk::Box(Gtk::Orientation::VERTICAL, 6), state_(std::move(state)) {
    set_margin(12);
    append(*label("Фото доставки", {"title-2"}));
    auto* list = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
    for (const Record& photo : state_->photos) {
      auto* button = Gtk::make_managed<Gtk::Button>(photoLabel(photo));
      button->add_css_class("flat");
      const std::string id = photo["id"].string();
      button->signal_clicked().connect([state = state_, model, id] { async::spawn(showPhoto(state, model, id)); });
      list->append(*button);
    }
    auto* scroll = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroll->set_child(*list);
    scroll->set_vexpand(true);
    scroll->set_min_content_height(90);  // room for a few photo names above the picture
    append(*scroll);
    loading_.set_halign(Gtk::Align::CENTER);
    loading_.append(spinner_);
    loading_.append(*label(kPhotoLoading, {"dim-label"}));
    append(loading_);
    picture_.set_size_request(-1, 340);
    gtk_picture_set_content_fit(picture_.gobj(), GTK_CONTENT_FIT_CONTAIN);
    append(picture_);
    issue_.add_css_class("error");
    issue_.set_wrap(true);
    issue_.set_selectable(true);
    issue_.set_halign(Gtk::Align::CENTER);
    append(issue_);
    auto* close = Gtk::make_managed<Gtk::Button>("Закрыть");
    close->set_halign(Gtk::Align::CENTER);
    close->signal_clicked().connect([sheet] { sheet->dismiss(); });
    append(*close);
    state_->changed.connect(sigc::mem_fun(*this, &PhotoSheetView::update));
    update();
  }

 private:
  void update() {
    picture_.set_paintable(state_->photo);
    picture_.set_visible(static_cast<bool>(state_->photo));
    const bool loading = state_->photoLoads > 0;
    loading_.set_visible(loading);
    spinner_.set_spinning(loading);
    issue_.set_text(state_->photoIssue.value_or(""));
    issue_.set_visible(state_->photoIssue.has_value());
  }
  DetailPtr state_;
  Gtk::Box loading_{Gtk::Orientation::HORIZONTAL, 8};
  Gtk::Spinner spinner_;
  Gtk::Picture picture_;
  Gtk::Label issue_;
};

// Loads the photo list, then opens the sheet (also with no photos); a failure goes to the detail's issue line.
// One at a time: "Фото" waits from the press until the sheet closes.
async::Task<void> openPhotos(DetailPtr state, std::shared_ptr<AppModel> model, std::weak_ptr<Gtk::Widget*> anchor) {
  if (state->photosOpening) co_return;
  state->photosOpening = true;
  state->notify();
  JSONValue list;
  bool loaded = false;
  std::optional<std::string> failure;
  try {
    list = co_await model->fetch(routePath(state->routeID) + "/photos");
    loaded = true;
  } catch (...) {
    failure = failureText(std::current_exception());  // none for a cancellation
  }
  auto link = anchor.lock();
  if (!loaded || !link || !*link) {
    if (failure) state->issue = std::move(failure);
    state->photosOpening = false;
    state->notify();
    co_return;
  }
  state->photos = JSONValue::records(list.array());
  state->photoIssue.reset();
  state->photosShown = true;
  Sheet* sheet = Sheet::open(**link, "Фото доставки", 650, 600);
  sheet->setContent(*Gtk::make_managed<PhotoSheetView>(state, model, sheet));
  sheet->signalClosed().connect([state] {
    state->photosShown = false;
    state->photosOpening = false;
    state->photoIssue.reset();
    state->notify();
  });
  sheet->present();
}

// One point of the list: number, address, clients, status line and every order.
class PointRow : public Gtk::Box {
 public:
  PointRow() : Gtk::Box(Gtk::Orientation::HORIZONTAL, 12) {
    set_margin_top(7);
    set_margin_bottom(7);
    number_.add_css_class("heading");
    number_.add_css_class("numeric");
    number_.set_size_request(24, -1);
    number_.set_valign(Gtk::Align::START);
    append(number_);
    column_.set_hexpand(true);
    append(column_);
  }

  std::size_t position() const { return position_; }

  void bind(const Record& row) {
    position_ = std::stoul(row.fallbackID);
    number_.set_text(std::to_string(position_ + 1));
    while (Gtk::Widget* child = column_.get_first_child()) column_.remove(*child);
    const PointTexts t = pointTexts(row.value);
    auto* address = label(t.address);
    address->set_markup("<span weight=\"500\">" + Glib::Markup::escape_text(t.address) + "</span>");
    column_.append(*address);
    column_.append(*label(t.clients, {"dim-label"}));
    column_.append(*label(t.caption, {"caption"}));
    for (const OrderTexts& o : t.orders) {
      auto* order = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 3);
      order->append(*label(o.heading));
      if (o.reason) order->append(*label(*o.reason, {"dorvik-orange"}));
      if (o.comment) order->append(*label(*o.comment, {"dim-label"}));
      order->append(*label(o.window, {"caption"}));
      if (o.phones) {
        auto* phones = label(*o.phones, {"caption"});
        phones->set_selectable(true);
        order->append(*phones);
      }
      column_.append(*order);
    }
  }

 private:
  std::size_t position_ = 0;
  Gtk::Label number_;
  Gtk::Box column_{Gtk::Orientation::VERTICAL, 5};
};

}  // namespace

class RouteDetailView : public Gtk::Box {
 public:
  RouteDetailView(const ShellContext& context, DetailPtr state, Sheet* sheet)
      : Gtk::Box(Gtk::Orientation::VERTICAL), context_(context), state_(std::move(state)), sheet_(sheet) {
    buildHeader();
    buildCourierRow();
    buildToolsRow();
    issue_.add_css_class("error");
    issue_.set_xalign(0);
    issue_.set_selectable(true);
    issue_.set_wrap(true);
    issue_.set_margin_start(20);
    issue_.set_margin_end(20);
    issue_.set_margin_bottom(6);
    append(issue_);

    auto* split = Gtk::make_managed<Gtk::Paned>(Gtk::Orientation::HORIZONTAL);
    split->set_vexpand(true);
    points_.setIdentity([](const Record& r) {
      const std::string id = r["pointId"].string();
      return id.empty() ? "#" + r.fallbackID : id;
    });
    points_.addWidgetColumn(
        "Точки", [] { return Gtk::make_managed<PointRow>(); },
        [](Gtk::Widget& w, const Record& r) { static_cast<PointRow&>(w).bind(r); }, {.expand = true});
    points_.setTitlesVisible(false);  // one column of points: no header
    followDrags();
    points_.signalSelectionChanged().connect([this](const std::set<std::string>& ids) {
      state_->selected = ids;
      state_->notify();
    });
    points_.set_size_request(330, -1);
    split->set_start_child(points_);
    split->set_position(430);
    split->set_shrink_start_child(false);
    map_ = Gtk::make_managed<TwoGISSurface>(context_.model, context_.defaults, MapContent{},
                                            [state = state_](const MapInteraction& i) {
                                              if (auto* s = i.as<MapInteraction::Select>()) {
                                                state->selected = {s->id};
                                                state->notify();
                                              }
                                            });
    map_->set_size_request(300, -1);
    split->set_end_child(*map_);
    split->set_shrink_end_child(false);
    append(*split);
    buildBottomBar();

    state_->changed.connect(sigc::mem_fun(*this, &RouteDetailView::update));
    modelConnection_ = context_.model->observe([this](AppModel::Property) { updateEnabled(); });
    update();
    async::spawn(load(state_, context_.model), token_);
  }
  ~RouteDetailView() override { token_.cancel(); }

  void reorder(const std::set<std::size_t>& moved, std::size_t destination) {
    state_->points = movePoints(state_->points, moved, destination);
    state_->notify();
  }

 private:
  // The point row under a point of the list's coordinates, if any.
  PointRow* rowAt(double x, double y) {
    for (Gtk::Widget* w = points_.pick(x, y, Gtk::PickFlags::DEFAULT); w && w != &points_; w = w->get_parent())
      if (auto* row = dynamic_cast<PointRow*>(w)) return row;
    return nullptr;
  }

  // Rows are reordered by following the pointer from the press to the release: the list moves only its own rows,
  // and a quick drag works like a slow one. The lower half of a row drops after it, below the last row at the end;
  // a release outside the list moves nothing.
  void followDrags() {
    auto gesture = Gtk::GestureDrag::create();
    gesture->set_button(GDK_BUTTON_PRIMARY);
    gesture->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    Gtk::GestureDrag* drag = gesture.get();
    drag->signal_drag_begin().connect([this, drag](double x, double y) {
      PointRow* row = rowAt(x, y);
      dragging_.press(row ? std::optional<std::size_t>(row->position()) : std::nullopt);
      if (!row) drag->set_state(Gtk::EventSequenceState::DENIED);
    });
    drag->signal_drag_update().connect([this, drag](double dx, double dy) {
      if (!dragging_.move(dx, dy, dragThreshold())) return;
      drag->set_state(Gtk::EventSequenceState::CLAIMED);  // no click, no selection by this press any more
      points_.set_cursor(Gdk::Cursor::create("grabbing"));
    });
    drag->signal_drag_end().connect([this, drag](double dx, double dy) {
      double x = 0, y = 0;
      drag->get_start_point(x, y);
      x += dx;
      y += dy;
      points_.set_cursor(Glib::RefPtr<Gdk::Cursor>());
      const bool inside = x >= 0 && y >= 0 && x < points_.get_width() && y < points_.get_height();
      std::set<std::size_t> moved = dragging_.release(state_->points, state_->selected);
      if (moved.empty() || !inside) return;
      std::size_t destination = state_->points.size();
      if (PointRow* row = rowAt(x, y)) {
        graphene_point_t at;
        const graphene_point_t from = GRAPHENE_POINT_INIT(static_cast<float>(x), static_cast<float>(y));
        const bool lower = gtk_widget_compute_point(GTK_WIDGET(points_.gobj()), GTK_WIDGET(row->gobj()), &from, &at) &&
                           at.y > row->get_height() / 2.0;
        destination = row->position() + (lower ? 1 : 0);
      }
      reorder(moved, destination);
    });
    points_.add_controller(gesture);
  }

  double dragThreshold() const {
    auto settings = Gtk::Settings::get_default();
    return settings ? settings->property_gtk_dnd_drag_threshold().get_value() : 8;
  }

  void buildHeader() {
    auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
    header->set_margin(20);
    auto* titles = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 4);
    title_.add_css_class("title-2");
    title_.set_xalign(0);
    subtitle_.add_css_class("dim-label");
    subtitle_.set_xalign(0);
    titles->append(title_);
    titles->append(subtitle_);
    header->append(*titles);
    header->append(*spacer());
    auto* close = Gtk::make_managed<Gtk::Button>("Закрыть");
    close->signal_clicked().connect([this] { sheet_->dismiss(); });
    header->append(*close);
    append(*header);
  }

  void buildCourierRow() {
    courierRow_.set_margin_start(20);
    courierRow_.set_margin_end(20);
    courierRow_.set_margin_bottom(12);
    courierRow_.append(*Gtk::make_managed<Gtk::Label>("Курьер"));
    courierNames_ = Gtk::StringList::create({});
    courierPicker_.set_model(courierNames_);
    // At most 330 wide: a long name is cut in the button and shown whole in the list.
    GtkWidget* picker = clampedPicker(courierPicker_, 330);
    courierPicker_.set_size_request(250, -1);
    courierPicker_.property_selected().signal_changed().connect([this] {
      if (fillingCouriers_) return;
      const guint at = courierPicker_.get_selected();
      if (at == GTK_INVALID_LIST_POSITION || at >= courierIds_.size()) return;
      state_->selectedCourier = courierIds_[at];
      state_->notify();
    });
    gtk_box_append(courierRow_.gobj(), picker);
    assign_.signal_clicked().connect([this] { run("courier", courierBody(state_->selectedCourier)); });
    courierRow_.append(assign_);
    courierRow_.append(*spacer());
    auto* eta = Gtk::make_managed<Gtk::Button>("Обновить время");
    eta->signal_clicked().connect([this] { run("eta", JSONValue(JSONObject{})); });
    courierRow_.append(*eta);
    photos_ = Gtk::make_managed<Gtk::Button>("Фото");
    photos_->signal_clicked().connect([this] { async::spawn(openPhotos(state_, context_.model, link_.weak())); });
    courierRow_.append(*photos_);
    append(courierRow_);
  }

  void buildToolsRow() {
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    row->set_margin_start(20);
    row->set_margin_end(20);
    row->set_margin_bottom(12);
    add_ = iconButton("Добавить заказ", "plus");
    add_->signal_clicked().connect([this] { openRouteAddPoint(*this, context_, state_->routeID, reloader(false)); });
    row->append(*add_);
    transfer_ = iconButton("Передать точки", "arrow.right.arrow.left");
    transfer_->signal_clicked().connect([this] {
      std::vector<JSONValue> chosen;
      for (const JSONValue& p : state_->points)
        if (state_->selected.count(p["pointId"].string())) chosen.push_back(p);
      openRouteTransfer(*this, context_, state_->routeID, state_->routeDate, std::move(chosen), reloader(true));
    });
    row->append(*transfer_);
    auto* track = iconButton("GPS-трек", "location");
    track->signal_clicked().connect([this] { openRouteTrack(*this, context_, state_->routeID); });
    row->append(*track);
    row->append(*spacer());
    count_.add_css_class("dim-label");
    row->append(count_);
    append(*row);
  }

  void buildBottomBar() {
    bottom_.set_margin(20);
    auto* hint = label("Перетащите строки, чтобы изменить порядок точек.", {"caption", "dim-label"});
    hint->set_wrap(false);
    bottom_.append(*hint);
    bottom_.append(*spacer());
    auto* save = Gtk::make_managed<Gtk::Button>("Сохранить порядок");
    save->signal_clicked().connect([this] { run("reorder", reorderBody(state_->points)); });
    bottom_.append(*save);
    auto* finish = Gtk::make_managed<Gtk::Button>("Завершить маршрут");
    finish->signal_clicked().connect([this] {
      confirm(*this, "Завершить маршрут?", "Курьер увидит маршрут завершённым.", "Завершить", true,
              [state = state_, model = context_.model] {
                async::spawn(action(state, model, "finish", JSONValue(JSONObject{})));
              });
    });
    bottom_.append(*finish);
    append(bottom_);
  }

  // The reload a tool awaits after its write; the transfer's first forgets the selection.
  Refresh reloader(bool clearSelection) {
    return [state = state_, model = context_.model, clearSelection]() -> async::Task<void> {
      if (clearSelection) {
        state->selected.clear();
        state->notify();
      }
      return load(state, model);
    };
  }

  void run(const char* op, JSONValue body) { async::spawn(action(state_, context_.model, op, std::move(body))); }

  void update() {
    title_.set_text(routeTitle(state_->data));
    subtitle_.set_text(routeSubtitle(state_->data));
    issue_.set_text(state_->issue.value_or(""));
    issue_.set_visible(state_->issue.has_value());
    count_.set_text("Выбрано: " + std::to_string(state_->selected.size()));

    fillingCouriers_ = true;
    std::vector<Glib::ustring> names{"Выберите курьера"};
    courierIds_ = {""};
    for (const Record& c : offeredCouriers(state_->couriers)) {
      names.emplace_back(c["fullName"].string());
      courierIds_.push_back(c.id());
    }
    if (names.size() != courierNames_->get_n_items() || names != shownNames_) {
      courierNames_->splice(0, courierNames_->get_n_items(), names);
      shownNames_ = names;
    }
    // A courier missing from the offered list selects no entry.
    guint at = GTK_INVALID_LIST_POSITION;
    for (std::size_t i = 0; i < courierIds_.size(); ++i)
      if (courierIds_[i] == state_->selectedCourier) at = static_cast<guint>(i);
    courierPicker_.set_selected(at);
    fillingCouriers_ = false;

    std::vector<Record> rows;
    for (std::size_t i = 0; i < state_->points.size(); ++i) rows.emplace_back(state_->points[i], std::to_string(i));
    points_.setRows(std::move(rows));
    points_.setSelectedIds(state_->selected);
    MapContent content;
    content.pins = pointPins(state_->points, state_->selected);
    map_->setContent(std::move(content));
    updateEnabled();
  }

  void updateEnabled() {
    const bool writable = !state_->busy && !state_->routeID.empty() && context_.model->canWriteServer();
    courierRow_.set_sensitive(writable);
    assign_.set_sensitive(!state_->selectedCourier.empty());
    photos_->set_sensitive(!state_->photosOpening);
    bottom_.set_sensitive(writable);
    add_->set_sensitive(writable);
    transfer_->set_sensitive(writable && !state_->selected.empty());
  }

  ShellContext context_;
  DetailPtr state_;
  Sheet* sheet_;
  async::CancelToken token_;
  Gtk::Label title_, subtitle_, issue_, count_;
  Gtk::Box courierRow_{Gtk::Orientation::HORIZONTAL, 8};
  Glib::RefPtr<Gtk::StringList> courierNames_;
  std::vector<Glib::ustring> shownNames_;
  std::vector<std::string> courierIds_;
  Gtk::DropDown courierPicker_;
  Gtk::Button assign_{"Назначить"};
  bool fillingCouriers_ = false;
  Gtk::Button* photos_ = nullptr;
  Gtk::Button* add_ = nullptr;
  Gtk::Button* transfer_ = nullptr;
  RecordTable points_{RecordTable::Selection::multiple};
  PointDragging dragging_;
  TwoGISSurface* map_ = nullptr;
  Gtk::Box bottom_{Gtk::Orientation::HORIZONTAL, 12};
  AppModel::Connection modelConnection_;
  ViewLink<Gtk::Widget> link_{this};
};

Sheet* openRouteDetail(Gtk::Widget& anchor, const ShellContext& context, std::string routeID, std::string routeDate) {
  auto state = std::make_shared<DetailState>();
  state->routeID = std::move(routeID);
  state->routeDate = std::move(routeDate);
  // Large enough for several points beside the map: as large as the window it opens over allows, up to
  // 1100 × 800, never below 960 × 600.
  int width = 960, height = 600;
  if (auto* window = dynamic_cast<Gtk::Window*>(anchor.get_root())) {
    width = std::clamp(window->get_width() - 80, 960, 1100);
    height = std::clamp(window->get_height() - 80, 600, 800);
  }
  Sheet* sheet = Sheet::open(anchor, "Маршрут", width, height);
  sheet->set_size_request(760, 450);
  sheet->setContent(*Gtk::make_managed<RouteDetailView>(context, state, sheet));
  sheet->present();
  return sheet;
}

bool dropRows(Gtk::Window& window, const std::set<std::size_t>& positions, std::size_t destination) {
  auto* view = dynamic_cast<RouteDetailView*>(window.get_child());
  if (!view) return false;
  view->reorder(positions, destination);
  return true;
}

}  // namespace dorvik::monitoring
