#include "map/map_web_view.h"

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <filesystem>

#include "core/base/bundles.h"
#include "widgets/gtk_helpers.h"

namespace dorvik {

namespace {

constexpr const char* kHandler = "dorvikMap";
constexpr const char* kUpdateCall = "return window.DorvikMap.update(JSON.parse(payload));";

std::vector<std::string>& processScripts() {
  static std::vector<std::string> scripts;
  return scripts;
}

}  // namespace

std::string mapPagePath() {
  const auto resources = bundleResources(kAppBundle);
  if (!resources) return {};
  const std::filesystem::path page = *resources / "Map" / "Map.html";
  std::error_code ec;
  return std::filesystem::is_regular_file(page, ec) ? page.string() : std::string();
}

void addMapPageScript(std::string source) { processScripts().push_back(std::move(source)); }

struct TwoGISWebView::State {
  std::shared_ptr<MapBridge> bridge;
  WebKitWebView* view = nullptr;  // one reference of our own
  WebKitUserContentManager* content = nullptr;
  GCancellable* cancellable = nullptr;
  std::string pageURI;
  std::function<void(const std::string&)> openExternally;

  void send(const std::string& payload) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&builder, "{sv}", "payload", g_variant_new_string(payload.c_str()));
    // The completion holds the bridge weakly: a call that ends after the view is gone does nothing.
    auto* weak = new std::weak_ptr<MapBridge>(bridge);
    webkit_web_view_call_async_javascript_function(
        view, kUpdateCall, -1, g_variant_builder_end(&builder), nullptr, nullptr, cancellable,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          std::unique_ptr<std::weak_ptr<MapBridge>> weak(static_cast<std::weak_ptr<MapBridge>*>(data));
          GError* error = nullptr;
          JSCValue* value =
              webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error);
          if (value) g_object_unref(value);
          if (!error) return;
          const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
          g_error_free(error);
          if (auto bridge = weak->lock(); bridge && !cancelled) bridge->callFailed();
        },
        weak);
  }

  void open(const std::string& uri) {
    if (openExternally) {
      openExternally(uri);
      return;
    }
    GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(view));
    gtk_show_uri(GTK_IS_WINDOW(root) ? GTK_WINDOW(root) : nullptr, uri.c_str(), GDK_CURRENT_TIME);
  }

  // Signal handlers; `self` is the State, disconnected before it goes.
  static void onMessage(WebKitUserContentManager*, JSCValue* value, gpointer self) {
    auto* state = static_cast<State*>(self);
    const std::shared_ptr<MapBridge> bridge = state->bridge;  // a handler may replace the view
    PageMessage message;
    const char* current = webkit_web_view_get_uri(state->view);
    message.fromPage = current && sameFileURL(current, state->pageURI);
    message.objectOrArray = jsc_value_is_object(value) || jsc_value_is_array(value);
    if (message.fromPage && message.objectOrArray) {
      if (char* json = jsc_value_to_json(value, 0)) {
        message.json = json;
        g_free(json);
      }
    }
    bridge->receive(message);
  }

  static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    auto* state = static_cast<State*>(self);
    const std::shared_ptr<MapBridge> bridge = state->bridge;
    if (event == WEBKIT_LOAD_STARTED) bridge->loadStarted();
    if (event == WEBKIT_LOAD_FINISHED) bridge->loadFinished();
  }

  static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, char*, GError* error, gpointer self) {
    auto* state = static_cast<State*>(self);
    const std::shared_ptr<MapBridge> bridge = state->bridge;
    const bool ours =
        g_error_matches(error, WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) ||
        g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED);
    bridge->loadFailed(ours);
    return TRUE;  // no error page: the surface shows its own panel
  }

  static void onProcessEnded(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self) {
    auto* state = static_cast<State*>(self);
    const std::shared_ptr<MapBridge> bridge = state->bridge;
    bridge->processEnded();
  }

  // The keyboard on the map, before the page sees it. The page would take Tab and Shift+Tab for its own elements
  // (the map library's tiles and links, none of them shown as focused), so they leave the map for the window's next
  // or previous control instead. A key with Ctrl or Alt is the window's first (its shortcuts: undo, find, open,
  // save): the page sees it only when the window has no use for it. Arrows, paging and plain keys stay the page's.
  static gboolean onKey(GtkEventControllerKey* keys, guint keyval, guint, GdkModifierType modifiers, gpointer) {
    GtkWidget* view = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(keys));
    switch (keyval) {
      case GDK_KEY_Tab:
      case GDK_KEY_KP_Tab:
      case GDK_KEY_ISO_Left_Tab:
        return leaveFocus(view, keyval == GDK_KEY_ISO_Left_Tab || (modifiers & GDK_SHIFT_MASK) ? GTK_DIR_TAB_BACKWARD
                                                                                                 : GTK_DIR_TAB_FORWARD);
      case GDK_KEY_Up:
      case GDK_KEY_Down:
      case GDK_KEY_Left:
      case GDK_KEY_Right:
      case GDK_KEY_Home:
      case GDK_KEY_End:
      case GDK_KEY_Page_Up:
      case GDK_KEY_Page_Down:
        return FALSE;
      default:
        break;
    }
    GtkRoot* root = gtk_widget_get_root(view);
    if (!root || !(modifiers & (GDK_CONTROL_MASK | GDK_ALT_MASK))) return FALSE;
    return gtk_event_controller_key_forward(keys, GTK_WIDGET(root));
  }

  // The web view keeps widgets of its own inside it (a text view that reads key bindings) that Shift+Tab would
  // otherwise step into: the focus that enters the map stays on the map itself, where the page gets the keys.
  static void onFocusEnter(GtkEventControllerFocus* focus, gpointer) {
    if (gtk_event_controller_focus_is_focus(focus)) return;
    // Once the focus change is over.
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
          auto* view = static_cast<GtkWidget*>(data);
          GtkRoot* root = gtk_widget_get_root(view);
          GtkWidget* inner = root ? gtk_root_get_focus(root) : nullptr;
          if (inner && inner != view && gtk_widget_is_ancestor(inner, view)) gtk_widget_grab_focus(view);
          return G_SOURCE_REMOVE;
        },
        g_object_ref(gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(focus))), g_object_unref);
  }

  static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                 gpointer self) {
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
      return FALSE;
    auto* state = static_cast<State*>(self);
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    const bool link = webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED;
    // WebKitGTK does not say whether a navigation targets the main frame or a sub-frame; a new window never
    // does. A sub-frame can thus at most load the page itself again, which is harmless.
    const bool mainFrame = type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION;
    const NavigationDecision outcome =
        uri ? decideNavigation(uri, mainFrame, link, state->pageURI) : NavigationDecision::cancel;
    if (outcome == NavigationDecision::allow) {
      webkit_policy_decision_use(decision);
      return TRUE;
    }
    webkit_policy_decision_ignore(decision);
    if (outcome == NavigationDecision::openExternally) state->open(uri);
    return TRUE;
  }
};

TwoGISWebView::TwoGISWebView(MapView view, MapPageOptions options) : state_(std::make_unique<State>()) {
  State* state = state_.get();
  state->bridge = std::make_shared<MapBridge>(std::move(view));
  state->openExternally = std::move(options.openExternally);
  state->bridge->setSender([state](const std::string& payload) { state->send(payload); });
  state->cancellable = g_cancellable_new();

  WebKitNetworkSession* session = webkit_network_session_new_ephemeral();
  state->content = webkit_user_content_manager_new();
  state->view = WEBKIT_WEB_VIEW(
      g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", session, "user-content-manager", state->content, nullptr));
  g_object_ref_sink(state->view);
  g_object_unref(session);

  webkit_user_content_manager_register_script_message_handler(state->content, kHandler, nullptr);
  g_signal_connect(state->content, "script-message-received::dorvikMap", G_CALLBACK(State::onMessage), state);
  std::vector<std::string> scripts = processScripts();
  scripts.insert(scripts.end(), options.userScripts.begin(), options.userScripts.end());
  for (const std::string& source : scripts) {
    WebKitUserScript* script = webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(state->content, script);
    webkit_user_script_unref(script);
  }

  WebKitSettings* settings = webkit_web_view_get_settings(state->view);
  webkit_settings_set_enable_back_forward_navigation_gestures(settings, FALSE);
  gtk_accessible_update_property(GTK_ACCESSIBLE(state->view), GTK_ACCESSIBLE_PROPERTY_LABEL, "Карта 2ГИС", -1);
  gtk_widget_set_hexpand(GTK_WIDGET(state->view), TRUE);
  gtk_widget_set_vexpand(GTK_WIDGET(state->view), TRUE);

  GtkEventController* keys = gtk_event_controller_key_new();
  gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
  g_signal_connect(keys, "key-pressed", G_CALLBACK(State::onKey), nullptr);
  gtk_widget_add_controller(GTK_WIDGET(state->view), keys);
  GtkEventController* focus = gtk_event_controller_focus_new();
  g_signal_connect(focus, "enter", G_CALLBACK(State::onFocusEnter), nullptr);
  gtk_widget_add_controller(GTK_WIDGET(state->view), focus);

  g_signal_connect(state->view, "load-changed", G_CALLBACK(State::onLoadChanged), state);
  g_signal_connect(state->view, "load-failed", G_CALLBACK(State::onLoadFailed), state);
  g_signal_connect(state->view, "web-process-terminated", G_CALLBACK(State::onProcessEnded), state);
  g_signal_connect(state->view, "decide-policy", G_CALLBACK(State::onDecidePolicy), state);
  // The page's own menu only: the web view's (reload, inspect) has no place on a map.
  g_signal_connect(
      state->view, "context-menu",
      G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer) { return TRUE; }),
      nullptr);

  const std::string path = options.pagePath.empty() ? mapPagePath() : options.pagePath;
  std::error_code ec;
  if (!path.empty() && std::filesystem::is_regular_file(path, ec)) {
    if (gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr)) {
      state->pageURI = uri;
      g_free(uri);
    }
  }
  if (state->pageURI.empty()) {
    // Without the page there is no map: the surface learns it as a failed load, on the next turn of the loop
    // (unless the view is gone by then).
    auto* weak = new std::weak_ptr<MapBridge>(state->bridge);
    g_idle_add_full(
        G_PRIORITY_DEFAULT_IDLE,
        [](gpointer data) -> gboolean {
          if (auto bridge = static_cast<std::weak_ptr<MapBridge>*>(data)->lock()) bridge->loadFailed(false);
          return G_SOURCE_REMOVE;
        },
        weak, [](gpointer data) { delete static_cast<std::weak_ptr<MapBridge>*>(data); });
    return;
  }
  webkit_web_view_load_uri(state->view, state->pageURI.c_str());
}

TwoGISWebView::~TwoGISWebView() {
  State* state = state_.get();
  state->bridge->stop();
  g_cancellable_cancel(state->cancellable);
  g_signal_handlers_disconnect_by_data(state->content, state);
  g_signal_handlers_disconnect_by_data(state->view, state);
  webkit_user_content_manager_unregister_script_message_handler(state->content, kHandler, nullptr);
  webkit_web_view_stop_loading(state->view);
  GtkWidget* widget = GTK_WIDGET(state->view);
  if (gtk_widget_get_parent(widget)) gtk_widget_unparent(widget);
  g_object_unref(state->content);
  g_object_unref(state->view);
  g_object_unref(state->cancellable);
}

GtkWidget* TwoGISWebView::widget() const { return GTK_WIDGET(state_->view); }
WebKitWebView* TwoGISWebView::webView() const { return state_->view; }
const std::string& TwoGISWebView::pageURI() const { return state_->pageURI; }

void TwoGISWebView::update(MapView view) { state_->bridge->update(std::move(view)); }
void TwoGISWebView::setParent(MapView view) { state_->bridge->setParent(std::move(view)); }
void TwoGISWebView::sendLatest() { state_->bridge->sendLatest(); }
const MapBridge& TwoGISWebView::bridge() const { return *state_->bridge; }

}  // namespace dorvik
