#include "core/api/http_session.h"

#include <gio/gio.h>
#include <libsoup/soup.h>

#include <algorithm>
#include <coroutine>
#include <functional>
#include <string>

#include "core/api/transport_error.h"
#include "core/api/uri.h"
#include "core/async/context.h"
#include "core/base/errors.h"
#include "core/base/glib_handles.h"

namespace dorvik {

namespace {

constexpr int kMaxRedirects = 16;
constexpr const char* kAnswerTooLarge =
    "Ответ сервера слишком велик (больше 64 МБ). Обратитесь к администратору сервера.";
constexpr auto kUriFlags = static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS);

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

// The outcome of one asynchronous GIO call (sending a message, reading a piece of its answer): finished in the
// call's own callback, so that whatever the call made is owned from then on, and handed back to the waiting
// coroutine on its context. Finishing later would let a cancellation that comes in between turn the outcome into an
// error while the result still holds what the call made: the answer stream of a send, which libsoup cannot then
// release without crashing.
template <class T>
struct Finished {
  T value;
  GErrorPtr error;
};

template <class T>
struct CallState {
  std::coroutine_handle<> handle;
  GMainContext* context = nullptr;
  std::function<T(GAsyncResult*, GError**)> finish;
  Finished<T> outcome;
};

template <class T>
class CallAwaitable {
 public:
  using Start = std::function<void(GAsyncReadyCallback, gpointer)>;
  using Finish = std::function<T(GAsyncResult*, GError**)>;
  CallAwaitable(Start start, Finish finish) : start_(std::move(start)), state_(std::make_shared<CallState<T>>()) {
    state_->finish = std::move(finish);
  }
  void bindEnv(const async::Env& env) { env_ = env; }
  bool await_ready() const noexcept { return false; }
  void await_suspend(std::coroutine_handle<> h) {
    state_->handle = h;
    state_->context = env_.context ? env_.context : async::currentContext();
    // GIO always calls back, also after cancellation, so the state lives until then.
    auto* hold = new std::shared_ptr<CallState<T>>(state_);
    start_(
        [](GObject*, GAsyncResult* result, gpointer data) {
          std::unique_ptr<std::shared_ptr<CallState<T>>> state(static_cast<std::shared_ptr<CallState<T>>*>(data));
          CallState<T>& call = **state;
          GError* raw = nullptr;
          call.outcome.value = call.finish(result, &raw);
          call.outcome.error.reset(raw);
          auto keep = *state;
          async::post(keep->context, [keep] { keep->handle.resume(); });
        },
        hold);
  }
  Finished<T> await_resume() { return std::move(state_->outcome); }

 private:
  Start start_;
  std::shared_ptr<CallState<T>> state_;
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

[[noreturn]] void transportFailure(const Transfer& transfer, const GError* error) {
  if (transfer.timedOut() && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
    throw TransportError(TransportError::Code::TimedOut, "the transfer took longer than its limit");
  }
  throw TransportError::fromGError(error);
}

// The whole answer body as the content decoder hands it out, piece by piece on the main loop, counted as it
// comes: past the limit the transfer is cut off and the answer refused, so an answer that unpacks to gigabytes
// never takes more memory than the limit.
async::Task<std::string> readBody(GInputStream* stream, SoupMessage* message, Transfer& transfer, std::size_t limit) {
  constexpr gsize kPiece = 256 * 1024;
  const auto refuse = [&] {
    g_cancellable_cancel(transfer.cancellable());
    g_input_stream_close(stream, transfer.cancellable(), nullptr);  // cancelled: drops the connection at once
    throw DorvikError(kAnswerTooLarge, 0);
  };
  SoupMessageHeaders* headers = soup_message_get_response_headers(message);
  if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH &&
      !soup_message_headers_get_one(headers, "Content-Encoding") &&
      soup_message_headers_get_content_length(headers) > static_cast<goffset>(limit)) {
    refuse();
  }
  std::string body;
  // A body of known length grows in place, without copies of what has already come.
  if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH &&
      !soup_message_headers_get_one(headers, "Content-Encoding")) {
    body.reserve(static_cast<std::size_t>(soup_message_headers_get_content_length(headers)));
  }
  for (;;) {
    Finished<GBytesPtr> read = co_await CallAwaitable<GBytesPtr>(
        [&](GAsyncReadyCallback done, gpointer data) {
          g_input_stream_read_bytes_async(stream, kPiece, G_PRIORITY_DEFAULT, transfer.cancellable(), done, data);
        },
        [stream](GAsyncResult* result, GError** error) {
          return GBytesPtr(g_input_stream_read_bytes_finish(stream, result, error));
        });
    GBytesPtr piece = std::move(read.value);
    if (!piece) transportFailure(transfer, read.error.get());
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(piece.get(), &size));
    if (size == 0) break;
    if (size > limit - body.size()) refuse();
    body.append(data, size);
  }
  co_return body;
}

// The methods that only read: libsoup may send them again over a fresh connection when a kept one closes.
bool isRead(const std::string& method) { return method == "GET" || method == "HEAD"; }

bool isRedirect(guint status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

struct HttpSession::Impl {
  GObjectPtr<SoupSession> session;
  GObjectPtr<GTlsCertificate> trusted;
};

HttpSession::HttpSession(HttpTimeouts timeouts, const std::string& trustedCertificatePEM, std::size_t answerLimit)
    : timeouts_(timeouts), answerLimit_(answerLimit), impl_(std::make_unique<Impl>()) {
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
    // A write goes out once per call. libsoup sends a PUT or DELETE again by itself when a kept-alive connection
    // closes before the answer (the server may have carried it out already), and only over a connection that has
    // served an earlier request: on a connection of its own (as POST and PATCH are sent anyway) it never does.
    if (!isRead(method)) soup_message_add_flags(message.get(), SOUP_MESSAGE_NEW_CONNECTION);
    SoupMessageHeaders* headers = soup_message_get_request_headers(message.get());
    for (const auto& [name, value] : request.headers) {
      if (!body && g_ascii_strcasecmp(name.c_str(), "Content-Type") == 0) continue;
      soup_message_headers_append(headers, name.c_str(), value.c_str());
    }
    if (body) {
      GBytes* bytes = g_bytes_new(body->data(), body->size());
      soup_message_set_request_body_from_bytes(message.get(), nullptr, bytes);
      // The restarts libsoup still makes are those the server asked for without having read the request (an
      // HTTP/2 stream refused, a connection to be opened anew): the body goes with them whole, not empty.
      g_signal_connect_data(message.get(), "restarted", G_CALLBACK(+[](SoupMessage* restarted, gpointer data) {
                              soup_message_set_request_body_from_bytes(restarted, nullptr, static_cast<GBytes*>(data));
                            }),
                            g_bytes_ref(bytes), [](gpointer data, GClosure*) { g_bytes_unref(static_cast<GBytes*>(data)); },
                            GConnectFlags(0));
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

    SoupSession* session = impl_->session.get();
    Finished<GObjectPtr<GInputStream>> sent = co_await CallAwaitable<GObjectPtr<GInputStream>>(
        [&](GAsyncReadyCallback done, gpointer data) {
          soup_session_send_async(session, message.get(), G_PRIORITY_DEFAULT, transfer.cancellable(), done, data);
        },
        [session](GAsyncResult* result, GError** error) {
          return GObjectPtr<GInputStream>(soup_session_send_finish(session, result, error));
        });
    GObjectPtr<GInputStream> stream = std::move(sent.value);
    if (!stream) transportFailure(transfer, sent.error.get());
    std::string answerBody = co_await readBody(stream.get(), message.get(), transfer, answerLimit_);

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
    answer.body = std::move(answerBody);
    co_return answer;
  }
}

}  // namespace dorvik
