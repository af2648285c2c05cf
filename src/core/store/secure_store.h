// SecureStore: the few secrets of the program (refresh tokens, cache keys, the last profile per server) as items of
// the Secret Service, one item per account name, under the program's own schema. Values are bytes (binary-safe:
// a 32-byte key may hold zero bytes). Nothing secret is ever written to disk in the clear: when no Secret Service
// is reachable every call fails with its Russian message.
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

  static std::optional<std::string> readSync(const std::string& account);
  static void writeSync(const std::optional<std::string>& bytes, const std::string& account);
};

}  // namespace dorvik
