// The emulated registry: one SQLite database per root.
//
// Keys form a tree in table reg_key (parent id, name); values live in
// reg_value. Names use SQLite's NOCASE collation, which folds ASCII only,
// exactly Windows' rule for 8-bit names; the written case is kept. Value data
// is a BLOB, so type, bytes and byte count come back exactly as written.
//
// Several processes share the database: WAL journal, a generous busy time-out,
// and every operation inside one transaction, so a reader sees a value whole
// or not at all and a created path of keys appears at once.
//
// Handles are process-local numbers mapped to key ids. Key ids are never
// reused (AUTOINCREMENT), so a handle to a key deleted meanwhile keeps
// pointing at nothing and reports kErrorKeyDeleted.
#include <sqlite3.h>

#include <cstring>
#include <map>
#include <mutex>
#include <optional>

#include "platform/posix/posix_internal.h"

namespace sx::posix {

namespace {

constexpr long kErrorBadPathname = 161;
constexpr long kErrorRegistryIoFailed = 1016;
constexpr int kBusyTimeoutMs = 15000;

constexpr int64_t kIdLocalMachine = 1;
constexpr int64_t kIdCurrentUser = 2;
constexpr int64_t kIdUsers = 3;

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS reg_key("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " UNIQUE(parent, name));"
    "CREATE TABLE IF NOT EXISTS reg_value("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " key INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " UNIQUE(key, name));"
    "INSERT OR IGNORE INTO reg_key(id, parent, name) VALUES"
    " (1, 0, 'HKEY_LOCAL_MACHINE'), (2, 0, 'HKEY_CURRENT_USER'), (3, 0, 'HKEY_USERS');";

// A prepared statement that finalizes itself.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    Statement& bind(int i, int64_t v) {
        sqlite3_bind_int64(stmt_, i, v);
        return *this;
    }
    Statement& bind(int i, const std::string& v) {
        sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind_blob(int i, const void* data, uint32_t size) {
        // A null pointer would bind SQL NULL; an empty value is a zero-length blob.
        if (size == 0)
            sqlite3_bind_zeroblob(stmt_, i, 0);
        else
            sqlite3_bind_blob(stmt_, i, data, static_cast<int>(size), SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error.
    int step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
    int64_t column_int(int i) { return sqlite3_column_int64(stmt_, i); }
    std::string column_text(int i) {
        const unsigned char* t = sqlite3_column_text(stmt_, i);
        return t ? std::string(reinterpret_cast<const char*>(t),
                               static_cast<size_t>(sqlite3_column_bytes(stmt_, i)))
                 : std::string();
    }
    std::string column_blob(int i) {
        const void* b = sqlite3_column_blob(stmt_, i);
        int n = sqlite3_column_bytes(stmt_, i);
        return b ? std::string(static_cast<const char*>(b), static_cast<size_t>(n)) : std::string();
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

bool exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// One transaction; rolled back unless committed.
class Transaction {
public:
    Transaction(sqlite3* db, bool write) : db_(db) {
        active_ = exec(db, write ? "BEGIN IMMEDIATE" : "BEGIN");
    }
    ~Transaction() {
        if (active_) exec(db_, "ROLLBACK");
    }
    bool active() const { return active_; }
    bool commit() {
        if (!active_) return false;
        active_ = false;
        if (exec(db_, "COMMIT")) return true;
        exec(db_, "ROLLBACK");
        return false;
    }

private:
    sqlite3* db_;
    bool active_;
};

// Splits "a\b\c\" into its names. A leading backslash is refused as Windows
// does; a trailing one is accepted.
bool split_key_path(const char* subkey, std::vector<std::string>* parts) {
    parts->clear();
    if (!subkey || !*subkey) return true;
    if (subkey[0] == '\\') return false;
    std::string part;
    for (const char* p = subkey;; ++p) {
        if (*p == '\\' || *p == '\0') {
            if (!part.empty()) parts->push_back(part);
            part.clear();
            if (*p == '\0') break;
        } else {
            part += *p;
        }
    }
    return true;
}

// What advapi32 accepts: longer names and deeper trees could be written but
// not enumerated back by callers that size their buffers by these limits.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
constexpr int kMaxKeyDepth = 512;

bool names_fit(const std::vector<std::string>& parts) {
    for (const std::string& part : parts)
        if (part.size() > kMaxKeyNameLength) return false;
    return true;
}

std::string value_name(const char* name) { return name ? std::string(name) : std::string(); }

}  // namespace

struct Registry::State {
    std::string path;
    sqlite3* db = nullptr;
    bool open_failed = false;
    std::mutex mutex;
    struct Handle {
        int64_t id;
        uint32_t access;
    };
    std::map<RegKey, Handle> handles;
    RegKey next_handle = 0x1000;

    bool open() {
        if (db) return true;
        if (open_failed) return false;
        if (sqlite3_open_v2(path.c_str(), &db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            db = nullptr;
            open_failed = true;
            return false;
        }
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        // Switching to WAL needs a moment alone with the file; another process
        // doing the same gives SQLITE_BUSY without the busy handler, so retry.
        for (int attempt = 0; attempt < 200; ++attempt) {
            Statement mode(db, "PRAGMA journal_mode=WAL");
            if (mode.step() == SQLITE_ROW) break;
            sqlite3_sleep(25);
        }
        exec(db, "PRAGMA synchronous=NORMAL");
        {
            Transaction t(db, true);
            if (!t.active() || !exec(db, kSchema) || !t.commit()) {
                sqlite3_close(db);
                db = nullptr;
                open_failed = true;
                return false;
            }
        }
        return true;
    }

    bool key_exists(int64_t id) {
        Statement s(db, "SELECT 1 FROM reg_key WHERE id = ?");
        s.bind(1, id);
        return s.step() == SQLITE_ROW;
    }

    // The child named `name` of `parent`, or 0.
    int64_t find_child(int64_t parent, const std::string& name) {
        Statement s(db, "SELECT id FROM reg_key WHERE parent = ? AND name = ?");
        s.bind(1, parent).bind(2, name);
        return s.step() == SQLITE_ROW ? s.column_int(0) : 0;
    }

    // Levels below the hive's root key (which is level 0).
    int depth(int64_t id) {
        int levels = 0;
        while (levels <= kMaxKeyDepth) {
            Statement s(db, "SELECT parent FROM reg_key WHERE id = ?");
            s.bind(1, id);
            if (s.step() != SQLITE_ROW) break;
            id = s.column_int(0);
            if (id == 0) break;
            ++levels;
        }
        return levels;
    }

    int64_t add_child(int64_t parent, const std::string& name) {
        Statement s(db, "INSERT INTO reg_key(parent, name) VALUES(?, ?)");
        s.bind(1, parent).bind(2, name);
        if (s.step() != SQLITE_DONE) return 0;
        return sqlite3_last_insert_rowid(db);
    }

    // Resolves a handle to a key id inside the current transaction.
    long resolve(RegKey key, int64_t* id, uint32_t* access) {
        *access = kKeyAllAccess;
        switch (key) {
            case kHkeyLocalMachine:
                *id = kIdLocalMachine;
                return kErrorSuccess;
            case kHkeyCurrentUser:
                *id = kIdCurrentUser;
                return kErrorSuccess;
            case kHkeyUsers:
                *id = kIdUsers;
                return kErrorSuccess;
            case kHkeyClassesRoot: {
                // HKEY_CLASSES_ROOT is HKLM\Software\Classes; made on first use.
                int64_t software = find_child(kIdLocalMachine, "Software");
                if (!software) software = add_child(kIdLocalMachine, "Software");
                int64_t classes = software ? find_child(software, "Classes") : 0;
                if (software && !classes) classes = add_child(software, "Classes");
                if (!classes) return kErrorRegistryIoFailed;
                *id = classes;
                return kErrorSuccess;
            }
            default:
                break;
        }
        auto it = handles.find(key);
        if (it == handles.end()) return kErrorInvalidHandle;
        if (!key_exists(it->second.id)) return kErrorKeyDeleted;
        *id = it->second.id;
        *access = it->second.access;
        return kErrorSuccess;
    }

    RegKey new_handle(int64_t id, uint32_t access) {
        RegKey h = next_handle;
        next_handle += 4;
        handles[h] = Handle{id, access};
        return h;
    }

    // How every operation on a key begins: take the lock, open the database,
    // start one transaction and resolve the handle inside it, then check the
    // access bit `required` (none if 0). `status` is kErrorSuccess or the error
    // the operation returns. The lock and the transaction last as long as this
    // object; the transaction rolls back unless committed.
    class KeyOperation {
    public:
        KeyOperation(State& state, RegKey key, bool write, uint32_t required = 0)
            : state_(state), lock_(state.mutex) {
            status = begin(key, write, required);
        }

        bool commit() { return transaction_->commit(); }

        long status = kErrorSuccess;
        int64_t id = 0;
        uint32_t access = 0;

    private:
        long begin(RegKey key, bool write, uint32_t required) {
            if (!state_.open()) return kErrorRegistryIoFailed;
            transaction_.emplace(state_.db, write);
            if (!transaction_->active()) return kErrorRegistryIoFailed;
            long rc = state_.resolve(key, &id, &access);
            if (rc != kErrorSuccess) return rc;
            if (required && !(access & required)) return kErrorAccessDenied;
            return kErrorSuccess;
        }

        State& state_;
        std::lock_guard<std::mutex> lock_;
        std::optional<Transaction> transaction_;
    };
};

Registry::Registry(std::string database_path) : state_(new State) {
    state_->path = std::move(database_path);
}

Registry::~Registry() {
    if (state_->db) sqlite3_close(state_->db);
    delete state_;
}

Registry& Registry::instance() {
    // Never destroyed: other static destructors may still close keys.
    static Registry* registry = new Registry(registry_path(winroot()));
    return *registry;
}

std::string registry_path(const std::string& root) { return root + "/registry.db"; }

long Registry::open_key(RegKey parent, const char* subkey, uint32_t access, RegKey* out) {
    if (!out) return kErrorInvalidParameter;
    std::vector<std::string> parts;
    if (!split_key_path(subkey, &parts)) return kErrorBadPathname;
    if (!names_fit(parts)) return kErrorInvalidParameter;
    // HKEY_CLASSES_ROOT may have to be made, so this may write.
    State::KeyOperation op(*state_, parent, parent == kHkeyClassesRoot);
    if (op.status != kErrorSuccess) return op.status;
    if (parts.empty() && parent >= kHkeyClassesRoot && parent <= kHkeyUsers) {
        op.commit();
        *out = parent;
        return kErrorSuccess;
    }
    int64_t id = op.id;
    for (const std::string& part : parts) {
        id = state_->find_child(id, part);
        if (!id) return kErrorFileNotFound;
    }
    if (!op.commit()) return kErrorRegistryIoFailed;
    *out = state_->new_handle(id, access);
    return kErrorSuccess;
}

long Registry::create_key(RegKey parent, const char* subkey, RegKey* out, bool* created) {
    if (!out) return kErrorInvalidParameter;
    std::vector<std::string> parts;
    if (!split_key_path(subkey, &parts)) return kErrorBadPathname;
    if (!names_fit(parts)) return kErrorInvalidParameter;
    State::KeyOperation op(*state_, parent, true);
    if (op.status != kErrorSuccess) return op.status;
    int64_t id = op.id;
    if (state_->depth(id) + static_cast<int>(parts.size()) > kMaxKeyDepth)
        return kErrorInvalidParameter;
    bool made = false;
    for (const std::string& part : parts) {
        int64_t child = state_->find_child(id, part);
        if (!child) {
            if (!made && !(op.access & kKeyCreateSubKey)) return kErrorAccessDenied;
            child = state_->add_child(id, part);
            if (!child) return kErrorRegistryIoFailed;
            made = true;
        } else {
            made = false;
        }
        id = child;
    }
    if (!op.commit()) return kErrorRegistryIoFailed;
    *out = state_->new_handle(id, kKeyAllAccess);
    if (created) *created = made;
    return kErrorSuccess;
}

long Registry::close_key(RegKey key) {
    if (key >= kHkeyClassesRoot && key <= kHkeyUsers) return kErrorSuccess;
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->handles.erase(key) ? kErrorSuccess : kErrorInvalidHandle;
}

long Registry::query_value(RegKey key, const char* name, uint32_t* type, void* data,
                           uint32_t* size) {
    if (data && !size) return kErrorInvalidParameter;
    State::KeyOperation op(*state_, key, key == kHkeyClassesRoot, kKeyQueryValue);
    if (op.status != kErrorSuccess) return op.status;
    Statement s(state_->db, "SELECT type, data FROM reg_value WHERE key = ? AND name = ?");
    s.bind(1, op.id).bind(2, value_name(name));
    int step = s.step();
    if (step == SQLITE_DONE) return kErrorFileNotFound;
    if (step != SQLITE_ROW) return kErrorRegistryIoFailed;
    const uint32_t stored_type = static_cast<uint32_t>(s.column_int(0));
    const std::string bytes = s.column_blob(1);
    op.commit();
    if (type) *type = stored_type;
    const uint32_t needed = static_cast<uint32_t>(bytes.size());
    if (!data) {
        if (size) *size = needed;
        return kErrorSuccess;
    }
    if (*size < needed) {
        *size = needed;
        return kErrorMoreData;
    }
    if (needed) std::memcpy(data, bytes.data(), needed);
    *size = needed;
    return kErrorSuccess;
}

long Registry::set_value(RegKey key, const char* name, uint32_t type, const void* data,
                         uint32_t size) {
    if (!data && size) return kErrorInvalidParameter;
    if (value_name(name).size() > kMaxValueNameLength) return kErrorInvalidParameter;
    State::KeyOperation op(*state_, key, true, kKeySetValue);
    if (op.status != kErrorSuccess) return op.status;
    Statement s(state_->db,
                "INSERT INTO reg_value(key, name, type, data) VALUES(?, ?, ?, ?)"
                " ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data");
    s.bind(1, op.id).bind(2, value_name(name)).bind(3, static_cast<int64_t>(type));
    s.bind_blob(4, data, size);
    if (s.step() != SQLITE_DONE) return kErrorRegistryIoFailed;
    return op.commit() ? kErrorSuccess : kErrorRegistryIoFailed;
}

long Registry::delete_value(RegKey key, const char* name) {
    State::KeyOperation op(*state_, key, true, kKeySetValue);
    if (op.status != kErrorSuccess) return op.status;
    Statement s(state_->db, "DELETE FROM reg_value WHERE key = ? AND name = ?");
    s.bind(1, op.id).bind(2, value_name(name));
    if (s.step() != SQLITE_DONE) return kErrorRegistryIoFailed;
    if (sqlite3_changes(state_->db) == 0) return kErrorFileNotFound;
    return op.commit() ? kErrorSuccess : kErrorRegistryIoFailed;
}

long Registry::delete_key(RegKey parent, const char* subkey) {
    std::vector<std::string> parts;
    if (!split_key_path(subkey, &parts)) return kErrorBadPathname;
    State::KeyOperation op(*state_, parent, true);
    if (op.status != kErrorSuccess) return op.status;
    int64_t id = op.id;
    for (const std::string& part : parts) {
        id = state_->find_child(id, part);
        if (!id) return kErrorFileNotFound;
    }
    // The roots (and HKEY_CLASSES_ROOT itself, given as an empty path) stay.
    if (id <= kIdUsers || (parts.empty() && parent == kHkeyClassesRoot)) return kErrorAccessDenied;
    {
        Statement children(state_->db, "SELECT 1 FROM reg_key WHERE parent = ? LIMIT 1");
        children.bind(1, id);
        int step = children.step();
        if (step == SQLITE_ROW) return kErrorAccessDenied;
        if (step != SQLITE_DONE) return kErrorRegistryIoFailed;
    }
    Statement values(state_->db, "DELETE FROM reg_value WHERE key = ?");
    values.bind(1, id);
    Statement key(state_->db, "DELETE FROM reg_key WHERE id = ?");
    key.bind(1, id);
    if (values.step() != SQLITE_DONE || key.step() != SQLITE_DONE) return kErrorRegistryIoFailed;
    return op.commit() ? kErrorSuccess : kErrorRegistryIoFailed;
}

long Registry::enum_key(RegKey key, uint32_t index, char* name, uint32_t* name_size) {
    if (!name || !name_size) return kErrorInvalidParameter;
    State::KeyOperation op(*state_, key, key == kHkeyClassesRoot, kKeyEnumerateSubKeys);
    if (op.status != kErrorSuccess) return op.status;
    Statement s(state_->db,
                "SELECT name FROM reg_key WHERE parent = ? ORDER BY name COLLATE NOCASE, id"
                " LIMIT 1 OFFSET ?");
    s.bind(1, op.id).bind(2, static_cast<int64_t>(index));
    int step = s.step();
    if (step == SQLITE_DONE) return kErrorNoMoreItems;
    if (step != SQLITE_ROW) return kErrorRegistryIoFailed;
    std::string found = s.column_text(0);
    op.commit();
    if (*name_size <= found.size()) return kErrorMoreData;
    std::memcpy(name, found.c_str(), found.size() + 1);
    *name_size = static_cast<uint32_t>(found.size());
    return kErrorSuccess;
}

long Registry::enum_value(RegKey key, uint32_t index, char* name, uint32_t* name_size,
                          uint32_t* type, void* data, uint32_t* data_size) {
    if (!name || !name_size || (data && !data_size)) return kErrorInvalidParameter;
    State::KeyOperation op(*state_, key, key == kHkeyClassesRoot, kKeyQueryValue);
    if (op.status != kErrorSuccess) return op.status;
    Statement s(state_->db,
                "SELECT name, type, data FROM reg_value WHERE key = ? ORDER BY id"
                " LIMIT 1 OFFSET ?");
    s.bind(1, op.id).bind(2, static_cast<int64_t>(index));
    int step = s.step();
    if (step == SQLITE_DONE) return kErrorNoMoreItems;
    if (step != SQLITE_ROW) return kErrorRegistryIoFailed;
    const std::string found = s.column_text(0);
    const uint32_t stored_type = static_cast<uint32_t>(s.column_int(1));
    const std::string bytes = s.column_blob(2);
    op.commit();
    if (*name_size <= found.size()) return kErrorMoreData;
    std::memcpy(name, found.c_str(), found.size() + 1);
    *name_size = static_cast<uint32_t>(found.size());
    if (type) *type = stored_type;
    const uint32_t needed = static_cast<uint32_t>(bytes.size());
    if (data) {
        if (*data_size < needed) {
            *data_size = needed;
            return kErrorMoreData;
        }
        if (needed) std::memcpy(data, bytes.data(), needed);
    }
    if (data_size) *data_size = needed;
    return kErrorSuccess;
}

}  // namespace sx::posix
