// A self-signed certificate for 127.0.0.1, made at test time with the openssl command-line tool.
#pragma once

#include "support/stand_in_server.h"

namespace dorvik::testing {

// Throws std::runtime_error when the tool fails.
StandInServer::TLS makeTestCertificate();

}  // namespace dorvik::testing
