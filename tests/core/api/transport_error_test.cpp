#include <gtest/gtest.h>
#include <gio/gio.h>
#include <libsoup/soup.h>

#include "core/api/transport_error.h"

using dorvik::TransportError;
using Code = TransportError::Code;

namespace {
Code codeOf(GQuark domain, int code) {
  GError* error = g_error_new_literal(domain, code, "stack words");
  const TransportError e = TransportError::fromGError(error);
  g_error_free(error);
  return e.code();
}
}  // namespace

TEST(TransportError, ClassifiesTheStackFailures) {
  EXPECT_EQ(codeOf(G_IO_ERROR, G_IO_ERROR_CANCELLED), Code::Cancelled);
  EXPECT_EQ(codeOf(G_IO_ERROR, G_IO_ERROR_TIMED_OUT), Code::TimedOut);
  EXPECT_EQ(codeOf(G_RESOLVER_ERROR, G_RESOLVER_ERROR_NOT_FOUND), Code::CannotFindHost);
  EXPECT_EQ(codeOf(G_RESOLVER_ERROR, G_RESOLVER_ERROR_TEMPORARY_FAILURE), Code::CannotFindHost);
  EXPECT_EQ(codeOf(G_IO_ERROR, G_IO_ERROR_HOST_NOT_FOUND), Code::CannotFindHost);
  EXPECT_EQ(codeOf(G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED), Code::CannotConnectToHost);
  EXPECT_EQ(codeOf(G_IO_ERROR, G_IO_ERROR_NETWORK_UNREACHABLE), Code::NotConnectedToInternet);
  EXPECT_EQ(codeOf(G_IO_ERROR, G_IO_ERROR_CONNECTION_CLOSED), Code::NetworkConnectionLost);
  EXPECT_EQ(codeOf(G_TLS_ERROR, G_TLS_ERROR_BAD_CERTIFICATE), Code::ServerCertificateUntrusted);
  EXPECT_EQ(codeOf(G_TLS_ERROR, G_TLS_ERROR_HANDSHAKE), Code::SecureConnectionFailed);
  EXPECT_EQ(codeOf(SOUP_SESSION_ERROR, SOUP_SESSION_ERROR_PARSING), Code::BadServerResponse);
  EXPECT_EQ(codeOf(SOUP_SESSION_ERROR, SOUP_SESSION_ERROR_TOO_MANY_REDIRECTS), Code::TooManyRedirects);
  EXPECT_EQ(codeOf(G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED), Code::Unknown);
}

TEST(TransportError, CarriesARussianTextAndKeepsTheStackWordsApart) {
  GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_TIMED_OUT, "Socket I/O timed out");
  const TransportError e = TransportError::fromGError(error);
  g_error_free(error);
  EXPECT_EQ(e.message(), "Сервер не ответил вовремя.");
  EXPECT_STREQ(e.what(), "Сервер не ответил вовремя.");
  EXPECT_EQ(e.detail(), "Socket I/O timed out");
  EXPECT_FALSE(e.isCancelled());
  EXPECT_TRUE(TransportError(Code::Cancelled).isCancelled());
  // Every code has a text of its own, so a user can tell the failures apart.
  const Code codes[] = {Code::Unknown,
                        Code::Cancelled,
                        Code::TimedOut,
                        Code::CannotFindHost,
                        Code::CannotConnectToHost,
                        Code::NetworkConnectionLost,
                        Code::TooManyRedirects,
                        Code::NotConnectedToInternet,
                        Code::BadServerResponse,
                        Code::SecureConnectionFailed,
                        Code::ServerCertificateUntrusted};
  for (Code a : codes) {
    EXPECT_FALSE(TransportError::describe(a).empty());
    for (Code b : codes) {
      if (a != b) {
        EXPECT_NE(TransportError::describe(a), TransportError::describe(b));
      }
    }
  }
}

TEST(TransportError, IsNeitherADorvikErrorNorACancellation) {
  try {
    throw TransportError(Code::CannotConnectToHost);
  } catch (const dorvik::DorvikError&) {
    FAIL() << "a transport failure must not read as a server refusal";
  } catch (const dorvik::CancelledError&) {
    FAIL() << "a transport failure must not read as a cancellation";
  } catch (const TransportError& e) {
    EXPECT_EQ(static_cast<int>(e.code()), -1004);
  }
}
