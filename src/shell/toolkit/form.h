// Form tables of the editors and the check that turns an edited object into the object that is sent.
#pragma once

#include <string>
#include <vector>

#include "core/json/json_value.h"

namespace dorvik {

struct FieldSpec {
  enum class Kind { text, number, toggle, secret, longText };

  std::string key;
  std::string title;
  Kind kind = Kind::text;
  bool required = false;

  const std::string& id() const { return key; }
};

// What an input row reads and writes over the edited object (the widgets bind through these).
namespace ValueFields {
// The text a text, number, secret or long-text row shows.
std::string text(const JSONValue& value, const FieldSpec& field);
// Stores typed text under the field's key; every other member is kept.
void setText(JSONValue& value, const FieldSpec& field, std::string text);
// The state a toggle row shows.
bool flag(const JSONValue& value, const FieldSpec& field);
void setFlag(JSONValue& value, const FieldSpec& field, bool on);
// True when the two objects hold the same entry for the field: the same text, or for a number field the same
// number ("25,5" and 25.5).
bool sameEntry(const JSONValue& a, const JSONValue& b, const FieldSpec& field);
// A form over data that keeps arriving: `edited` is what the rows hold, `shown` what the source gave when they
// were last filled, `fresh` what it gives now. A field the user left as shown takes the fresh member; one the user
// changed keeps the entry. Returns the keys whose rows must show a new value.
std::vector<std::string> follow(JSONValue& edited, const JSONValue& shown, const JSONValue& fresh,
                                const std::vector<FieldSpec>& fields);
}  // namespace ValueFields

// The object to send: one member per field, converted by kind; keys outside the table are dropped; an empty
// secret is left out. Throws DorvikError (status 0) with the first failing field's message. `patch` does not
// change the outcome.
JSONValue validated(const JSONValue& value, const std::vector<FieldSpec>& fields, bool patch);

}  // namespace dorvik
