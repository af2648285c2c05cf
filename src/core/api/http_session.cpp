#include "core/api/http_session.h"

#include <gio/gio.h>
#include <libsoup/soup.h>

#include <algorithm>
#include <coroutine>

#include "core/api/transport_error.h"
#include "core/api/uri.h"
#include "core/async/context.h"

namespace dorvik {

namespace {

constexpr int kMaxRedirects = 16;
constexpr auto kUriFlags = static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS);

template <class T>
struct GObjectDeleter {
  void operator()(T* p) const {
    if (p) g_object_unref(p);
  }
};
template <class T>
using GObjectPtr = std::unique_ptr<T, GObjectDeleter<T>>;

UriPtr parseUri(const std::string& text) { return dorvik::parseUri(text, kUriFlags); }

int effectivePort(GUri* uri) {
  const int port = g_uri_get_port(uri);
  if (port > 0) return port;
  const char* scheme = g_uri_get_scheme(uri);
  return scheme && g_ascii_strcasecmp(scheme, "https") == 0 ? 443 : 80;
}

bool sameOrigin(GUri* a, GUri* b) {
  const char* sa = g_uri_get_scheme(a);
  const char* sb = g_uri_get_scheme(b);
  const char* ha = g_uri_get_host(a);
  const char* hb = g_uri_get_host(b);
  if (!sa || !sb || !ha || !hb) return false;
  return g_ascii_strcasecmp(sa, sb) == 0 && g_ascii_strcasecmp(ha, hb) == 0 && effectivePort(a) == effectivePort(b);
}

// The outcome of one soup_session_send_and_read_async, handed back to the waiting coroutine on its context.
struct SendState {
  std::coroutine_handle<> handle;
  GMainContext* context = nullptr;
  GBytes* bytes = nullptr;
  GError* error = nullptr;
  ~SendState() {
    if (bytes) g_bytes_unref(bytes);
    if (error) g_error_free(error);
  }
};

class SendAwaitable {
 public:
  SendAwaitable(SoupSession* session, SoupMessage* message, GCancellable* cancellable)
      : session_(session), message_(message), cancellable_(cancellable), state_(std::make_shared<SendState>()) {}
  void bindEnv(const async::Env& env) { env_ = env; }
  bool await_ready() const noexcept { return false; }
  void await_suspend(std::coroutine_handle<> h) {
    state_->handle = h;
    state_->context = env_.context ? env_.context : async::currentContext();
    // GIO always calls back, also after cancellation, so the state lives until then.
    auto* hold = new std::shared_ptr<SendState>(state_);
    soup_session_send_and_read_async(
        session_, message_, G_PRIORITY_DEFAULT, cancellable_,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          std::unique_ptr<std::shared_ptr<SendState>> state(static_cast<std::shared_ptr<SendState>*>(data));
          (*state)->bytes = soup_session_send_and_read_finish(SOUP_SESSION(source), result, &(*state)->error);
          auto keep = *state;
          async::post(keep->context, [keep] { keep->handle.resume(); });
        },
        hold);
  }
  std::shared_ptr<SendState> await_resume() { return std::move(state_); }

 private:
  SoupSession* session_;
  SoupMessage* message_;
  GCancellable* cancellable_;
  std::shared_ptr<SendState> state_;
  async::Env env_;
};

// One transfer's own cancellable: cancelled by the caller's token or by the transfer's deadline, and the
// deadline remembered so that it reads as a time-out rather than a cancellation.
class Transfer {
 public:
  Transfer(const async::CancelToken& token, std::chrono::milliseconds total, GMainContext* context)
      : cancellable_(g_cancellable_new()), timedOut_(std::make_shared<bool>(false)) {
    std::shared_ptr<GCancellable> shared(G_CANCELLABLE(g_object_ref(cancellable_.get())),
                                         [](GCancellable* c) { g_object_unref(c); });
    subscription_ = token.onCancel([shared] { g_cancellable_cancel(shared.get()); });

    const auto ms = static_cast<guint>(std::clamp<std::int64_t>(total.count(), 1, G_MAXUINT));
    deadline_ = g_timeout_source_new(ms);
    struct Payload {
      std::shared_ptr<GCancellable> cancellable;
      std::shared_ptr<bool> timedOut;
    };
    g_source_set_callback(
        deadline_,
        [](gpointer data) -> gboolean {
          auto* p = static_cast<Payload*>(data);
          *p->timedOut = true;
          g_cancellable_cancel(p->cancellable.get());
          return G_SOURCE_REMOVE;
        },
        new Payload{shared, timedOut_}, [](gpointer data) { delete static_cast<Payload*>(data); });
    g_source_attach(deadline_, context);
  }
  ~Transfer() {
    subscription_.reset();
    g_source_destroy(deadline_);
    g_source_unref(deadline_);
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  GCancellable* cancellable() const { return cancellable_.get(); }
  bool timedOut() const { return *timedOut_; }

 private:
  GObjectPtr<GCancellable> cancellable_;
  std::shared_ptr<bool> timedOut_;
  async::CancelToken::Subscription subscription_;
  GSource* deadline_ = nullptr;
};

bool isRedirect(guint status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

struct HttpSession::Impl {
  GObjectPtr<SoupSession> session;
  GObjectPtr<GTlsCertificate> trusted;
};

HttpSession::HttpSession(HttpTimeouts timeouts, const std::string& trustedCertificatePEM)
    : timeouts_(timeouts), impl_(std::make_unique<Impl>()) {
  const auto idle = static_cast<guint>(std::clamp<std::int64_t>(timeouts.idle.count(), 1, G_MAXUINT));
  // A new session carries no cookie jar and no cache; only the content decoder and the authentication manager
  // come by default, and the latter goes: a 401 is the client's own business (it renews its tokens).
  impl_->session.reset(soup_session_new_with_options("timeout", idle, "max-conns-per-host", 6, nullptr));
  soup_session_remove_feature_by_type(impl_->session.get(), SOUP_TYPE_AUTH_MANAGER);
  if (!trustedCertificatePEM.empty()) {
    GError* error = nullptr;
    GTlsCertificate* cert = g_tls_certificate_new_from_pem(trustedCertificatePEM.c_str(), -1, &error);
    if (error) {
      g_warning("The certificate to trust cannot be read: %s", error->message);
      g_error_free(error);
    }
    impl_->trusted.reset(cert);
  }
}

HttpSession::~HttpSession() = default;

async::Task<HttpAnswer> HttpSession::send(HttpRequest request) {
  async::CancelToken token = co_await async::currentToken();
  token.throwIfCancelled();

  UriPtr origin = parseUri(request.url);
  if (!origin) throw TransportError(TransportError::Code::Unknown, "unparsable address: " + request.url);

  Transfer transfer(token, timeouts_.total, async::currentContext());
  UriPtr current(g_uri_ref(origin.get()));
  std::string method = request.method;
  std::optional<std::string> body = request.body;

  for (int hop = 0;; ++hop) {
    GObjectPtr<SoupMessage> message(soup_message_new_from_uri(method.c_str(), current.get()));
    soup_message_add_flags(message.get(), SOUP_MESSAGE_NO_REDIRECT);
    SoupMessageHeaders* headers = soup_message_get_request_headers(message.get());
    for (const auto& [name, value] : request.headers) {
      if (!body && g_ascii_strcasecmp(name.c_str(), "Content-Type") == 0) continue;
      soup_message_headers_append(headers, name.c_str(), value.c_str());
    }
    if (body) {
      GBytes* bytes = g_bytes_new(body->data(), body->size());
      soup_message_set_request_body_from_bytes(message.get(), nullptr, bytes);
      g_bytes_unref(bytes);
    }
    if (impl_->trusted) {
      g_signal_connect(message.get(), "accept-certificate",
                       G_CALLBACK(+[](SoupMessage*, GTlsCertificate* peer, GTlsCertificateFlags errors,
                                      gpointer trusted) -> gboolean {
                         const auto tolerated = static_cast<int>(G_TLS_CERTIFICATE_UNKNOWN_CA);
                         return (static_cast<int>(errors) & ~tolerated) == 0 &&
                                g_tls_certificate_is_same(peer, G_TLS_CERTIFICATE(trusted));
                       }),
                       impl_->trusted.get());
    }

    std::shared_ptr<SendState> sent =
        co_await SendAwaitable(impl_->session.get(), message.get(), transfer.cancellable());
    if (sent->error) {
      if (transfer.timedOut() && g_error_matches(sent->error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
        throw TransportError(TransportError::Code::TimedOut, "the transfer took longer than its limit");
      }
      throw TransportError::fromGError(sent->error);
    }

    const guint status = soup_message_get_status(message.get());
    const char* location = soup_message_headers_get_one(soup_message_get_response_headers(message.get()), "Location");
    if (isRedirect(status) && location) {
      GError* error = nullptr;
      UriPtr target(g_uri_parse_relative(current.get(), location, kUriFlags, &error));
      if (error) g_error_free(error);
      if (target && sameOrigin(target.get(), origin.get())) {
        if (hop + 1 >= kMaxRedirects) throw TransportError(TransportError::Code::TooManyRedirects);
        const bool toGet =
            (status == 303 && method != "HEAD") || ((status == 301 || status == 302) && method == "POST");
        if (toGet) {
          method = "GET";
          body.reset();
        }
        current = std::move(target);
        continue;
      }
      // Another origin: not followed; the redirect answer itself is the outcome.
    }

    HttpAnswer answer;
    answer.status = static_cast<int>(status);
    if (sent->bytes) {
      gsize size = 0;
      const auto* data = static_cast<const char*>(g_bytes_get_data(sent->bytes, &size));
      if (size > 0) answer.body.assign(data, size);
    }
    co_return answer;
  }
}

}  // namespace dorvik
