// The map page in a real WebKit web view under a display: the shipped Map.html without a network reports "error";
// with a stand-in of the map library (defined here, never shipped) it reports "ready", draws its pins and posts
// messages that arrive through the real handler validated or not at all; navigation stays on the page. Then the
// surface: the unavailable view, the retry panel in a 260 px high area (PNGs in build/screens/), and the retry.
#include <gtest/gtest.h>
#include <gtkmm.h>
#include <unistd.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "map/map_surface.h"
#include "map/map_web_view.h"
#include "shell/application.h"
#include "support/async_helpers.h"
#include "support/map_stand_in.h"
#include "support/stand_in_server.h"
#include "support/ui_helpers.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace std::chrono_literals;
using dorvik::testing::spinFor;
using dorvik::testing::spinUntil;

namespace {


const char* kGeneration = "5b1f0d1e-7c3a-4f7e-9a57-2d5e8c0b4a11";
const char* kEcho = "5B1F0D1E-7C3A-4F7E-9A57-2D5E8C0B4A11";

class MapDisplay : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Containers run the tests as root, where WebKit's sandbox cannot start. The program never does this.
    if (geteuid() == 0) g_setenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "1", TRUE);
    dorvik::testing::initDisplay();
  }
  void TearDown() override {
    if (window_) gtk_window_destroy(window_);
    spinFor(50ms);
  }
  GtkWindow* show(GtkWidget* child, int width = 900, int height = 600) {
    window_ = GTK_WINDOW(gtk_window_new());
    gtk_window_set_default_size(window_, width, height);
    gtk_window_set_child(window_, child);
    gtk_window_present(window_);
    return window_;
  }

  GtkWindow* window_ = nullptr;
};

// Keeps the page off the network whatever the machine has: every request goes to a proxy that is not there, so
// the map library can never load.
void cutOff(WebKitWebView* view) {
  WebKitNetworkProxySettings* proxy = webkit_network_proxy_settings_new("http://127.0.0.1:9", nullptr);
  webkit_network_session_set_proxy_settings(webkit_web_view_get_network_session(view), WEBKIT_NETWORK_PROXY_MODE_CUSTOM,
                                            proxy);
  webkit_network_proxy_settings_free(proxy);
}

std::string evaluate(WebKitWebView* view, const std::string& script) { return dorvik::testing::evaluateInPage(view, script); }

// A page with two pins, a route line and a zone, and what came back from it.
struct Page {
  std::vector<std::string> statuses;
  std::vector<MapInteraction> interactions;
  std::vector<std::string> opened;

  MapView view() {
    MapView v;
    v.configuration = JSONValue::object({{"key", "test-key"}});
    v.generation = kGeneration;
    MapPin a{"a", "Склад", "1", MapPoint{55.75, 37.61}};
    MapPin b{"b", "Точка b", "2", MapPoint{55.70, 37.50}};
    a.movable = b.movable = true;
    b.vehicle = 1;
    v.content.pins = {a, b};
    v.content.lines = {{MapPoint{55.75, 37.61}, MapPoint{55.70, 37.50}}};
    v.content.polygons = {{MapPoint{55.8, 37.4}, MapPoint{55.8, 37.7}, MapPoint{55.6, 37.7}}};
    v.onStatus = [this](const std::string& s) { statuses.push_back(s); };
    v.onInteraction = [this](const MapInteraction& i) { interactions.push_back(i); };
    return v;
  }
  MapPageOptions options(bool standIn) {
    MapPageOptions o;
    o.openExternally = [this](const std::string& uri) { opened.push_back(uri); };
    if (standIn) o.userScripts = {dorvik::testing::kMapLibraryStandIn};
    return o;
  }
  bool has(const std::string& state) const {
    return std::find(statuses.begin(), statuses.end(), state) != statuses.end();
  }
};

std::string postScript(const std::string& object) {
  return "window.webkit.messageHandlers.dorvikMap.postMessage(" + object + "); 'ok'";
}

}  // namespace

TEST_F(MapDisplay, ShippedPageWithoutNetworkReportsError) {
  Page page;
  TwoGISWebView web(page.view(), page.options(false));
  cutOff(web.webView());
  ASSERT_FALSE(web.pageURI().empty()) << "the build places Map.html in the application bundle";
  show(web.widget());
  ASSERT_TRUE(spinUntil([&] { return page.has("error"); }, 40s));
  EXPECT_EQ(page.statuses.front(), "loading");
  EXPECT_EQ(page.statuses.back(), "error");
  EXPECT_TRUE(web.bridge().loaded());
  EXPECT_EQ(evaluate(web.webView(), "typeof window.DorvikMap.update"), "function");
}

TEST_F(MapDisplay, MissingPageReportsError) {
  Page page;
  MapPageOptions options = page.options(false);
  options.pagePath = "/nonexistent/Map.html";
  TwoGISWebView web(page.view(), options);
  show(web.widget());
  ASSERT_TRUE(spinUntil([&] { return !page.statuses.empty(); }));
  EXPECT_EQ(page.statuses, std::vector<std::string>{"error"});
}

TEST_F(MapDisplay, StandInLibraryDrawsPinsAndMessagesPassTheRealHandler) {
  Page page;
  TwoGISWebView web(page.view(), page.options(true));
  show(web.widget());
  ASSERT_TRUE(spinUntil([&] { return page.has("ready"); }));
  WebKitWebView* view = web.webView();

  EXPECT_EQ(evaluate(view,
                     "Array.from(document.querySelectorAll('.pin')).map(e => e.textContent + '|' + e.title)"
                     ".join(',') + ' ' + __stub.lines.length + ' ' + __stub.polygons.length + ' ' + __stub.calls"),
            "1|Склад,2|Точка b 1 1 fitBounds");

  // A click on a pin with Ctrl held is an additive selection; posted messages go through every guard.
  evaluate(view,
           "document.querySelector('.pin').dispatchEvent(new MouseEvent('click', {bubbles: true, ctrlKey: true}))");
  const std::string echo = kEcho;
  evaluate(view, postScript("{type: 'select', id: 'zz', generation: '" + echo + "'}"));
  evaluate(view, postScript("{type: 'select', id: 'a', generation: 'OLD'}"));
  evaluate(view, postScript("{type: 'select', id: 'a', generation: '" + echo + "', pad: 'x'.repeat(8192)}"));
  evaluate(view, postScript("{type: 'move', id: 'b', revision: 'x', lat: 1, lon: 2, generation: '" + echo + "'}"));
  evaluate(view, postScript("'plain text'"));
  evaluate(view, postScript("{type: 'select', id: 'b', generation: '" + echo + "'}"));
  ASSERT_TRUE(spinUntil([&] { return page.interactions.size() >= 2; }));
  spinFor(100ms);
  EXPECT_EQ(page.interactions,
            (std::vector<MapInteraction>{MapInteraction::select("a", true), MapInteraction::select("b", false)}));

  // A change of the screen's state reaches the page: a selected pin, editing, a command.
  MapView next = page.view();
  next.content.pins[1].selected = true;
  next.content.editing = true;
  next.command = JSONValue::object({{"id", "C0FFEE00-0000-4000-8000-000000000001"}, {"kind", "zoomIn"}});
  web.update(next);
  ASSERT_TRUE(spinUntil([&] { return evaluate(view, "__stub.calls.join(',')") == "fitBounds,setZoom 11"; }));
  EXPECT_EQ(evaluate(view, "document.querySelectorAll('.pin.selected').length"), "1");
  evaluate(view, postScript("{type: 'move', id: 'b', revision: '" + next.content.pins[1].revision() +
                            "', lat: '55,5', lon: 37.4, generation: '" + echo + "'}"));
  ASSERT_TRUE(spinUntil([&] { return page.interactions.size() == 3; }));
  EXPECT_EQ(page.interactions.back(), MapInteraction::move("b", MapPoint{55.5, 37.4}));
  EXPECT_TRUE(std::count(page.statuses.begin(), page.statuses.end(), "error") == 0);

  // Navigation: another site is refused in place, a vendor link goes to the browser (also with a new-window target).
  evaluate(view, "location.href = 'https://example.com/'; 'ok'");
  evaluate(view,
           "var a = document.createElement('a'); a.href = 'https://www.2gis.ru/moscow'; a.textContent = '2ГИС';"
           "document.body.appendChild(a); a.click(); 'ok'");
  evaluate(view,
           "var b = document.createElement('a'); b.href = 'https://help.2gis.com/'; b.target = '_blank';"
           "document.body.appendChild(b); b.click(); 'ok'");
  ASSERT_TRUE(spinUntil([&] { return page.opened.size() == 2; }));
  EXPECT_EQ(page.opened, (std::vector<std::string>{"https://www.2gis.ru/moscow", "https://help.2gis.com/"}));
  spinFor(200ms);
  EXPECT_TRUE(sameFileURL(webkit_web_view_get_uri(view), web.pageURI()));
  EXPECT_EQ(evaluate(view, "typeof window.DorvikMap"), "object");
  EXPECT_FALSE(page.has("error"));
}

// Drags a pin onto another through the page's own pointer handling.
std::string dragScript(int from, int to) {
  return "var pins = document.querySelectorAll('.pin');"
         "function at(e) { var r = e.getBoundingClientRect(); return {x: r.left + r.width / 2, y: r.top + r.height / "
         "2}; }"
         "var a = at(pins[" +
         std::to_string(from) + "]), b = at(pins[" + std::to_string(to) +
         "]);"
         "function pointer(type, p) { return new PointerEvent(type, {bubbles: true, pointerId: 7, button: 0, "
         "clientX: p.x, clientY: p.y}); }"
         "pins[" +
         std::to_string(from) +
         "].dispatchEvent(pointer('pointerdown', a));"
         "document.dispatchEvent(pointer('pointermove', b));"
         "document.dispatchEvent(pointer('pointerup', b)); 'ok'";
}

TEST_F(MapDisplay, DragsOnThePageBecomeMovesAndTransfersOrAHint) {
  Page page;
  MapView view = page.view();
  MapPin c{"c", "Точка c", "3", MapPoint{55.72, 37.55}};
  c.vehicle = 2;
  view.content.pins[0].selected = view.content.pins[1].selected = true;
  view.content.pins.push_back(c);
  view.content.transferring = true;
  view.content.planRevision = 5;
  view.content.vehicles = {1, 2};
  TwoGISWebView web(view, page.options(true));
  show(web.widget());
  ASSERT_TRUE(spinUntil([&] { return page.has("ready"); }));

  // The selection dragged onto a pin of vehicle 2.
  evaluate(web.webView(), dragScript(0, 2));
  ASSERT_TRUE(spinUntil([&] { return page.interactions.size() == 1; }));
  EXPECT_EQ(page.interactions[0], MapInteraction::transfer({"a", "b"}, 2, 5));

  // A selection whose transfer would reach the message limit shows a hint and posts nothing.
  MapView large = view;
  for (int i = 0; i < 40; ++i) {
    MapPin extra{std::string(200, 'x') + std::to_string(i), "Заказ", "", MapPoint{55.7, 37.6}};
    extra.movable = extra.selected = true;
    large.content.pins.push_back(extra);
  }
  web.update(large);
  ASSERT_TRUE(spinUntil([&] { return evaluate(web.webView(), "document.querySelectorAll('.pin').length") == "43"; }));
  evaluate(web.webView(), dragScript(0, 2));
  ASSERT_TRUE(spinUntil([&] { return evaluate(web.webView(), "document.getElementById('hint').hidden") == "false"; }));
  EXPECT_EQ(evaluate(web.webView(), "document.getElementById('hint').textContent"),
            "Слишком много точек для одного переноса. Выберите меньше точек и повторите.");

  // While editing, a drag of a movable pin moves it to where it was dropped.
  MapView editing = view;
  editing.content.transferring = false;
  editing.content.editing = true;
  web.update(editing);
  ASSERT_TRUE(spinUntil([&] { return evaluate(web.webView(), "document.querySelectorAll('.pin').length") == "3"; }));
  evaluate(web.webView(), dragScript(1, 2));
  ASSERT_TRUE(spinUntil([&] { return page.interactions.size() == 2; }));
  const auto* move = page.interactions[1].as<MapInteraction::Move>();
  ASSERT_NE(move, nullptr);
  EXPECT_EQ(move->id, "b");
  EXPECT_GT(move->point.lon, 37.0) << "the stand-in's unprojection of the drop point";
  EXPECT_FALSE(page.has("error"));
}

class MapSurfaceDisplay : public MapDisplay {
 protected:
  std::shared_ptr<AppModel> model_ = AppModel::create();
};

TEST_F(MapSurfaceDisplay, DemoShowsTheUnavailableViewWithoutAWebView) {
  model_->setPreview(true);
  auto* surface = Gtk::make_managed<TwoGISSurface>(model_, nullptr);
  show(GTK_WIDGET(surface->gobj()), 700, 420);
  ASSERT_TRUE(spinUntil([&] { return !model_->mapConfiguration().isNull(); }));
  spinFor(200ms);
  EXPECT_EQ(surface->webView(), nullptr);
  EXPECT_NE(dorvik::testing::findLabel(GTK_WIDGET(surface->gobj()), kMapPreviewText), nullptr);
  dorvik::testing::savePNG(GTK_WIDGET(surface->gobj()), "map-unavailable");
}

TEST_F(MapSurfaceDisplay, PageFailureShowsTheRetryPanelInADialogSizedAreaAndRetryRebuilds) {
  dorvik::testing::StandInServer server;
  dorvik::testing::scriptMapSettings(server, JSONValue::object({{"key", "test-key"}}));
  model_->setApi(dorvik::testing::signedInClient(server));
  model_->setMapConfiguration(JSONValue::object({{"key", "test-key"}}));

  // A dialog's 260 px map beside a full-size one: two surfaces at once.
  auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
  auto* small = Gtk::make_managed<TwoGISSurface>(model_, nullptr);
  small->set_size_request(420, 260);
  small->set_vexpand(false);
  small->set_valign(Gtk::Align::START);
  auto* large = Gtk::make_managed<TwoGISSurface>(model_, nullptr);
  cutOff(small->webView()->webView());
  cutOff(large->webView()->webView());
  box->append(*small);
  box->append(*large);
  show(GTK_WIDGET(box->gobj()), 1000, 600);

  auto failed = [](TwoGISSurface* s) { return s->look().panel == std::optional<std::string>(kMapPageFailed); };
  ASSERT_TRUE(spinUntil([&] { return failed(small) && failed(large); }, 40s));
  spinFor(200ms);
  EXPECT_EQ(small->get_height(), 260);
  GtkWidget* retry = dorvik::testing::findButton(GTK_WIDGET(small->gobj()), kMapRetry);
  ASSERT_NE(retry, nullptr);
  graphene_rect_t bounds;
  ASSERT_TRUE(gtk_widget_compute_bounds(retry, GTK_WIDGET(small->gobj()), &bounds));
  EXPECT_GE(bounds.origin.y, 0);
  EXPECT_LE(bounds.origin.y + bounds.size.height, 260) << "the panel fits the dialog's map";
  EXPECT_FALSE(small->look().loadingCard || small->look().controls);
  dorvik::testing::savePNG(GTK_WIDGET(small->gobj()), "map-retry-panel");

  const std::string identity = small->state().reloadID();
  g_signal_emit_by_name(retry, "clicked");
  EXPECT_NE(small->state().reloadID(), identity);
  EXPECT_NE(small->webView(), nullptr);
  EXPECT_FALSE(small->look().panel.has_value()) << "the retry clears the page's failure";
  EXPECT_TRUE(small->look().loadingCard);
  ASSERT_TRUE(spinUntil([&] { return server.hits("GET", "/keys/map") == 1; }));
}

// The cards over a map (loading, failure) lie on the map page, which is light in either theme: in light and in
// dark their text stands out from them (build/screens/map-card-light.png, map-card-dark.png).
TEST_F(MapSurfaceDisplay, TheCardsOverTheMapPageReadInLightAndDark) {
  char folder[] = "/tmp/dorvik-map-XXXXXX";
  ASSERT_NE(g_mkdtemp(folder), nullptr);
  auto defaults = std::make_shared<UserDefaults>(std::string(folder) + "/settings.ini");
  Appearance appearance(defaults);
  dorvik::testing::StandInServer server;
  dorvik::testing::scriptMapSettings(server, JSONValue::object({{"key", "test-key"}}));
  model_->setApi(dorvik::testing::signedInClient(server));
  model_->setMapConfiguration(JSONValue::object({{"key", "test-key"}}));
  auto* surface = Gtk::make_managed<TwoGISSurface>(model_, nullptr);
  cutOff(surface->webView()->webView());
  GtkWidget* area = GTK_WIDGET(surface->gobj());
  show(area, 700, 420);
  ASSERT_TRUE(spinUntil([&] { return surface->look().panel.has_value(); }, 40s));
  GtkWidget* card = dorvik::testing::findWidget(
      area, [](GtkWidget* w) { return gtk_widget_has_css_class(w, "map-card") && gtk_widget_get_visible(w); });
  GtkWidget* text = dorvik::testing::findLabel(area, kMapPageFailed);
  ASSERT_TRUE(card && text);
  for (const char* scheme : {"light", "dark"}) {
    ASSERT_TRUE(defaults->setString("appearance", scheme));
    spinFor(300ms);
    graphene_rect_t bounds;
    ASSERT_TRUE(gtk_widget_compute_bounds(card, area, &bounds));
    // The card's own colour beside its text, and the text's.
    const GdkRGBA background = dorvik::testing::pixelAt(area, static_cast<int>(bounds.origin.x) + 8,
                                                        static_cast<int>(bounds.origin.y + bounds.size.height / 2));
    GdkRGBA foreground;
    gtk_style_context_get_color(gtk_widget_get_style_context(text), &foreground);
    EXPECT_GE(dorvik::testing::contrastRatio(foreground, background), 4.5) << scheme;
    dorvik::testing::savePNG(area, std::string("map-card-") + scheme);
  }
  std::filesystem::remove_all(folder);
}
