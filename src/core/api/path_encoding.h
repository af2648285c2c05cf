// The encoders for identifiers placed in a request path ("/orders/" + encodePathComponent(id)).
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

// An identifier as one path segment under the stricter rule of the administration and monitoring screens: Unicode
// letters, digits and combining marks stay, every other character becomes "%XX" per UTF-8 byte (upper-case hex),
// so "R-1/2" reads "R%2D1%2F2" and "../../admin" or "a?b#c" stay inside their segment. Text that is not valid
// UTF-8 gives "".
std::string encodeID(std::string_view id);

}  // namespace dorvik
