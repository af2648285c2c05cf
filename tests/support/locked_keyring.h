// Tests of a locked keyring: the test binary runs one of its own tests again in a D-Bus session and keyring of its
// own (scripts/with-session.sh in a scratch home), where that child locks the login keyring and declines every
// request to unlock it, as a user who closes the password dialog.
#pragma once

#include <string>

typedef struct _SecretCollection SecretCollection;

namespace dorvik::testing {

struct ChildRun {
  bool passed = false;
  std::string output;
};

// Runs `test` (a --gtest_filter pattern of this binary) in a session and keyring of its own, with the environment
// variable `flag` set to "1"; answers whether it passed, with its output.
ChildRun runInOwnKeyring(const std::string& test, const std::string& flag);

// In such a child: the login keyring, locked, with every request to unlock it declined from now on (this process
// holds the name of the keyring's password prompter without answering). The caller unrefs the collection.
SecretCollection* lockLoginKeyring();

// Unlocks the collection with the test keyring's password, without a prompt (as at the user's next login).
void unlockWithPassword(SecretCollection* collection);

}  // namespace dorvik::testing
