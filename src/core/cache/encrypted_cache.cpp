#include "core/cache/encrypted_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/file.h>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "core/async/worker.h"
#include "core/base/digest.h"
#include "core/base/dorvik_date.h"
#include "core/base/errors.h"
#include "core/base/files.h"
#include "core/store/secure_store.h"

namespace dorvik {

struct EncryptedCache::State {
  std::string folder;
  std::string key;  // 32 bytes
  // The workspace's lock file ("<folder>.lock"), shared by every process of the user: held exclusively while the
  // cache opens (key creation, the folder kept aside, stale temporary files removed), shared by every write.
  files::FileDescriptor lock;
  // The folder's earlier entries were kept aside at this opening because their key was missing.
  bool keptAsideForLostKey = false;
  ~State() { OPENSSL_cleanse(key.data(), key.size()); }
};

namespace {

using State = EncryptedCache::State;

[[noreturn]] void folderError(const char* what, int code) {
  throw CacheError(CacheError::Kind::FileSystem, std::string(what) + " (код " + std::to_string(code) + ").", code);
}

constexpr const char* kFolderFailed = "Не удалось создать папку локальных данных";
constexpr const char* kMoveFailed = "Не удалось отложить старые локальные данные";
constexpr const char* kListFailed = "Не удалось прочитать папку локальных данных";
constexpr const char* kLockFailed = "Не удалось заблокировать папку локальных данных";
constexpr const char* kSetAsideFailed = "Не удалось отложить повреждённые локальные данные";

void syncFolder(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::string parentOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

// True when the folder holds at least one sealed entry file; false when it holds none or does not exist.
bool holdsEntries(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) {
    if (errno == ENOENT) return false;
    folderError(kListFailed, errno);
  }
  bool found = false;
  static constexpr std::string_view suffix = ".sealed";
  while (dirent* item = ::readdir(dir)) {
    std::string_view name(item->d_name);
    if (name.size() > suffix.size() && name.front() != '.' && name.substr(name.size() - suffix.size()) == suffix) {
      found = true;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

// Moves a folder whose key is lost out of the way, under a name that keeps it beside the new one.
void moveAside(const std::string& folder) {
  const std::string base = folder + ".lost-" + utcTimestamp(std::chrono::system_clock::now(), true);
  std::string target = base;
  struct stat info;
  for (int n = 2; ::lstat(target.c_str(), &info) == 0; ++n) target = base + "-" + std::to_string(n);
  if (::rename(folder.c_str(), target.c_str()) != 0) folderError(kMoveFailed, errno);
  syncFolder(parentOf(folder));
  g_warning("the key of a cached workspace was missing; its old data was kept in %s", target.c_str());
}

// Creates the folder and any missing parents, owner only. An existing folder is accepted as it is.
void makeFolder(const std::string& folder) {
  std::size_t from = 1;
  for (;;) {
    std::size_t slash = folder.find('/', from);
    const std::string prefix = slash == std::string::npos ? folder : folder.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0700) == 0) {
      if (::chmod(prefix.c_str(), 0700) != 0) folderError(kFolderFailed, errno);
      syncFolder(parentOf(prefix));
    } else {
      int code = errno;
      struct stat info;
      if (code != EEXIST || ::stat(prefix.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        folderError(kFolderFailed, code == EEXIST ? ENOTDIR : code);
    }
    if (slash == std::string::npos) break;
    from = slash + 1;
  }
}

// Holds a lock of the workspace's lock file for as long as it lives.
class WorkspaceLock {
 public:
  WorkspaceLock(const files::FileDescriptor& file, int operation) : fd_(file.get()) {
    while (::flock(fd_, operation) != 0) {
      if (errno != EINTR) folderError(kLockFailed, errno);
    }
  }
  ~WorkspaceLock() { ::flock(fd_, LOCK_UN); }
  WorkspaceLock(const WorkspaceLock&) = delete;
  WorkspaceLock& operator=(const WorkspaceLock&) = delete;

 private:
  int fd_;
};

// Removes what writes killed half-way left behind. Run under the exclusive lock, when no write is under way.
void removeStaleTemporaries(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  std::size_t removed = 0;
  while (dirent* item = ::readdir(dir)) {
    if (files::isTemporaryName(item->d_name) && ::unlinkat(::dirfd(dir), item->d_name, 0) == 0) ++removed;
  }
  ::closedir(dir);
  if (removed) g_message("removed %zu temporary files of interrupted writes in %s", removed, folder.c_str());
}

std::shared_ptr<const State> prepare(const std::string& scope) {
  const std::string digest = EncryptedCache::scopeDigest(scope);
  const std::string account = EncryptedCache::keyAccount(scope);
  const std::string accounts = std::string(g_get_user_data_dir()) + "/Dorvik/Accounts";
  auto state = std::make_shared<State>();
  state->folder = accounts + "/" + digest;

  // Another process of the user (a second instance, a process killed while it wrote) may open the same
  // workspace: one at a time makes or reads the key, so both keep the same one.
  makeFolder(accounts);
  const std::string lockPath = state->folder + ".lock";
  state->lock = files::FileDescriptor(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600));
  if (!state->lock) folderError(kLockFailed, errno);
  WorkspaceLock exclusive(state->lock, LOCK_EX);
  std::optional<std::string> key = SecureStore::readSync(account);
  if (!key || key->size() != cache::kKeySize) {
    // A workspace without its key: old entries can never be opened again. Keep them aside rather than fail every
    // read, and start afresh; the new key is stored before any entry is written with it.
    if (holdsEntries(state->folder)) {
      moveAside(state->folder);
      state->keptAsideForLostKey = true;
    }
    key = cache::randomBytes(cache::kKeySize);
    if (!key) throw DorvikError("Не удалось создать ключ локальных данных.", 0);
    SecureStore::writeSync(key, account);
  }
  state->key = std::move(*key);
  makeFolder(state->folder);
  removeStaleTemporaries(state->folder);
  return state;
}

async::Task<std::optional<JSONValue>> readOn(std::shared_ptr<async::SerialWorker> worker,
                                             std::shared_ptr<const State> state, std::string name) {
  auto job = [state, name]() -> std::optional<JSONValue> {
    const std::string fileName = EncryptedCache::entryFileName(name);
    std::optional<std::string> sealed = cache::readFile(state->folder + "/" + fileName);
    if (!sealed) return std::nullopt;
    // The file name is authenticated with the contents: an entry file put in another entry's place is refused.
    std::string_view plain = cache::openInPlace(state->key, *sealed, fileName);
    return JSONValue::decode(plain);
  };
  auto call = worker->run(std::move(job));
  std::optional<JSONValue> result = co_await call;
  co_return result;
}

// Seals the text in place and replaces the entry's file.
void sealAndWrite(const State& state, const std::string& name, char* text, std::size_t size) {
  const std::string fileName = EncryptedCache::entryFileName(name);
  const cache::SealedParts parts = cache::sealInPlace(state.key, text, size, fileName);
  WorkspaceLock shared(state.lock, LOCK_SH);
  cache::writeFileAtomically(state.folder, fileName,
                             {parts.nonceView(), std::string_view(text, size), parts.tagView()});
}

async::Task<void> writeOn(std::shared_ptr<async::SerialWorker> worker, std::shared_ptr<const State> state,
                          JSONValue value, std::string name) {
  auto job = [state, value, name] {
    std::string text = value.data();  // a non-finite number throws here, before anything is written
    sealAndWrite(*state, name, text.data(), text.size());
  };
  auto call = worker->run(std::move(job));
  co_await call;
}

async::Task<void> setAsideOn(std::shared_ptr<async::SerialWorker> worker, std::shared_ptr<const State> state,
                             std::string name) {
  auto job = [state, name] {
    const std::string file = state->folder + "/" + EncryptedCache::entryFileName(name);
    const std::string base = file + ".damaged-" + utcTimestamp(std::chrono::system_clock::now(), true);
    WorkspaceLock shared(state->lock, LOCK_SH);
    std::string target = base;
    struct stat info;
    for (int n = 2; ::lstat(target.c_str(), &info) == 0; ++n) target = base + "-" + std::to_string(n);
    if (::rename(file.c_str(), target.c_str()) != 0) folderError(kSetAsideFailed, errno);
    syncFolder(state->folder);
    g_warning("a damaged entry of a cached workspace was kept aside as %s", target.c_str());
  };
  auto call = worker->run(std::move(job));
  co_await call;
}

async::Task<void> writeTextOn(std::shared_ptr<async::SerialWorker> worker, std::shared_ptr<const State> state,
                              OwnedText json, std::string name) {
  // Shared only to travel through the worker's queue, which copies its jobs.
  auto text = std::make_shared<OwnedText>(std::move(json));
  auto job = [state, text, name] { sealAndWrite(*state, name, text->data(), text->size()); };
  auto call = worker->run(std::move(job));
  co_await call;
}

}  // namespace

EncryptedCache::EncryptedCache(std::shared_ptr<const State> state, std::shared_ptr<async::SerialWorker> worker)
    : state_(std::move(state)), worker_(std::move(worker)) {}

EncryptedCache::~EncryptedCache() = default;

async::Task<std::shared_ptr<EncryptedCache>> EncryptedCache::open(std::string scope) {
  auto worker = std::make_shared<async::SerialWorker>("encrypted-cache");
  auto job = [scope] { return prepare(scope); };
  auto call = worker->run(std::move(job));
  std::shared_ptr<const State> state = co_await call;
  co_return std::make_shared<EncryptedCache>(std::move(state), std::move(worker));
}

async::Task<std::optional<JSONValue>> EncryptedCache::read(std::string name) {
  return readOn(worker_, state_, std::move(name));
}

async::Task<void> EncryptedCache::write(JSONValue value, std::string name) {
  return writeOn(worker_, state_, std::move(value), std::move(name));
}

async::Task<void> EncryptedCache::setAside(std::string name) { return setAsideOn(worker_, state_, std::move(name)); }

async::Task<void> EncryptedCache::writeText(OwnedText json, std::string name) {
  return writeTextOn(worker_, state_, std::move(json), std::move(name));
}

const std::string& EncryptedCache::folder() const { return state_->folder; }

bool EncryptedCache::keptAsideForLostKey() const { return state_->keptAsideForLostKey; }

std::string EncryptedCache::scopeDigest(std::string_view scope) { return sha256Hex(scope); }

std::string EncryptedCache::keyAccount(std::string_view scope) { return "cache-" + scopeDigest(scope); }

std::string EncryptedCache::entryFileName(std::string_view name) { return sha256Hex(name) + ".sealed"; }

}  // namespace dorvik
