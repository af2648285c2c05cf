#include "support/stand_in_server.h"

#include <gio/gio.h>
#include <glib.h>
#include <libsoup/soup.h>

#include <algorithm>
#include <stdexcept>

namespace dorvik::testing {

namespace {
bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && g_ascii_strncasecmp(a.data(), b.data(), a.size()) == 0;
}
}  // namespace

std::string Hit::header(std::string_view name) const {
  for (const auto& [n, v] : headers) {
    if (sameName(n, name)) return v;
  }
  return {};
}

bool Hit::hasHeader(std::string_view name) const {
  return std::any_of(headers.begin(), headers.end(), [&](const auto& h) { return sameName(h.first, name); });
}

JSONValue Hit::json() const { return body.empty() ? JSONValue() : JSONValue::decode(body); }

std::string Hit::queryValue(std::string_view name) const {
  std::size_t at = 0;
  while (at <= query.size()) {
    const std::size_t end = std::min(query.find('&', at), query.size());
    const std::string_view part = std::string_view(query).substr(at, end - at);
    if (part.size() > name.size() && part.starts_with(name) && part[name.size()] == '=')
      return std::string(part.substr(name.size() + 1));
    at = end + 1;
  }
  return {};
}

Answer Answer::json(const JSONValue& value, int status) {
  Answer a;
  a.status = status;
  a.body = value.data();
  return a;
}

Answer Answer::error(int status, std::string_view message) {
  return json(JSONValue::object({{"error", JSONValue::object({{"message", JSONValue(message)}})}}), status);
}

Answer Answer::empty(int status) {
  Answer a;
  a.status = status;
  return a;
}

Answer Answer::dropped() {
  Answer a;
  a.drop = true;
  return a;
}

struct StandInServer::Impl {
  SoupServer* server = nullptr;
  int port = 0;
  bool tls = false;
  bool listening = false;
  std::map<std::string, Handler> script;    // "METHOD path" or "METHOD path?query"
  std::map<std::string, Handler> prefixes;  // "METHOD prefix"
  std::vector<Hit> hits;
  std::map<std::string, int> answersToLose;  // method → how many of its next answers

  struct Held {
    std::string path;
    SoupServerMessage* message;  // referenced
    Answer answer;
    bool gone = false;
  };
  std::vector<std::shared_ptr<Held>> held;
  std::vector<guint> timers;

  // Closes the message's connection at once; whatever was to be sent is discarded.
  static void hangUp(SoupServerMessage* msg) {
    if (GIOStream* stream = soup_server_message_steal_connection(msg)) {
      g_io_stream_close(stream, nullptr, nullptr);
      g_object_unref(stream);
    }
  }

  static void respond(SoupServerMessage* msg, const Answer& answer) {
    soup_server_message_set_status(msg, static_cast<guint>(answer.status), nullptr);
    SoupMessageHeaders* headers = soup_server_message_get_response_headers(msg);
    for (const auto& [name, value] : answer.headers) soup_message_headers_append(headers, name.c_str(), value.c_str());
    if (!answer.body.empty()) {
      const char* type = answer.contentType.empty() ? "application/octet-stream" : answer.contentType.c_str();
      soup_server_message_set_response(msg, type, SOUP_MEMORY_COPY, answer.body.data(), answer.body.size());
    }
  }

  Answer answerFor(const Hit& hit) {
    const std::string base = hit.method + " " + hit.path;
    auto it = hit.query.empty() ? script.end() : script.find(base + "?" + hit.query);
    if (it == script.end()) it = script.find(base);
    if (it != script.end()) return it->second(hit);
    // The longest scripted prefix of the path ("/orders/" answers "/orders/17").
    const Handler* under = nullptr;
    std::size_t longest = 0;
    for (const auto& [key, handler] : prefixes) {
      if (base.starts_with(key) && key.size() > longest) {
        under = &handler;
        longest = key.size();
      }
    }
    if (under) return (*under)(hit);
    return Answer::error(404, "not scripted: " + base);
  }

  void handle(SoupServerMessage* msg) {
    Hit hit;
    hit.arrived = std::chrono::steady_clock::now();
    hit.method = soup_server_message_get_method(msg);
    GUri* uri = soup_server_message_get_uri(msg);
    hit.path = g_uri_get_path(uri);
    if (const char* q = g_uri_get_query(uri)) hit.query = q;
    soup_message_headers_foreach(
        soup_server_message_get_request_headers(msg),
        [](const char* name, const char* value, gpointer data) {
          static_cast<Hit*>(data)->headers.emplace_back(name, value);
        },
        &hit);
    SoupMessageBody* body = soup_server_message_get_request_body(msg);
    GBytes* bytes = soup_message_body_flatten(body);
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    if (size > 0) hit.body.assign(data, size);
    g_bytes_unref(bytes);
    if (GSocketAddress* remote = soup_server_message_get_remote_address(msg); G_IS_INET_SOCKET_ADDRESS(remote)) {
      hit.remotePort = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(remote));
    }
    hits.push_back(hit);

    Answer answer = answerFor(hit);
    if (auto lost = answersToLose.find(hit.method); lost != answersToLose.end() && lost->second > 0) {
      --lost->second;
      answer = Answer::dropped();
    }
    if (!answer.hold && answer.delay.count() <= 0) {
      if (answer.drop) {
        hangUp(msg);
      } else {
        respond(msg, answer);
      }
      return;
    }
    auto entry = std::make_shared<Held>(Held{hit.path, SOUP_SERVER_MESSAGE(g_object_ref(msg)), answer});
    g_signal_connect_data(
        msg, "disconnected", G_CALLBACK(+[](SoupServerMessage*, gpointer data) {
          (*static_cast<std::shared_ptr<Held>*>(data))->gone = true;
        }),
        new std::shared_ptr<Held>(entry),
        [](gpointer data, GClosure*) { delete static_cast<std::shared_ptr<Held>*>(data); }, GConnectFlags(0));
    soup_server_message_pause(msg);
    if (answer.hold) {
      held.push_back(entry);
      return;
    }
    struct Later {
      Impl* impl;
      std::shared_ptr<Held> entry;
    };
    auto* later = new Later{this, entry};
    guint id = g_timeout_add_full(
        G_PRIORITY_DEFAULT, static_cast<guint>(answer.delay.count()),
        [](gpointer data) -> gboolean {
          auto* l = static_cast<Later*>(data);
          auto& timers = l->impl->timers;
          timers.erase(std::remove(timers.begin(), timers.end(), g_source_get_id(g_main_current_source())),
                       timers.end());
          finish(*l->entry);
          return G_SOURCE_REMOVE;
        },
        later, [](gpointer data) { delete static_cast<Later*>(data); });
    timers.push_back(id);
  }

  static void finish(Held& entry) {
    if (!entry.gone && entry.answer.drop) {
      hangUp(entry.message);
    } else if (!entry.gone) {
      respond(entry.message, entry.answer);
      soup_server_message_unpause(entry.message);
    }
    g_object_unref(entry.message);
    entry.message = nullptr;
  }

  void listen(GTlsCertificate* certificate) {
    server = certificate ? soup_server_new("tls-certificate", certificate, nullptr) : soup_server_new(nullptr, nullptr);
    tls = certificate != nullptr;
    soup_server_add_handler(
        server, nullptr,
        [](SoupServer*, SoupServerMessage* msg, const char*, GHashTable*, gpointer self) {
          static_cast<Impl*>(self)->handle(msg);
        },
        this, nullptr);
    listenOn(0);
  }

  // Listens on the port (0: a free one) and learns which it is.
  void listenOn(int wanted) {
    GError* error = nullptr;
    auto options =
        static_cast<SoupServerListenOptions>(SOUP_SERVER_LISTEN_IPV4_ONLY | (tls ? SOUP_SERVER_LISTEN_HTTPS : 0));
    if (!soup_server_listen_local(server, static_cast<guint>(wanted), options, &error)) {
      std::string message = error->message;
      g_error_free(error);
      throw std::runtime_error("stand-in server cannot listen: " + message);
    }
    listening = true;
    GSList* uris = soup_server_get_uris(server);
    if (uris) port = g_uri_get_port(static_cast<GUri*>(uris->data));
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
  }
};

StandInServer::StandInServer() : impl_(std::make_unique<Impl>()) { impl_->listen(nullptr); }

void StandInServer::loseNextAnswer(std::string method) { ++impl_->answersToLose[std::move(method)]; }

void StandInServer::stop() {
  if (!impl_->listening) return;
  soup_server_disconnect(impl_->server);
  impl_->listening = false;
}

void StandInServer::resume() {
  if (impl_->listening) return;
  impl_->listenOn(impl_->port);
}

StandInServer::StandInServer(const TLS& tls) : impl_(std::make_unique<Impl>()) {
  GError* error = nullptr;
  const std::string pem = tls.certificatePEM + "\n" + tls.keyPEM;
  GTlsCertificate* certificate = g_tls_certificate_new_from_pem(pem.c_str(), -1, &error);
  if (!certificate) {
    std::string message = error ? error->message : "unknown";
    if (error) g_error_free(error);
    throw std::runtime_error("test certificate unreadable: " + message);
  }
  impl_->listen(certificate);
  g_object_unref(certificate);
}

StandInServer::~StandInServer() {
  for (guint id : impl_->timers) g_source_remove(id);
  for (auto& entry : impl_->held) {
    if (entry->message) g_object_unref(entry->message);
    entry->message = nullptr;
  }
  soup_server_disconnect(impl_->server);
  g_object_unref(impl_->server);
}

int StandInServer::port() const { return impl_->port; }

std::string StandInServer::url() const {
  return std::string(impl_->tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(impl_->port);
}

void StandInServer::on(std::string method, std::string path, Answer answer) {
  impl_->script[method + " " + path] = [answer](const Hit&) { return answer; };
}

void StandInServer::on(std::string method, std::string path, Handler handler) {
  impl_->script[method + " " + path] = std::move(handler);
}

void StandInServer::onPrefix(std::string method, std::string prefix, Handler handler) {
  impl_->prefixes[method + " " + prefix] = std::move(handler);
}

std::size_t StandInServer::hits(std::string_view path) const {
  return static_cast<std::size_t>(
      std::count_if(impl_->hits.begin(), impl_->hits.end(), [&](const Hit& h) { return h.path == path; }));
}

std::size_t StandInServer::hits(std::string_view method, std::string_view path) const {
  return static_cast<std::size_t>(std::count_if(impl_->hits.begin(), impl_->hits.end(),
                                                [&](const Hit& h) { return h.method == method && h.path == path; }));
}

std::vector<Hit> StandInServer::hitsOn(std::string_view path) const {
  std::vector<Hit> out;
  for (const Hit& h : impl_->hits) {
    if (h.path == path) out.push_back(h);
  }
  return out;
}

const std::vector<Hit>& StandInServer::allHits() const { return impl_->hits; }

std::size_t StandInServer::held(std::string_view path) const {
  return static_cast<std::size_t>(std::count_if(impl_->held.begin(), impl_->held.end(),
                                                [&](const auto& e) { return e->path == path && !e->gone; }));
}

std::size_t StandInServer::held() const {
  return static_cast<std::size_t>(
      std::count_if(impl_->held.begin(), impl_->held.end(), [](const auto& e) { return !e->gone; }));
}

void StandInServer::release(std::string_view path) {
  std::vector<std::shared_ptr<Impl::Held>> keep;
  std::vector<std::shared_ptr<Impl::Held>> now;
  for (auto& entry : impl_->held) (entry->path == path ? now : keep).push_back(entry);
  impl_->held = std::move(keep);
  for (auto& entry : now) Impl::finish(*entry);
}

void StandInServer::releaseAll() {
  auto now = std::move(impl_->held);
  impl_->held.clear();
  for (auto& entry : now) Impl::finish(*entry);
}

}  // namespace dorvik::testing
