// SecureStore: the few secrets of the program (refresh tokens, cache keys, the last profile per server) as items of
// the Secret Service, one item per account name, under the program's own schema. Values are bytes (binary-safe:
// a 32-byte key may hold zero bytes). Nothing secret is ever written to disk in the clear: when no Secret Service
// is reachable every call fails with its Russian message.
//
// A value that must stop counting while its item cannot be deleted (a refresh token the server refused, in a keyring
// that stays locked) is withdrawn: a digest of the account and the value is kept in the user's data folder (owner
// only), reads answer none for that value, and the item is deleted at the first read that can.
//
// The async calls run on the store's own worker thread (a locked keyring may prompt) and resume the caller on its
// context. The *Sync calls block the calling thread; use them only from another worker thread (the encrypted
// cache's), never from the main loop.
#pragma once

#include <optional>
#include <string>

#include "core/async/task.h"

namespace dorvik {

class SecureStore {
 public:
  // The item's bytes, or none when there is no such item. A locked keyring is asked to unlock (the desktop asks
  // the user for its password); one that stays locked throws DorvikError "Связка ключей заблокирована.
  // Разблокируйте её и повторите попытку.", never none. Throws DorvikError "Связка ключей недоступна (<code>)."
  // when the store cannot be read.
  static async::Task<std::optional<std::string>> read(std::string account);
  // Bytes store or replace the item; none deletes it (deleting an absent item succeeds). A keyring that stays
  // locked throws the message above; otherwise failures throw DorvikError
  // "Не удалось сохранить данные в Связке ключей (<code>).", "Не удалось обновить Связку ключей (<code>)." or
  // "Не удалось удалить сохранённый вход (<code>).".
  static async::Task<void> write(std::optional<std::string> bytes, std::string account);

  // What deleting an account's items found: they were removed, there was nothing to remove, or the keyring stayed
  // locked after it was asked to unlock, so nothing was removed (and nothing can be said to be absent).
  enum class Removal { removed, absent, locked };
  // Deletes the account's items and tells which of the three it was. A store that cannot be reached or refuses
  // the deletion throws DorvikError "Не удалось удалить сохранённый вход (<code>).".
  static async::Task<Removal> remove(std::string account);
  // Withdraws the account's item while it holds `value` (see above). Throws DorvikError
  // "Не удалось удалить сохранённый вход (<code>)." when the mark cannot be kept.
  static async::Task<void> withdraw(std::string account, std::string value);

  static std::optional<std::string> readSync(const std::string& account);
  static void writeSync(const std::optional<std::string>& bytes, const std::string& account);
  static Removal removeSync(const std::string& account);
  static void withdrawSync(const std::string& account, const std::string& value);
};

}  // namespace dorvik
