#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <string>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "internal.h"
#include "winreg.h"

using platform_internal::fromUtf8;
using platform_internal::toUtf8;

namespace {

// Keys are rows of one table, linked by parent id; the two roots have fixed
// ids. NOCASE collation gives the platform's case-insensitive names. Ids are
// never reused, so that a handle to a deleted key cannot reach a new one.
const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE, UNIQUE(parent, name));"
    "CREATE TABLE IF NOT EXISTS vals(key INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL, data BLOB, PRIMARY KEY(key, name));"
    "INSERT OR IGNORE INTO keys(id, parent, name) VALUES(1, 0, 'HKEY_CLASSES_ROOT');"
    "INSERT OR IGNORE INTO keys(id, parent, name) VALUES(2, 0, 'HKEY_LOCAL_MACHINE');";

constexpr int64_t kNoKey = -1;

struct Store {
    std::recursive_mutex lock;
    sqlite3* db = nullptr;
    std::string path;
    int batchDepth = 0;
    bool batchFailed = false;
    // Runs at exit, or when the module holding this copy is unloaded.
    ~Store() {
        if (db != nullptr) sqlite3_close(db);
    }
};

Store& store() {
    static Store s;
    return s;
}

std::string registryPath() {
    if (const char* p = std::getenv("SONADEC_REGISTRY"); p != nullptr && *p != '\0') return p;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && *xdg != '\0') return std::string(xdg).append("/sonadec/registry.db");
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') return std::string(home).append("/.local/share/sonadec/registry.db");
    return std::string("sonadec-registry.db");
}

// The database of the path currently named by the environment; reopened
// when that changes (tests switch registries between cases).
sqlite3* database() {
    Store& s = store();
    const std::string path = registryPath();
    if (s.db != nullptr && path == s.path) return s.db;
    if (s.batchDepth > 0) return s.db;
    if (s.db != nullptr) sqlite3_close(s.db);
    s.db = nullptr;
    std::error_code ec;
    const std::filesystem::path dir = std::filesystem::path(path).parent_path();
    if (!dir.empty()) std::filesystem::create_directories(dir, ec);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 30000);
    // WAL lets readers in other processes go on while a registration writes.
    sqlite3_exec(db, "PRAGMA journal_mode=WAL;", nullptr, nullptr, nullptr);
    if (sqlite3_exec(db, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    s.db = db;
    s.path = path;
    return db;
}

class Stmt {
public:
    Stmt(sqlite3* db, const char* sql) {
        if (db != nullptr) sqlite3_prepare_v2(db, sql, -1, &st_, nullptr);
    }
    ~Stmt() { sqlite3_finalize(st_); }
    bool ok() const { return st_ != nullptr; }
    Stmt& bind(int i, int64_t v) {
        sqlite3_bind_int64(st_, i, v);
        return *this;
    }
    Stmt& bind(int i, const std::string& v) {
        sqlite3_bind_text(st_, i, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& bindBlob(int i, const void* p, size_t n) {
        sqlite3_bind_blob(st_, i, n ? p : "", static_cast<int>(n), SQLITE_TRANSIENT);
        return *this;
    }
    int step() { return st_ ? sqlite3_step(st_) : SQLITE_ERROR; }
    int64_t col(int i) { return sqlite3_column_int64(st_, i); }
    std::string text(int i) {
        const unsigned char* t = sqlite3_column_text(st_, i);
        return t ? reinterpret_cast<const char*>(t) : "";
    }
    const void* blob(int i) { return sqlite3_column_blob(st_, i); }
    int bytes(int i) { return sqlite3_column_bytes(st_, i); }
private:
    sqlite3_stmt* st_ = nullptr;
};

// Open keys: handle value -> row id. Handle values are never reused, and a
// value that is not in the table is refused without being dereferenced.
struct Handles {
    std::unordered_map<uintptr_t, int64_t> open;
    uintptr_t next = 0x10000;
};

Handles& handles() {
    static Handles h;
    return h;
}

// Test hook: SONADEC_REGISTRY_EXIT_AFTER=k ends the process right after the
// k-th registry write, as a crash or a kill would.
void noteWrite() {
    static long writes = 0;
    static const char* limit = std::getenv("SONADEC_REGISTRY_EXIT_AFTER");
    if (limit == nullptr) return;
    if (++writes >= std::atol(limit)) _exit(86);
}

int64_t rootId(HKEY key) {
    if (key == HKEY_CLASSES_ROOT) return 1;
    if (key == HKEY_LOCAL_MACHINE) return 2;
    return kNoKey;
}

bool keyExists(sqlite3* db, int64_t id) {
    Stmt q(db, "SELECT 1 FROM keys WHERE id = ?1");
    return q.bind(1, id).step() == SQLITE_ROW;
}

// Resolves a handle to a key id: ERROR_INVALID_HANDLE for a bad handle,
// ERROR_KEY_DELETED when the key went away since it was opened.
LONG handleId(sqlite3* db, HKEY key, int64_t* id) {
    if (key == nullptr) return ERROR_INVALID_HANDLE;
    const int64_t root = rootId(key);
    if (root != kNoKey) {
        *id = root;
        return ERROR_SUCCESS;
    }
    const auto it = handles().open.find(reinterpret_cast<uintptr_t>(key));
    if (it == handles().open.end()) return ERROR_INVALID_HANDLE;
    if (!keyExists(db, it->second)) return ERROR_KEY_DELETED;
    *id = it->second;
    return ERROR_SUCCESS;
}

std::vector<std::string> splitPath(LPCWSTR subKey) {
    std::vector<std::string> parts;
    if (subKey == nullptr) return parts;
    std::wstring cur;
    for (const wchar_t* p = subKey; *p; ++p) {
        if (*p == L'\\') {
            if (!cur.empty()) parts.push_back(toUtf8(cur));
            cur.clear();
        } else {
            cur += *p;
        }
    }
    if (!cur.empty()) parts.push_back(toUtf8(cur));
    return parts;
}

int64_t childId(sqlite3* db, int64_t parent, const std::string& name) {
    Stmt q(db, "SELECT id FROM keys WHERE parent = ?1 AND name = ?2");
    if (q.bind(1, parent).bind(2, name).step() == SQLITE_ROW) return q.col(0);
    return kNoKey;
}

HKEY newHandle(int64_t id) {
    Handles& h = handles();
    const uintptr_t value = h.next;
    h.next += 4;
    h.open.emplace(value, id);
    return reinterpret_cast<HKEY>(value);
}

bool exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

} // namespace

namespace platform_internal {

RegistryBatch::RegistryBatch() {
    Store& s = store();
    s.lock.lock();
    sqlite3* db = database();
    if (db == nullptr) return;
    if (s.batchDepth == 0) {
        if (!exec(db, "BEGIN IMMEDIATE;")) return;
        s.batchFailed = false;
    }
    ++s.batchDepth;
    begun_ = true;
}

RegistryBatch::~RegistryBatch() {
    Store& s = store();
    if (begun_) {
        if (failed_) s.batchFailed = true;
        if (--s.batchDepth == 0) {
            if (s.batchFailed || !exec(s.db, "COMMIT;")) exec(s.db, "ROLLBACK;");
        }
    }
    s.lock.unlock();
}

} // namespace platform_internal

RegistryTransaction::RegistryTransaction() : batch_(new (std::nothrow) platform_internal::RegistryBatch) {}

RegistryTransaction::~RegistryTransaction() { delete batch_; }

void RegistryTransaction::fail() {
    if (batch_ != nullptr) batch_->fail();
}

bool RegistryTransaction::ok() const { return batch_ != nullptr && batch_->ok(); }

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM,
                     LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    platform_internal::RegistryBatch batch;
    if (!batch.ok()) return ERROR_BADDB;
    sqlite3* db = database();
    int64_t id;
    if (LONG e = handleId(db, key, &id); e != ERROR_SUCCESS) return e;
    DWORD disp = REG_OPENED_EXISTING_KEY;
    for (const std::string& part : splitPath(subKey)) {
        int64_t next = childId(db, id, part);
        if (next == kNoKey) {
            Stmt ins(db, "INSERT INTO keys(parent, name) VALUES(?1, ?2)");
            if (ins.bind(1, id).bind(2, part).step() != SQLITE_DONE) {
                batch.fail();
                return ERROR_CANTWRITE;
            }
            next = sqlite3_last_insert_rowid(db);
            disp = REG_CREATED_NEW_KEY;
            noteWrite();
        }
        id = next;
    }
    HKEY h = newHandle(id);
    if (h == nullptr) {
        batch.fail();
        return ERROR_OUTOFMEMORY;
    }
    *result = h;
    if (disposition != nullptr) *disposition = disp;
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, PHKEY result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> g(store().lock);
    sqlite3* db = database();
    if (db == nullptr) return ERROR_BADDB;
    int64_t id;
    if (LONG e = handleId(db, key, &id); e != ERROR_SUCCESS) return e;
    for (const std::string& part : splitPath(subKey)) {
        id = childId(db, id, part);
        if (id == kNoKey) return ERROR_FILE_NOT_FOUND;
    }
    HKEY h = newHandle(id);
    if (h == nullptr) return ERROR_OUTOFMEMORY;
    *result = h;
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (key == nullptr) return ERROR_INVALID_HANDLE;
    if (rootId(key) != kNoKey) return ERROR_SUCCESS;
    std::lock_guard<std::recursive_mutex> g(store().lock);
    return handles().open.erase(reinterpret_cast<uintptr_t>(key)) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD cbData) {
    if (data != nullptr && cbData == nullptr) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> g(store().lock);
    sqlite3* db = database();
    if (db == nullptr) return ERROR_BADDB;
    int64_t id;
    if (LONG e = handleId(db, key, &id); e != ERROR_SUCCESS) return e;
    Stmt q(db, "SELECT type, data FROM vals WHERE key = ?1 AND name = ?2");
    if (q.bind(1, id).bind(2, toUtf8(name ? name : L"")).step() != SQLITE_ROW)
        return ERROR_FILE_NOT_FOUND;
    if (type != nullptr) *type = static_cast<DWORD>(q.col(0));
    const DWORD size = static_cast<DWORD>(q.bytes(1));
    if (cbData == nullptr) return ERROR_SUCCESS;
    const DWORD room = *cbData;
    *cbData = size;
    if (data == nullptr) return ERROR_SUCCESS;
    if (room < size) return ERROR_MORE_DATA;
    if (size) std::memcpy(data, q.blob(1), size);
    return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD cbData) {
    if (data == nullptr && cbData != 0) return ERROR_INVALID_PARAMETER;
    if (type == REG_DWORD && cbData != sizeof(DWORD)) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> g(store().lock);
    sqlite3* db = database();
    if (db == nullptr) return ERROR_BADDB;
    int64_t id;
    if (LONG e = handleId(db, key, &id); e != ERROR_SUCCESS) return e;
    Stmt up(db, "INSERT OR REPLACE INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4)");
    up.bind(1, id).bind(2, toUtf8(name ? name : L"")).bind(3, type).bindBlob(4, data, cbData);
    if (up.step() != SQLITE_DONE) return ERROR_CANTWRITE;
    noteWrite();
    return ERROR_SUCCESS;
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    if (subKey == nullptr || *subKey == L'\0') return ERROR_INVALID_PARAMETER;
    platform_internal::RegistryBatch batch;
    if (!batch.ok()) return ERROR_BADDB;
    sqlite3* db = database();
    int64_t id;
    if (LONG e = handleId(db, key, &id); e != ERROR_SUCCESS) return e;
    for (const std::string& part : splitPath(subKey)) {
        id = childId(db, id, part);
        if (id == kNoKey) return ERROR_FILE_NOT_FOUND;
    }
    Stmt kids(db, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
    if (kids.bind(1, id).step() == SQLITE_ROW) return ERROR_ACCESS_DENIED;
    Stmt dv(db, "DELETE FROM vals WHERE key = ?1");
    Stmt dk(db, "DELETE FROM keys WHERE id = ?1");
    if (dv.bind(1, id).step() != SQLITE_DONE || dk.bind(1, id).step() != SQLITE_DONE) {
        batch.fail();
        return ERROR_CANTWRITE;
    }
    noteWrite();
    return ERROR_SUCCESS;
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name) {
    std::lock_guard<std::recursive_mutex> g(store().lock);
    sqlite3* db = database();
    if (db == nullptr) return ERROR_BADDB;
    int64_t id;
    if (LONG e = handleId(db, key, &id); e != ERROR_SUCCESS) return e;
    Stmt d(db, "DELETE FROM vals WHERE key = ?1 AND name = ?2");
    if (d.bind(1, id).bind(2, toUtf8(name ? name : L"")).step() != SQLITE_DONE) return ERROR_CANTWRITE;
    if (sqlite3_changes(db) == 0) return ERROR_FILE_NOT_FOUND;
    noteWrite();
    return ERROR_SUCCESS;
}

namespace {

LONG copyName(const std::string& utf8, LPWSTR out, LPDWORD cch) {
    const std::wstring w = fromUtf8(utf8);
    if (out == nullptr || cch == nullptr) return ERROR_INVALID_PARAMETER;
    if (*cch <= w.size()) {
        *cch = static_cast<DWORD>(w.size() + 1);
        return ERROR_MORE_DATA;
    }
    std::wmemcpy(out, w.c_str(), w.size() + 1);
    *cch = static_cast<DWORD>(w.size());
    return ERROR_SUCCESS;
}

} // namespace

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD cchName, LPDWORD, LPWSTR,
                   LPDWORD, PFILETIME) {
    std::lock_guard<std::recursive_mutex> g(store().lock);
    sqlite3* db = database();
    if (db == nullptr) return ERROR_BADDB;
    int64_t id;
    if (LONG e = handleId(db, key, &id); e != ERROR_SUCCESS) return e;
    Stmt q(db, "SELECT name FROM keys WHERE parent = ?1 ORDER BY name LIMIT 1 OFFSET ?2");
    if (q.bind(1, id).bind(2, static_cast<int64_t>(index)).step() != SQLITE_ROW)
        return ERROR_NO_MORE_ITEMS;
    return copyName(q.text(0), name, cchName);
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD cchName, LPDWORD, LPDWORD type,
                   LPBYTE data, LPDWORD cbData) {
    std::lock_guard<std::recursive_mutex> g(store().lock);
    sqlite3* db = database();
    if (db == nullptr) return ERROR_BADDB;
    int64_t id;
    if (LONG e = handleId(db, key, &id); e != ERROR_SUCCESS) return e;
    Stmt q(db, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY name LIMIT 1 OFFSET ?2");
    if (q.bind(1, id).bind(2, static_cast<int64_t>(index)).step() != SQLITE_ROW)
        return ERROR_NO_MORE_ITEMS;
    if (LONG e = copyName(q.text(0), name, cchName); e != ERROR_SUCCESS) return e;
    if (type != nullptr) *type = static_cast<DWORD>(q.col(1));
    if (cbData != nullptr) {
        const DWORD size = static_cast<DWORD>(q.bytes(2));
        const DWORD room = *cbData;
        *cbData = size;
        if (data != nullptr) {
            if (room < size) return ERROR_MORE_DATA;
            if (size) std::memcpy(data, q.blob(2), size);
        }
    }
    return ERROR_SUCCESS;
}
