/*
** Stand-in for the advapi32 registry calls over one SQLite database,
** ROOT/registry.db, that any number of processes may use at once.
**
** Tables: key (id, parent, name, fold, written) and value (seq, key, name,
** fold, type, data). The predefined roots are keys with parent 0. Names are
** stored as given and matched through fold, their upper-case Latin-1 form;
** ids are never reused, so a handle, which holds the id of its key, follows
** the key through a rename and finds it gone after a delete. Subkeys list in
** fold order, values in seq order (the order in which they were first set).
**
** Every call is one transaction (BEGIN IMMEDIATE for the calls that write),
** on a connection per process kept open between calls. The database runs in
** WAL mode with a busy timeout, so readers never wait for writers and
** writers queue. Values read are kept in the process until anything is
** committed (which the WAL index shows without a transaction), and an
** enumeration by index continues from where the handle's previous call
** stopped while nothing has changed, so that reading a key again costs no
** transaction and listing a key is linear in its size. The connection is closed before fork() and reopened on
** demand, so that a child never inherits it, and reopened when the root
** directory (ZU_WIN32_ROOT) changes.
*/
#include <fcntl.h>
#include <pthread.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/posix/registry.h"
#include "platform/posix/standin.h"
#include "platform/win32.h"

namespace {

const int kMaxKeyName = 255;
const int kMaxValueName = 16383;
const int kBusyTimeoutMs = 30000;

struct Root {
  HKEY handle;
  const char* name;
};
const Root kRoots[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},     {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},   {HKEY_USERS, "HKEY_USERS"},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"},
};

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS key("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"
    "  name BLOB NOT NULL,"
    "  fold BLOB NOT NULL,"
    "  written INTEGER NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS key_by_name ON key(parent, fold);"
    "CREATE TABLE IF NOT EXISTS value("
    "  seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  key INTEGER NOT NULL,"
    "  name BLOB NOT NULL,"
    "  fold BLOB NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS value_by_name ON value(key, fold);"
    "CREATE INDEX IF NOT EXISTS value_in_order ON value(key);";

/* The subtree below ?1, parents before children, ?1 itself first. */
#define TREE_OF_1                                    \
  "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL " \
  "SELECT key.id FROM key JOIN tree ON key.parent = tree.id)"

/* Upper-case Latin-1, the form in which names are compared. */
std::string Fold(const char* name, size_t length) {
  std::string fold(name, length);
  for (char& c : fold) {
    unsigned char u = static_cast<unsigned char>(c);
    if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7)) {
      c = static_cast<char>(u - 0x20);
    }
  }
  return fold;
}

/* Now as a FILETIME count. */
int64_t FileTimeNow() {
  auto since1970 = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100 +
         116444736000000000LL;
}

/* UTF-16 to Latin-1 as the ANSI calls see names: other characters become
** '?'. */
std::string NarrowName(LPCWSTR wide) {
  std::string narrow;
  if (!wide) return narrow;
  for (; *wide; ++wide) {
    char16_t c = *wide;
    if (c >= 0xD800 && c <= 0xDBFF && wide[1] >= 0xDC00 && wide[1] <= 0xDFFF) ++wide;
    narrow += c <= 0xFF ? static_cast<char>(c) : '?';
  }
  return narrow;
}

struct OpenKey {
  int64_t id;
  REGSAM access;
  int database;  // index into Registry::databases
};

/* Where the last enumeration call on a handle stopped: the call for the
** next index continues after that row instead of counting rows from the
** first, so that a whole enumeration is linear. It holds only while the
** database is unchanged since (same data version and own change count);
** otherwise the index is counted afresh. */
struct EnumCursor {
  bool valid = false;
  int database = -1;
  int64_t key = 0;
  DWORD index = 0;
  std::string fold;  // subkeys: the name in the order they list in
  int64_t seq = 0;   // values: the value's place in their order
  int64_t dataVersion = 0;
  int64_t changes = 0;
};
struct HandleCursors {
  EnumCursor subKeys;
  EnumCursor values;
};

/* A view of the database's change state without a transaction: the header
** of the WAL index, the shared-memory file (registry.db-shm) through which
** SQLite's WAL mode tells every process what has been committed. The header
** is written twice, in two copies, by every commit; a view whose copies
** agree and equal an earlier one means that nothing was committed in
** between. The file stays in place while this process's own connection is
** open, so the view lives exactly as long as the connection.
**
** Closing any descriptor of a file drops all of the process's POSIX locks
** on it, SQLite's among them: the view keeps its descriptor open until it
** is closed after the connection. */
class IndexView {
 public:
  static constexpr size_t kHeader = 48;  // one copy of the header
  static constexpr uint32_t kVersion = 3007000;

  /* Called with the connection open. */
  void Open(const std::string& databasePath) {
    fd_ = ::open((databasePath + "-shm").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return;
    struct stat status;
    if (fstat(fd_, &status) == 0 && status.st_size >= static_cast<off_t>(2 * kHeader)) {
      void* view = mmap(nullptr, 2 * kHeader, PROT_READ, MAP_SHARED, fd_, 0);
      if (view != MAP_FAILED) view_ = static_cast<const unsigned char*>(view);
    }
  }
  /* Called after the connection is closed. */
  void Close() {
    if (view_) munmap(const_cast<unsigned char*>(view_), 2 * kHeader);
    view_ = nullptr;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  /* The header, when both copies agree and are initialised. */
  bool Read(unsigned char header[kHeader]) const {
    if (!view_) return false;
    unsigned char second[kHeader];
    std::memcpy(header, const_cast<const unsigned char*>(view_), kHeader);
    std::atomic_thread_fence(std::memory_order_acquire);
    std::memcpy(second, const_cast<const unsigned char*>(view_ + kHeader), kHeader);
    uint32_t version;
    std::memcpy(&version, header, sizeof version);
    const int kIsInit = 12;  // offset of the byte that says the header is set up
    return std::memcmp(header, second, kHeader) == 0 && version == kVersion && header[kIsInit] == 1;
  }

 private:
  int fd_ = -1;
  const volatile unsigned char* view_ = nullptr;
};

/* Values read by this process, kept while nothing was committed since:
** repeated reads cost no transaction. Keyed by key id and folded name. */
struct ValueCache {
  static constexpr size_t kMaxBytes = 4 << 20;

  struct Entry {
    DWORD type;
    std::string data;
  };
  bool valid = false;
  unsigned char header[IndexView::kHeader];
  std::unordered_map<std::string, Entry> entries;
  size_t bytes = 0;

  static std::string KeyOf(int64_t id, const std::string& fold) {
    std::string key(reinterpret_cast<const char*>(&id), sizeof id);
    return key + fold;
  }
  void Clear() {
    valid = false;
    entries.clear();
    bytes = 0;
  }
};

/* The process's registry state: the connection, its cached statements and
** the open handles. All of it is used under the mutex. */
struct Registry {
  std::mutex mutex;
  sqlite3* db = nullptr;
  int database = -1;  // which of databases db is open on
  std::string rootVariable;
  std::vector<std::string> databases;  // every database path used so far
  std::unordered_map<const char*, sqlite3_stmt*> statements;
  std::unordered_map<uintptr_t, OpenKey> handles;
  std::unordered_map<uintptr_t, HandleCursors> cursors;  // by handle, roots included
  uintptr_t nextHandle = 0x1000;
  int64_t rootIds[std::size(kRoots)] = {};
  IndexView index;
  ValueCache cache;

  void Disconnect() {
    for (auto& [sql, statement] : statements) sqlite3_finalize(statement);
    statements.clear();
    cursors.clear();  // their versions belong to this connection
    cache.Clear();
    if (db) sqlite3_close(db);
    db = nullptr;
    index.Close();
    database = -1;
  }
};

Registry& State() {
  static Registry* registry = new Registry;  // outlives static destructors
  return *registry;
}

void BeforeFork() {
  State().mutex.lock();
  State().Disconnect();
}
void AfterFork() {
  State().mutex.unlock();
}

/* How a call uses the database: one statement that reads (its own
** transaction), several that read, or writes. */
enum class Access { kQuery, kRead, kWrite };

/* One call's access to the database: holds the lock and, unless the call
** is a single query, one transaction, rolled back unless Finish commits. */
class Session {
 public:
  explicit Session(Access access) : lock_(State().mutex), registry_(State()) {
    status_ = Connect();
    writes_ = access == Access::kWrite;
    if (status_ != ERROR_SUCCESS || access == Access::kQuery) return;
    if (Run(Statement(access == Access::kWrite ? "BEGIN IMMEDIATE" : "BEGIN"))) {
      open_ = true;
    } else {
      status_ = ERROR_REGISTRY_IO_FAILED;
    }
  }
  ~Session() {
    if (open_) Run(Statement("ROLLBACK"));
  }

  /* Ends the call: commits when result is success, else rolls back. */
  LSTATUS Finish(LSTATUS result) {
    if (result == ERROR_SUCCESS && open_) {
      if (writes_) registry_.cache.Clear();
      if (!Run(Statement("COMMIT"))) return ERROR_REGISTRY_IO_FAILED;
      open_ = false;
    }
    return result;
  }

  /* The cached value of a key, when nothing was committed since it was
  ** read; else null, and *header (with *indexed) says under which state the
  ** value about to be read from the database may be kept. */
  const ValueCache::Entry* Cached(const std::string& cacheKey, unsigned char* header,
                                  bool* indexed) {
    ValueCache& cache = registry_.cache;
    *indexed = registry_.index.Read(header);
    if (!*indexed) return nullptr;
    if (!cache.valid || std::memcmp(cache.header, header, IndexView::kHeader) != 0) {
      cache.Clear();
      return nullptr;
    }
    auto found = cache.entries.find(cacheKey);
    return found == cache.entries.end() ? nullptr : &found->second;
  }
  void Keep(const std::string& cacheKey, const unsigned char* header, DWORD type, const void* data,
            size_t size) {
    ValueCache& cache = registry_.cache;
    if (!cache.valid || std::memcmp(cache.header, header, IndexView::kHeader) != 0) {
      cache.Clear();
      std::memcpy(cache.header, header, IndexView::kHeader);
      cache.valid = true;
    }
    if (cache.bytes + size + cacheKey.size() > ValueCache::kMaxBytes) return;
    std::string bytes(static_cast<const char*>(data), size);
    cache.bytes += size + cacheKey.size();
    cache.entries[cacheKey] = ValueCache::Entry{type, std::move(bytes)};
  }

  /* A cached statement for sql (a literal), reset and unbound; null when it
  ** cannot be prepared. */
  sqlite3_stmt* Statement(const char* sql) {
    sqlite3_stmt*& statement = registry_.statements[sql];
    if (!statement) {
      if (sqlite3_prepare_v3(registry_.db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement,
                             nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        statement = nullptr;
      }
    } else {
      sqlite3_reset(statement);
      sqlite3_clear_bindings(statement);
    }
    return statement;
  }

  /* Runs a statement that returns no rows (or whose rows are not wanted). */
  bool Run(sqlite3_stmt* statement) {
    if (!statement) return false;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    }
    sqlite3_reset(statement);
    return rc == SQLITE_DONE;
  }

  /* The key id for a handle, checking its access rights and that the key
  ** still exists; the session's own failure, when it could not begin. */
  LSTATUS Resolve(HKEY hKey, REGSAM need, int64_t* id) {
    LSTATUS rc = ResolveHandle(hKey, need, id);
    return rc == ERROR_SUCCESS ? Exists(*id) : rc;
  }

  /* Resolve without the check that the key still exists, for a query whose
  ** finding anything proves it (Exists tells a miss from a deleted key). */
  LSTATUS ResolveHandle(HKEY hKey, REGSAM need, int64_t* id) {
    if (status_ != ERROR_SUCCESS) return status_;
    for (size_t i = 0; i < std::size(kRoots); ++i) {
      if (hKey == kRoots[i].handle) {
        *id = registry_.rootIds[i];
        return ERROR_SUCCESS;
      }
    }
    auto found = registry_.handles.find(reinterpret_cast<uintptr_t>(hKey));
    if (found == registry_.handles.end() || found->second.database != registry_.database) {
      return ERROR_INVALID_HANDLE;
    }
    if ((found->second.access & need) != need) return ERROR_ACCESS_DENIED;
    *id = found->second.id;
    return ERROR_SUCCESS;
  }

  /* ERROR_SUCCESS when key id exists, ERROR_KEY_DELETED when it is gone. */
  LSTATUS Exists(int64_t id) {
    if (IsRoot(id)) return ERROR_SUCCESS;
    sqlite3_stmt* s = Statement("SELECT 1 FROM key WHERE id = ?1");
    if (!s) return ERROR_REGISTRY_IO_FAILED;
    sqlite3_bind_int64(s, 1, id);
    int rc = sqlite3_step(s);
    sqlite3_reset(s);
    if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
    return rc == SQLITE_ROW ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
  }

  /* The child of parent named name, or 0 when there is none (-1 on a
  ** database failure). */
  int64_t Child(int64_t parent, const std::string& fold) {
    sqlite3_stmt* s = Statement("SELECT id FROM key WHERE parent = ?1 AND fold = ?2");
    if (!s) return -1;
    sqlite3_bind_int64(s, 1, parent);
    sqlite3_bind_blob(s, 2, fold.data(), static_cast<int>(fold.size()), SQLITE_STATIC);
    int rc = sqlite3_step(s);
    int64_t id = rc == SQLITE_ROW ? sqlite3_column_int64(s, 0) : rc == SQLITE_DONE ? 0 : -1;
    sqlite3_reset(s);
    return id;
  }

  int64_t AddChild(int64_t parent, const char* name, size_t length) {
    std::string fold = Fold(name, length);
    sqlite3_stmt* s =
        Statement("INSERT INTO key(parent, name, fold, written) VALUES(?1, ?2, ?3, ?4)");
    if (!s) return -1;
    sqlite3_bind_int64(s, 1, parent);
    sqlite3_bind_blob(s, 2, name, static_cast<int>(length), SQLITE_STATIC);
    sqlite3_bind_blob(s, 3, fold.data(), static_cast<int>(fold.size()), SQLITE_STATIC);
    sqlite3_bind_int64(s, 4, FileTimeNow());
    if (!Run(s)) return -1;
    return sqlite3_last_insert_rowid(registry_.db);
  }

  /* Follows a backslash-separated path from base. With create, missing keys
  ** are made (refused with ERROR_ACCESS_DENIED unless mayCreate). */
  LSTATUS Walk(int64_t base, const char* path, bool create, bool mayCreate, int64_t* id,
               bool* created = nullptr) {
    if (created) *created = false;
    *id = base;
    if (!path || !*path) return ERROR_SUCCESS;
    if (*path == '\\') return ERROR_BAD_PATHNAME;
    for (const char* part = path; *part;) {
      const char* end = std::strchr(part, '\\');
      if (!end) end = part + std::strlen(part);
      size_t length = static_cast<size_t>(end - part);
      if (length > kMaxKeyName) return ERROR_INVALID_PARAMETER;
      if (length > 0) {
        int64_t child = Child(*id, Fold(part, length));
        if (child < 0) return ERROR_REGISTRY_IO_FAILED;
        if (child == 0) {
          if (!create) return ERROR_FILE_NOT_FOUND;
          if (!mayCreate) return ERROR_ACCESS_DENIED;
          child = AddChild(*id, part, length);
          if (child < 0) return ERROR_REGISTRY_IO_FAILED;
          if (created) *created = true;
        }
        *id = child;
      }
      part = *end ? end + 1 : end;
    }
    return ERROR_SUCCESS;
  }

  /* The enumeration cursor of a handle. */
  EnumCursor& Cursor(HKEY hKey, bool subKeys) {
    HandleCursors& cursors = registry_.cursors[reinterpret_cast<uintptr_t>(hKey)];
    return subKeys ? cursors.subKeys : cursors.values;
  }

  /* What tells whether the database changed since a cursor was left: the
  ** data version (commits of other connections) and this connection's own
  ** change count. False on a database failure. */
  bool Version(int64_t* dataVersion, int64_t* changes) {
    sqlite3_stmt* s = Statement("PRAGMA data_version");
    if (!s || sqlite3_step(s) != SQLITE_ROW) {
      if (s) sqlite3_reset(s);
      return false;
    }
    *dataVersion = sqlite3_column_int64(s, 0);
    sqlite3_reset(s);
    *changes = sqlite3_total_changes64(registry_.db);
    return true;
  }

  int Database() const { return registry_.database; }

  bool IsRoot(int64_t id) const {
    for (int64_t root : registry_.rootIds) {
      if (root == id) return true;
    }
    return false;
  }

  HKEY NewHandle(int64_t id, REGSAM access) {
    uintptr_t handle = registry_.nextHandle;
    registry_.nextHandle += 4;
    registry_.handles[handle] = OpenKey{id, access, registry_.database};
    return reinterpret_cast<HKEY>(handle);
  }

  bool Touch(int64_t id) {
    sqlite3_stmt* s = Statement("UPDATE key SET written = ?2 WHERE id = ?1");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, id);
    sqlite3_bind_int64(s, 2, FileTimeNow());
    return Run(s);
  }

  bool DeleteTree(int64_t id) {
    sqlite3_stmt* values =
        Statement("DELETE FROM value WHERE key IN (" TREE_OF_1 " SELECT id FROM tree)");
    if (!values) return false;
    sqlite3_bind_int64(values, 1, id);
    if (!Run(values)) return false;
    sqlite3_stmt* keys =
        Statement("DELETE FROM key WHERE id IN (" TREE_OF_1 " SELECT id FROM tree)");
    if (!keys) return false;
    sqlite3_bind_int64(keys, 1, id);
    return Run(keys);
  }

 private:
  bool Exec(const char* sql) {
    return sqlite3_exec(registry_.db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  }

  /* Puts the database in WAL mode. Processes that open a fresh file at the
  ** same moment find it locked by each other's switch, which SQLite reports
  ** at once rather than through the busy handler: the switch is tried again
  ** until the busy time-out. */
  bool SwitchToWal() {
    using Clock = std::chrono::steady_clock;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    for (int attempt = 1;; ++attempt) {
      sqlite3_stmt* s = nullptr;
      int rc = sqlite3_prepare_v2(registry_.db, "PRAGMA journal_mode=WAL", -1, &s, nullptr);
      if (rc == SQLITE_OK) rc = sqlite3_step(s);
      bool wal =
          rc == SQLITE_ROW &&
          sqlite3_stricmp(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "wal") == 0;
      sqlite3_finalize(s);
      if (wal) return true;
      bool locked = rc == SQLITE_BUSY || rc == SQLITE_LOCKED || rc == SQLITE_ROW;
      if (!locked || Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(attempt < 20 ? attempt : 20));
    }
  }

  /* Opens the database of the current root unless it is open already. */
  LSTATUS Connect() {
    static std::once_flag forkHandlers;
    std::call_once(forkHandlers, [] { pthread_atfork(BeforeFork, AfterFork, AfterFork); });
    const char* variable = std::getenv("ZU_WIN32_ROOT");
    if (!variable) variable = "";
    if (registry_.db && registry_.rootVariable == variable) return ERROR_SUCCESS;
    std::string rootVariable = variable;
    registry_.Disconnect();
    std::string path = standin::Root() + "/registry.db";
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
      sqlite3_close(db);
      return ERROR_CANTOPEN;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    registry_.db = db;
    if (!SwitchToWal() || !Exec("PRAGMA synchronous=NORMAL") || !Exec("BEGIN IMMEDIATE")) {
      registry_.Disconnect();
      return ERROR_CANTOPEN;
    }
    bool ok = Exec(kSchema);
    for (size_t i = 0; ok && i < std::size(kRoots); ++i) {
      std::string fold = Fold(kRoots[i].name, std::strlen(kRoots[i].name));
      int64_t id = Child(0, fold);
      if (id == 0) id = AddChild(0, kRoots[i].name, std::strlen(kRoots[i].name));
      registry_.rootIds[i] = id;
      ok = id > 0;
    }
    if (!ok || !Exec("COMMIT")) {
      Exec("ROLLBACK");
      registry_.Disconnect();
      return ERROR_CANTOPEN;
    }
    registry_.index.Open(path);
    registry_.rootVariable = rootVariable;
    registry_.database = -1;
    for (size_t i = 0; i < registry_.databases.size(); ++i) {
      if (registry_.databases[i] == path) registry_.database = static_cast<int>(i);
    }
    if (registry_.database < 0) {
      registry_.database = static_cast<int>(registry_.databases.size());
      registry_.databases.push_back(path);
    }
    return ERROR_SUCCESS;
  }

  std::lock_guard<std::mutex> lock_;
  Registry& registry_;
  LSTATUS status_ = ERROR_SUCCESS;
  bool open_ = false;
  bool writes_ = false;
};

/* Leaves a statement reset when the scope ends, so that no read stays open
** past the end of its transaction. */
class ResetOnExit {
 public:
  explicit ResetOnExit(sqlite3_stmt*& statement) : statement_(statement) {}
  ~ResetOnExit() {
    if (statement_) sqlite3_reset(statement_);
  }

 private:
  sqlite3_stmt*& statement_;
};

/* The two queries of an enumeration (?1 the key): one that counts ?2 rows
** from the first, one that takes the row after the position ?2 of the
** previous one; both give the position in their last column. */
struct Enumeration {
  bool subKeys;
  const char* byIndex;
  const char* afterPosition;
};

const Enumeration kSubKeys = {
    true, "SELECT name, written, fold FROM key WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2",
    "SELECT name, written, fold FROM key WHERE parent = ?1 AND fold > ?2 ORDER BY fold LIMIT 1"};
const Enumeration kValues = {
    false, "SELECT name, type, data, seq FROM value WHERE key = ?1 ORDER BY seq LIMIT 1 OFFSET ?2",
    "SELECT name, type, data, seq FROM value WHERE key = ?1 AND seq > ?2 ORDER BY seq LIMIT 1"};

/* Steps an enumeration to the row at index of the key behind hKey,
** continuing from the handle's cursor when it stands just before it. */
LSTATUS EnumerationRow(Session& session, HKEY hKey, REGSAM need, const Enumeration& query,
                       DWORD index, sqlite3_stmt*& row) {
  int64_t id, dataVersion, changes;
  LSTATUS rc = session.Resolve(hKey, need, &id);
  if (rc != ERROR_SUCCESS) return rc;
  if (!session.Version(&dataVersion, &changes)) return ERROR_REGISTRY_IO_FAILED;
  EnumCursor& cursor = session.Cursor(hKey, query.subKeys);
  bool follow = cursor.valid && index > 0 && cursor.index == index - 1 &&
                cursor.database == session.Database() && cursor.key == id &&
                cursor.dataVersion == dataVersion && cursor.changes == changes;
  cursor.valid = false;
  row = session.Statement(follow ? query.afterPosition : query.byIndex);
  if (!row) return ERROR_REGISTRY_IO_FAILED;
  sqlite3_bind_int64(row, 1, id);
  if (!follow) {
    sqlite3_bind_int64(row, 2, index);
  } else if (query.subKeys) {
    sqlite3_bind_blob(row, 2, cursor.fold.data(), static_cast<int>(cursor.fold.size()),
                      SQLITE_STATIC);
  } else {
    sqlite3_bind_int64(row, 2, cursor.seq);
  }
  int step = sqlite3_step(row);
  if (step == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
  if (step != SQLITE_ROW) return ERROR_REGISTRY_IO_FAILED;
  int last = sqlite3_column_count(row) - 1;
  if (query.subKeys) {
    const char* fold = static_cast<const char*>(sqlite3_column_blob(row, last));
    cursor.fold.assign(fold ? fold : "", static_cast<size_t>(sqlite3_column_bytes(row, last)));
  } else {
    cursor.seq = sqlite3_column_int64(row, last);
  }
  cursor.valid = true;
  cursor.database = session.Database();
  cursor.key = id;
  cursor.index = index;
  cursor.dataVersion = dataVersion;
  cursor.changes = changes;
  return ERROR_SUCCESS;
}

/* A name column into a caller's buffer of *size characters; *size becomes
** the name's length. ERROR_MORE_DATA when it does not fit with its NUL. */
LSTATUS CopyName(sqlite3_stmt* row, int column, LPSTR name, LPDWORD size) {
  DWORD length = static_cast<DWORD>(sqlite3_column_bytes(row, column));
  if (length + 1 > *size) return ERROR_MORE_DATA;
  if (length) std::memcpy(name, sqlite3_column_blob(row, column), length);
  name[length] = 0;
  *size = length;
  return ERROR_SUCCESS;
}

/* A value's bytes: their count into *size (when given), the bytes into
** data (when given) if they fit, else ERROR_MORE_DATA. */
LSTATUS CopyBytes(const void* bytes, size_t count, LPBYTE data, LPDWORD size) {
  DWORD needed = static_cast<DWORD>(count);
  LSTATUS rc = ERROR_SUCCESS;
  if (data) {
    if (*size < needed) {
      rc = ERROR_MORE_DATA;
    } else if (needed) {
      std::memcpy(data, bytes, needed);
    }
  }
  if (size) *size = needed;
  return rc;
}

LSTATUS CopyData(sqlite3_stmt* row, int column, LPBYTE data, LPDWORD size) {
  return CopyBytes(sqlite3_column_blob(row, column),
                   static_cast<size_t>(sqlite3_column_bytes(row, column)), data, size);
}

/* Access rights as stored in a handle. */
REGSAM EffectiveAccess(REGSAM desired) {
  if (desired & MAXIMUM_ALLOWED) return KEY_ALL_ACCESS;
  return desired & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
}

LSTATUS OpenKeyWith(HKEY hKey, LPCSTR lpSubKey, REGSAM access, PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  Session session(Access::kRead);
  int64_t base, id;
  LSTATUS rc = session.Resolve(hKey, 0, &base);
  if (rc == ERROR_SUCCESS) rc = session.Walk(base, lpSubKey, false, false, &id);
  if (rc != ERROR_SUCCESS) return rc;
  *phkResult = session.NewHandle(id, EffectiveAccess(access));
  return session.Finish(ERROR_SUCCESS);
}

}  // namespace

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  return OpenKeyWith(hKey, lpSubKey, samDesired, phkResult);
}

LSTATUS RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  if (phkResult && (!lpSubKey || !*lpSubKey)) {
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  return OpenKeyWith(hKey, lpSubKey, MAXIMUM_ALLOWED, phkResult);
}

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM samDesired,
                        const LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (!phkResult || !lpSubKey) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  Session session(Access::kWrite);
  int64_t base, id;
  LSTATUS rc = session.Resolve(hKey, 0, &base);
  if (rc != ERROR_SUCCESS) return rc;
  // Creating needs KEY_CREATE_SUB_KEY on the parent handle; opening does not.
  bool mayCreate = session.Resolve(hKey, KEY_CREATE_SUB_KEY, &base) == ERROR_SUCCESS;
  bool created = false;
  rc = session.Walk(base, lpSubKey, true, mayCreate, &id, &created);
  if (rc != ERROR_SUCCESS) return rc;
  rc = session.Finish(ERROR_SUCCESS);
  if (rc != ERROR_SUCCESS) return rc;
  *phkResult = session.NewHandle(id, EffectiveAccess(samDesired));
  if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY hKey) {
  for (const Root& root : kRoots) {
    if (hKey == root.handle) return ERROR_SUCCESS;
  }
  Registry& registry = State();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.cursors.erase(reinterpret_cast<uintptr_t>(hKey));
  return registry.handles.erase(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS
                                                                   : ERROR_INVALID_HANDLE;
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData) {
  if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
  Session session(Access::kQuery);
  int64_t id;
  LSTATUS rc = session.ResolveHandle(hKey, KEY_QUERY_VALUE, &id);
  if (rc != ERROR_SUCCESS) return rc;
  const char* name = lpValueName ? lpValueName : "";
  std::string fold = Fold(name, std::strlen(name));
  std::string cacheKey = ValueCache::KeyOf(id, fold);
  unsigned char header[IndexView::kHeader];
  bool indexed;
  if (const ValueCache::Entry* cached = session.Cached(cacheKey, header, &indexed)) {
    if (lpType) *lpType = cached->type;
    return CopyBytes(cached->data.data(), cached->data.size(), lpData, lpcbData);
  }
  sqlite3_stmt* s = session.Statement("SELECT type, data FROM value WHERE key = ?1 AND fold = ?2");
  if (!s) return ERROR_REGISTRY_IO_FAILED;
  sqlite3_bind_int64(s, 1, id);
  sqlite3_bind_blob(s, 2, fold.data(), static_cast<int>(fold.size()), SQLITE_STATIC);
  ResetOnExit resetLater(s);
  int step = sqlite3_step(s);
  if (step == SQLITE_DONE) {
    rc = session.Exists(id);
    return rc == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : rc;
  }
  if (step != SQLITE_ROW) return ERROR_REGISTRY_IO_FAILED;
  DWORD type = static_cast<DWORD>(sqlite3_column_int64(s, 0));
  if (indexed) {
    session.Keep(cacheKey, header, type, sqlite3_column_blob(s, 1),
                 static_cast<size_t>(sqlite3_column_bytes(s, 1)));
  }
  if (lpType) *lpType = type;
  return CopyData(s, 1, lpData, lpcbData);  // the query's transaction ends with its reset
}

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                       DWORD cbData) {
  const char* name = lpValueName ? lpValueName : "";
  size_t length = std::strlen(name);
  if (length > kMaxValueName || (!lpData && cbData)) return ERROR_INVALID_PARAMETER;
  Session session(Access::kWrite);
  int64_t id;
  LSTATUS rc = session.Resolve(hKey, KEY_SET_VALUE, &id);
  if (rc != ERROR_SUCCESS) return rc;
  std::string fold = Fold(name, length);
  // A value set again keeps its place and the spelling of its name.
  sqlite3_stmt* s = session.Statement(
      "INSERT INTO value(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
      "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
  if (!s) return ERROR_REGISTRY_IO_FAILED;
  sqlite3_bind_int64(s, 1, id);
  sqlite3_bind_blob(s, 2, name, static_cast<int>(length), SQLITE_STATIC);
  sqlite3_bind_blob(s, 3, fold.data(), static_cast<int>(fold.size()), SQLITE_STATIC);
  sqlite3_bind_int64(s, 4, dwType);
  sqlite3_bind_blob(s, 5, cbData ? lpData : reinterpret_cast<const BYTE*>(""), cbData,
                    SQLITE_STATIC);
  if (!session.Run(s) || !session.Touch(id)) return ERROR_REGISTRY_IO_FAILED;
  return session.Finish(ERROR_SUCCESS);
}

LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  Session session(Access::kWrite);
  int64_t id;
  LSTATUS rc = session.Resolve(hKey, KEY_SET_VALUE, &id);
  if (rc != ERROR_SUCCESS) return rc;
  const char* name = lpValueName ? lpValueName : "";
  std::string fold = Fold(name, std::strlen(name));
  sqlite3_stmt* s = session.Statement("DELETE FROM value WHERE key = ?1 AND fold = ?2");
  if (!s) return ERROR_REGISTRY_IO_FAILED;
  sqlite3_bind_int64(s, 1, id);
  sqlite3_bind_blob(s, 2, fold.data(), static_cast<int>(fold.size()), SQLITE_STATIC);
  if (!session.Run(s)) return ERROR_REGISTRY_IO_FAILED;
  if (sqlite3_changes(State().db) == 0) return ERROR_FILE_NOT_FOUND;
  if (!session.Touch(id)) return ERROR_REGISTRY_IO_FAILED;
  return session.Finish(ERROR_SUCCESS);
}

LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  Session session(Access::kWrite);
  int64_t base, id;
  LSTATUS rc = session.Resolve(hKey, 0, &base);
  if (rc == ERROR_SUCCESS) rc = session.Walk(base, lpSubKey, false, false, &id);
  if (rc != ERROR_SUCCESS) return rc;
  if (session.IsRoot(id)) return ERROR_ACCESS_DENIED;
  sqlite3_stmt* s = session.Statement("SELECT 1 FROM key WHERE parent = ?1 LIMIT 1");
  if (!s) return ERROR_REGISTRY_IO_FAILED;
  sqlite3_bind_int64(s, 1, id);
  int step = sqlite3_step(s);
  sqlite3_reset(s);
  if (step == SQLITE_ROW) return ERROR_ACCESS_DENIED;
  if (step != SQLITE_DONE || !session.DeleteTree(id)) return ERROR_REGISTRY_IO_FAILED;
  return session.Finish(ERROR_SUCCESS);
}

LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD,
                      LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
  Session session(Access::kRead);
  sqlite3_stmt* row = nullptr;
  ResetOnExit resetLater(row);
  LSTATUS rc = EnumerationRow(session, hKey, KEY_ENUMERATE_SUB_KEYS, kSubKeys, dwIndex, row);
  if (rc != ERROR_SUCCESS) return rc;
  rc = CopyName(row, 0, lpName, lpcchName);
  if (lpClass && lpcchClass && *lpcchClass > 0) lpClass[0] = 0;
  if (lpcchClass) *lpcchClass = 0;
  if (lpftLastWriteTime) {
    uint64_t written = static_cast<uint64_t>(sqlite3_column_int64(row, 1));
    lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(written);
    lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(written >> 32);
  }
  return rc;  // the read transaction ends with the session
}

LSTATUS RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (!lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  Session session(Access::kRead);
  sqlite3_stmt* row = nullptr;
  ResetOnExit resetLater(row);
  LSTATUS rc = EnumerationRow(session, hKey, KEY_QUERY_VALUE, kValues, dwIndex, row);
  if (rc != ERROR_SUCCESS) return rc;
  rc = CopyName(row, 0, lpValueName, lpcchValueName);
  if (lpType) *lpType = static_cast<DWORD>(sqlite3_column_int64(row, 1));
  LSTATUS data = CopyData(row, 2, lpData, lpcbData);
  return rc != ERROR_SUCCESS ? rc : data;  // the read transaction ends with the session
}

LSTATUS RegRenameKey(HKEY hKey, LPCWSTR lpSubKeyName, LPCWSTR lpNewKeyName) {
  std::string subKey = NarrowName(lpSubKeyName);
  std::string newName = NarrowName(lpNewKeyName);
  if (newName.empty() || newName.size() > kMaxKeyName || newName.find('\\') != std::string::npos) {
    return ERROR_INVALID_PARAMETER;
  }
  Session session(Access::kWrite);
  int64_t base, id;
  LSTATUS rc = session.Resolve(hKey, KEY_WRITE, &base);
  if (rc == ERROR_SUCCESS) rc = session.Walk(base, subKey.c_str(), false, false, &id);
  if (rc != ERROR_SUCCESS) return rc;
  if (session.IsRoot(id)) return ERROR_ACCESS_DENIED;
  std::string fold = Fold(newName.data(), newName.size());
  sqlite3_stmt* s = session.Statement(
      "SELECT 1 FROM key WHERE parent = (SELECT parent FROM key WHERE id = ?1) AND fold = ?2 "
      "AND id <> ?1");
  if (!s) return ERROR_REGISTRY_IO_FAILED;
  sqlite3_bind_int64(s, 1, id);
  sqlite3_bind_blob(s, 2, fold.data(), static_cast<int>(fold.size()), SQLITE_STATIC);
  int step = sqlite3_step(s);
  sqlite3_reset(s);
  if (step == SQLITE_ROW) return ERROR_ALREADY_EXISTS;
  if (step != SQLITE_DONE) return ERROR_REGISTRY_IO_FAILED;
  s = session.Statement("UPDATE key SET name = ?2, fold = ?3, written = ?4 WHERE id = ?1");
  if (!s) return ERROR_REGISTRY_IO_FAILED;
  sqlite3_bind_int64(s, 1, id);
  sqlite3_bind_blob(s, 2, newName.data(), static_cast<int>(newName.size()), SQLITE_STATIC);
  sqlite3_bind_blob(s, 3, fold.data(), static_cast<int>(fold.size()), SQLITE_STATIC);
  sqlite3_bind_int64(s, 4, FileTimeNow());
  if (!session.Run(s)) return ERROR_REGISTRY_IO_FAILED;
  return session.Finish(ERROR_SUCCESS);
}

namespace standin {

LSTATUS RegistryDeleteTree(HKEY key, const char* subKey) {
  Session session(Access::kWrite);
  int64_t base, id;
  LSTATUS rc = session.Resolve(key, 0, &base);
  if (rc == ERROR_SUCCESS) rc = session.Walk(base, subKey, false, false, &id);
  if (rc != ERROR_SUCCESS) return rc;
  if (session.IsRoot(id)) return ERROR_ACCESS_DENIED;
  if (!session.DeleteTree(id)) return ERROR_REGISTRY_IO_FAILED;
  return session.Finish(ERROR_SUCCESS);
}

LSTATUS RegistryCopyTree(HKEY source, const char* subKey, HKEY destination) {
  Session session(Access::kWrite);
  int64_t base, from, to;
  bool whole = !subKey || !*subKey;
  LSTATUS rc = session.Resolve(source, whole ? KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS : 0, &base);
  if (rc == ERROR_SUCCESS) rc = session.Walk(base, subKey, false, false, &from);
  if (rc == ERROR_SUCCESS)
    rc = session.Resolve(destination, KEY_SET_VALUE | KEY_CREATE_SUB_KEY, &to);
  if (rc != ERROR_SUCCESS) return rc;

  // Take the source tree before writing, so that a destination inside it
  // is copied once and not again and again.
  struct Node {
    int64_t id, parent;
    std::string name;
  };
  std::vector<Node> tree;
  sqlite3_stmt* s = session.Statement(
      TREE_OF_1 " SELECT key.id, key.parent, key.name FROM tree JOIN key ON key.id = tree.id");
  if (!s) return ERROR_REGISTRY_IO_FAILED;
  sqlite3_bind_int64(s, 1, from);
  int step;
  while ((step = sqlite3_step(s)) == SQLITE_ROW) {
    const char* name = static_cast<const char*>(sqlite3_column_blob(s, 2));
    tree.push_back({sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 1),
                    std::string(name ? name : "", sqlite3_column_bytes(s, 2))});
  }
  sqlite3_reset(s);
  if (step != SQLITE_DONE) return ERROR_REGISTRY_IO_FAILED;

  std::unordered_map<int64_t, int64_t> copyOf;
  copyOf[from] = to;
  for (const Node& node : tree) {
    if (node.id != from) {
      int64_t parent = copyOf[node.parent];
      int64_t child = session.Child(parent, Fold(node.name.data(), node.name.size()));
      if (child == 0) child = session.AddChild(parent, node.name.data(), node.name.size());
      if (child < 0) return ERROR_REGISTRY_IO_FAILED;
      copyOf[node.id] = child;
    }
    s = session.Statement(
        "INSERT INTO value(key, name, fold, type, data) "
        "SELECT ?2, name, fold, type, data FROM value WHERE key = ?1 ORDER BY seq "
        "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
    if (!s) return ERROR_REGISTRY_IO_FAILED;
    sqlite3_bind_int64(s, 1, node.id);
    sqlite3_bind_int64(s, 2, copyOf[node.id]);
    if (!session.Run(s) || !session.Touch(copyOf[node.id])) return ERROR_REGISTRY_IO_FAILED;
  }
  return session.Finish(ERROR_SUCCESS);
}

}  // namespace standin
