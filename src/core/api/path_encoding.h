// The one encoder for identifiers placed in a request path ("/orders/" + encodePathComponent(id)).
//
// ASCII letters, digits and "-", "_", ".", "~" stay as they are, so ordinary ids travel unchanged; every other
// byte, UTF-8 sequences of Cyrillic letters included, becomes "%XX" with upper-case hex digits. "/", "?", "#",
// "%" and spaces are therefore always encoded and an id can neither add a path segment nor start a query. An id
// made only of dots ("." or "..") has its dots encoded too, so URL parsing cannot read it as a step up the path.
#pragma once

#include <string>
#include <string_view>

namespace dorvik {

std::string encodePathComponent(std::string_view component);

// An identifier as one path segment or query value, the stricter way the administration and monitoring requests
// send them: Unicode letters, marks and digits stay as they are (Cyrillic travels raw), every other character becomes
// "%XX" per UTF-8 byte with upper-case hex digits ("-" reads "%2D", "." "%2E", "_" "%5F", " " "%20", "/" "%2F").
// Text that is not valid UTF-8 gives "".
std::string encodeId(std::string_view id);

}  // namespace dorvik
