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

// An identifier as one path segment where the server expects only letters, marks and digits raw: every Unicode
// letter, combining mark and digit (Cyrillic included) stays as it is, every other character ("-", ".", "_", " ",
// "/" among them) becomes "%XX" per UTF-8 byte with upper-case hex digits, so "R-1/2" reads "R%2D1%2F2". Text that
// is not valid UTF-8 gives "".
std::string encodeId(std::string_view id);

}  // namespace dorvik
