#include "core/api/transport_error.h"

#include <gio/gio.h>
#include <libsoup/soup.h>

namespace dorvik {

TransportError::TransportError(Code code, std::string detail)
    : code_(code), message_(describe(code)), detail_(std::move(detail)) {}

std::string_view TransportError::describe(Code code) {
  switch (code) {
    case Code::Cancelled:
      return "Запрос отменён.";
    case Code::TimedOut:
      return "Сервер не ответил вовремя.";
    case Code::CannotFindHost:
      return "Не удалось найти сервер по его адресу.";
    case Code::CannotConnectToHost:
      return "Не удалось подключиться к серверу.";
    case Code::NetworkConnectionLost:
      return "Соединение с сервером прервалось.";
    case Code::TooManyRedirects:
      return "Сервер перенаправляет запрос слишком много раз.";
    case Code::NotConnectedToInternet:
      return "Нет подключения к сети.";
    case Code::BadServerResponse:
      return "Сервер прислал ответ, который не удалось прочитать.";
    case Code::SecureConnectionFailed:
      return "Не удалось установить защищённое соединение с сервером.";
    case Code::ServerCertificateUntrusted:
      return "Сертификат сервера не прошёл проверку: соединение небезопасно.";
    case Code::Unknown:
      break;
  }
  return "Не удалось выполнить запрос к серверу.";
}

TransportError TransportError::fromGError(const GError* error) {
  if (!error) return TransportError(Code::Unknown);
  const std::string detail = error->message ? error->message : "";
  auto make = [&](Code code) { return TransportError(code, detail); };

  if (error->domain == G_IO_ERROR) {
    switch (error->code) {
      case G_IO_ERROR_CANCELLED:
        return make(Code::Cancelled);
      case G_IO_ERROR_TIMED_OUT:
        return make(Code::TimedOut);
      case G_IO_ERROR_HOST_NOT_FOUND:
        return make(Code::CannotFindHost);
      case G_IO_ERROR_CONNECTION_REFUSED:
        return make(Code::CannotConnectToHost);
      case G_IO_ERROR_NETWORK_UNREACHABLE:
      case G_IO_ERROR_HOST_UNREACHABLE:
        return make(Code::NotConnectedToInternet);
      case G_IO_ERROR_BROKEN_PIPE:
      case G_IO_ERROR_PARTIAL_INPUT:
      case G_IO_ERROR_NOT_CONNECTED:
        return make(Code::NetworkConnectionLost);
      case G_IO_ERROR_PROXY_FAILED:
      case G_IO_ERROR_PROXY_AUTH_FAILED:
      case G_IO_ERROR_PROXY_NOT_ALLOWED:
      case G_IO_ERROR_PROXY_NEED_AUTH:
        return make(Code::CannotConnectToHost);
      case G_IO_ERROR_INVALID_DATA:
        return make(Code::BadServerResponse);
      default:
        return make(Code::Unknown);
    }
  }
  if (error->domain == G_RESOLVER_ERROR) {
    // NOT_FOUND and TEMPORARY_FAILURE alike: the name did not resolve.
    return make(Code::CannotFindHost);
  }
  if (error->domain == G_TLS_ERROR) {
    if (error->code == G_TLS_ERROR_BAD_CERTIFICATE || error->code == G_TLS_ERROR_CERTIFICATE_REQUIRED) {
      return make(Code::ServerCertificateUntrusted);
    }
    return make(Code::SecureConnectionFailed);
  }
  if (error->domain == SOUP_SESSION_ERROR) {
    switch (error->code) {
      case SOUP_SESSION_ERROR_TOO_MANY_REDIRECTS:
      case SOUP_SESSION_ERROR_TOO_MANY_RESTARTS:
        return make(Code::TooManyRedirects);
      case SOUP_SESSION_ERROR_PARSING:
      case SOUP_SESSION_ERROR_ENCODING:
      case SOUP_SESSION_ERROR_REDIRECT_NO_LOCATION:
      case SOUP_SESSION_ERROR_REDIRECT_BAD_URI:
        return make(Code::BadServerResponse);
      default:
        return make(Code::Unknown);
    }
  }
  return make(Code::Unknown);
}

}  // namespace dorvik
