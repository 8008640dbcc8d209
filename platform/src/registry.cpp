// The registry: RegCreateKeyExW and its companions on one SQLite database per root
// (HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE).
//
// A database holds two tables. `keys` is the tree: every key has an id, its
// parent's id, its name as written and its folded name (the case-insensitive
// form under which Windows compares names); the root is key 1. `vals` holds the
// values of each key with their type and their data as a blob, byte for byte.
// Subkeys are enumerated in the order of their folded names, values in the order
// in which they were first written, and both orders are stable while nothing
// changes.
//
// Several processes and threads use one file at once: the database runs in WAL
// mode (readers never wait for the writer), every write is one transaction (a
// single statement, or BEGIN IMMEDIATE ... COMMIT where a write takes several), and
// a busy time-out makes a writer wait for another one instead of failing. A file
// that is not one of our databases, or whose structure SQLite finds damaged, is
// reported as ERROR_REGISTRY_CORRUPT and left exactly as it is: nothing here ever
// empties, recreates or replaces an existing file.
//
// In this process each root has one connection, guarded by its own mutex. Keys are
// handles of a small table of their own (RegCloseKey, not CloseHandle, closes them,
// as on Windows); a handle remembers its root, the key's id and the access it was
// opened with.
#include "internal.h"

#include <zanth/win32/zanthext.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace zanth::platform {

std::string UserConfigHome()
{
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
        return config;
    }
    if (const char* home = std::getenv("HOME"); home && *home) {
        return std::string(home) + "/.config";
    }
    return ".config";
}
namespace {

constexpr int kRootCount = 2;
constexpr sqlite3_int64 kRootKeyId = 1;
// "ZREG" in the database header marks a file as a registry database.
constexpr int kApplicationId = 0x5A524547;
constexpr int kSchemaVersion = 1;
// Limits of Windows: a key name (one path component) and a value name.
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;
// How long a writer waits for another process's write to end.
constexpr int kBusyTimeoutMs = 30000;
// The stored FILETIME: 100-ns steps since 1601-01-01 (Julian day 2305813.5).
constexpr const char* kNowFileTime =
    "CAST((julianday('now') - 2305813.5) * 864000000000.0 AS INTEGER)";

// Folds a name for comparison the way Windows compares key and value names: to
// upper case, one UTF-16 unit at a time, for the Latin, Greek and Cyrillic letters.
char16_t FoldUnit(char16_t c)
{
    if (c < 0x80) {
        return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
    }
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) ||
        (c >= 0x430 && c <= 0x44F)) {
        return static_cast<char16_t>(c - 0x20);
    }
    if (c == 0xFF) {
        return 0x178;
    }
    if (c >= 0x450 && c <= 0x45F) {
        return static_cast<char16_t>(c - 0x50);
    }
    // Latin Extended-A and the Cyrillic supplement pair upper and lower case as
    // even and odd neighbours (the few exceptions of Latin Extended-A keep theirs).
    if ((c >= 0x100 && c <= 0x137 && (c & 1)) || (c >= 0x14A && c <= 0x177 && (c & 1)) ||
        (c >= 0x460 && c <= 0x4BF && (c & 1))) {
        return static_cast<char16_t>(c - 1);
    }
    if ((c >= 0x139 && c <= 0x148 && !(c & 1)) || (c >= 0x179 && c <= 0x17E && !(c & 1))) {
        return static_cast<char16_t>(c - 1);
    }
    return c;
}

std::u16string Fold(const std::u16string& name)
{
    std::u16string folded(name);
    for (char16_t& c : folded) {
        c = FoldUnit(c);
    }
    return folded;
}

// A name must be well-formed UTF-16, so that it is stored and read back unchanged.
bool WellFormed(const std::u16string& text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
                return false;
            }
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

std::u16string Text16(const WCHAR* text)
{
    return text ? std::u16string(text) : std::u16string();
}

LSTATUS FromSqlite(int code)
{
    switch (code & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return ERROR_SUCCESS;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
    case SQLITE_SCHEMA:
    case SQLITE_ERROR: // a statement that does not fit the file's tables
        return ERROR_REGISTRY_CORRUPT;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return ERROR_ACCESS_DENIED;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return ERROR_BUSY;
    case SQLITE_NOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_FULL:
        return ERROR_DISK_FULL;
    case SQLITE_TOOBIG:
        return ERROR_INVALID_PARAMETER;
    case SQLITE_CANTOPEN:
        return ERROR_CANTOPEN;
    default:
        return ERROR_REGISTRY_IO_FAILED;
    }
}

std::string DefaultPath(int root)
{
    const char* variable = root == 0 ? ZANTH_REGISTRY_USER_ENV : ZANTH_REGISTRY_MACHINE_ENV;
    if (const char* path = std::getenv(variable); path && *path) {
        return path;
    }
    if (root == 1) {
        return "/var/lib/zanth/registry-machine.db";
    }
    return UserConfigHome() + "/zanth/registry-user.db";
}

// Creates the directories above `path` (like mkdir -p); errors show up at the open.
void MakeParentDirectories(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        std::string directory = path.substr(0, slash);
        if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
            return;
        }
    }
}

enum Statement
{
    kFindChild,
    kKeyExists,
    kInsertKey,
    kGetValue,
    kSetValue,
    kDeleteValue,
    kHasChildren,
    kDeleteKeyValues,
    kDeleteKey,
    kEnumKey,
    kEnumValue,
    kKeyWritten,
    kListChildren,
    kListValues,
    kStatementCount
};

const char* const kStatementText[kStatementCount] = {
    "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2",
    "SELECT 1 FROM keys WHERE id = ?1",
    "INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3)",
    "SELECT type, data FROM vals WHERE key = ?1 AND folded = ?2",
    "INSERT INTO vals(key, name, folded, type, data) SELECT ?1, ?2, ?3, ?4, ?5"
    " WHERE EXISTS(SELECT 1 FROM keys WHERE id = ?1)"
    " ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data",
    "DELETE FROM vals WHERE key = ?1 AND folded = ?2",
    "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1",
    "DELETE FROM vals WHERE key = ?1",
    "DELETE FROM keys WHERE id = ?1",
    "SELECT name, written FROM keys WHERE parent = ?1 ORDER BY folded LIMIT 1 OFFSET ?2",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    "SELECT written FROM keys WHERE id = ?1",
    "SELECT name FROM keys WHERE parent = ?1",
    "SELECT name, length(data) FROM vals WHERE key = ?1",
};

// Resets a statement when the work with it ends, so that it holds no read lock.
class Use
{
public:
    explicit Use(sqlite3_stmt* statement) : m_Statement(statement) {}
    ~Use()
    {
        sqlite3_reset(m_Statement);
        sqlite3_clear_bindings(m_Statement);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    sqlite3_stmt* operator->() const { return m_Statement; }
    operator sqlite3_stmt*() const { return m_Statement; }

private:
    sqlite3_stmt* m_Statement;
};

void BindText(sqlite3_stmt* statement, int index, const std::u16string& text)
{
    std::string utf8 = ToUtf8(text.c_str(), text.size());
    sqlite3_bind_text(statement, index, utf8.data(), static_cast<int>(utf8.size()),
                      SQLITE_TRANSIENT);
}

std::u16string ColumnText(sqlite3_stmt* statement, int column)
{
    const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    int bytes = sqlite3_column_bytes(statement, column);
    return text ? FromUtf8(text, static_cast<std::size_t>(bytes)) : std::u16string();
}

void ToFileTime(sqlite3_int64 value, PFILETIME out)
{
    if (out) {
        auto bits = static_cast<std::uint64_t>(value);
        out->dwLowDateTime = static_cast<DWORD>(bits);
        out->dwHighDateTime = static_cast<DWORD>(bits >> 32);
    }
}

// Whether a file starts with SQLite's header string (an unreadable file passes, so
// that the open reports why it cannot be read).
bool HasDatabaseHeader(const std::string& path)
{
    static const char kHeader[16] = "SQLite format 3";
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return true;
    }
    char header[16] = {};
    ssize_t got = ::read(fd, header, sizeof header);
    ::close(fd);
    return got == static_cast<ssize_t>(sizeof header) &&
           std::memcmp(header, kHeader, sizeof header) == 0;
}

// One root's database and this process's connection to it.
class Database
{
public:
    explicit Database(int root) : m_Root(root) {}

    std::mutex& Lock() { return m_Lock; }
    int Root() const { return m_Root; }

    // With Lock() held: makes sure the connection is open.
    LSTATUS EnsureOpen()
    {
        if (m_CloseNext) {
            CloseConnection();
        }
        if (m_Db) {
            return ERROR_SUCCESS;
        }
        LSTATUS status = Open();
        if (status != ERROR_SUCCESS) {
            CloseConnection();
        }
        return status;
    }

    // With Lock() held: a prepared statement of the open connection.
    sqlite3_stmt* Get(Statement which)
    {
        if (!m_Statements[which]) {
            if (sqlite3_prepare_v3(m_Db, kStatementText[which], -1, SQLITE_PREPARE_PERSISTENT,
                                   &m_Statements[which], nullptr) != SQLITE_OK) {
                m_Statements[which] = nullptr;
            }
        }
        return m_Statements[which];
    }

    // With Lock() held: runs a statement without results.
    int Exec(const char* sql) { return sqlite3_exec(m_Db, sql, nullptr, nullptr, nullptr); }

    sqlite3* Handle() const { return m_Db; }
    std::string Path() const { return m_Path.empty() ? DefaultPath(m_Root) : m_Path; }

    // With Lock() held: turns a failed step into the error code, and gives up a
    // connection that found the file damaged, so that the next call checks it anew.
    // The connection is closed when that call begins: the failing call may still
    // hold statements and a transaction of it.
    LSTATUS Failed(int code)
    {
        LSTATUS status = FromSqlite(code);
        if (status == ERROR_REGISTRY_CORRUPT) {
            m_CloseNext = true;
        }
        return status;
    }

    // With Lock() held.
    void CloseConnection()
    {
        for (sqlite3_stmt*& statement : m_Statements) {
            sqlite3_finalize(statement);
            statement = nullptr;
        }
        if (m_Db) {
            sqlite3_close_v2(m_Db);
            m_Db = nullptr;
        }
        m_Path.clear();
        m_CloseNext = false;
    }

    // In a child after fork: the parent's connection must not be used or closed
    // here (its locks belong to the parent), so it is left behind.
    void Abandon()
    {
        for (sqlite3_stmt*& statement : m_Statements) {
            statement = nullptr;
        }
        m_Db = nullptr;
        m_Path.clear();
        m_CloseNext = false;
    }

private:
    LSTATUS Open()
    {
        m_Path = DefaultPath(m_Root);
        struct stat info;
        const bool exists = ::stat(m_Path.c_str(), &info) == 0;
        if (!exists) {
            MakeParentDirectories(m_Path);
        } else if (info.st_size > 0 && !HasDatabaseHeader(m_Path)) {
            // SQLite takes a file shorter than its header for an empty database and
            // would write over it; whatever it holds is kept instead.
            return ERROR_REGISTRY_CORRUPT;
        }
        int code = sqlite3_open_v2(m_Path.c_str(), &m_Db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                   nullptr);
        if (code != SQLITE_OK) {
            sqlite3_close_v2(m_Db);
            m_Db = nullptr;
            if (exists) {
                // Readable but not writable (a machine-wide database): read only.
                code = sqlite3_open_v2(m_Path.c_str(), &m_Db,
                                       SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
                if (code != SQLITE_OK) {
                    return ::access(m_Path.c_str(), R_OK) != 0 ? ERROR_ACCESS_DENIED
                                                               : FromSqlite(code);
                }
            } else {
                // Nothing to read and no right to create it: an empty registry
                // that refuses every write.
                return OpenEmptyReadOnly();
            }
        }
        sqlite3_busy_timeout(m_Db, kBusyTimeoutMs);
        sqlite3_extended_result_codes(m_Db, 0);

        // Reading the header is the first thing: a file that is not a database at
        // all fails here, before anything could be written to it.
        int applicationId = 0;
        code = ReadInt("PRAGMA application_id", applicationId);
        if (code != SQLITE_OK) {
            return FromSqlite(code);
        }
        if (applicationId == 0) {
            return Create();
        }
        if (applicationId != kApplicationId) {
            return ERROR_REGISTRY_CORRUPT;
        }
        std::string check;
        code = ReadText("PRAGMA quick_check(1)", check);
        if (code != SQLITE_OK) {
            return FromSqlite(code) == ERROR_ACCESS_DENIED ? ERROR_ACCESS_DENIED
                                                           : ERROR_REGISTRY_CORRUPT;
        }
        if (check != "ok") {
            return ERROR_REGISTRY_CORRUPT;
        }
        if (!sqlite3_db_readonly(m_Db, "main")) {
            Exec("PRAGMA journal_mode=WAL");
        }
        Exec("PRAGMA synchronous=NORMAL");
        return ERROR_SUCCESS;
    }

    // A fresh file: the tables in one transaction, unless another process has
    // just made them. A file another process has only begun to set up may still
    // refuse the switch to WAL for a moment.
    LSTATUS Create()
    {
        if (sqlite3_db_readonly(m_Db, "main")) {
            return ERROR_ACCESS_DENIED;
        }
        int code = Exec("PRAGMA journal_mode=WAL");
        for (int attempt = 0; (code & 0xFF) == SQLITE_BUSY && attempt < kBusyTimeoutMs / 10;
             ++attempt) {
            ::usleep(10000);
            code = Exec("PRAGMA journal_mode=WAL");
        }
        if (code != SQLITE_OK) {
            return FromSqlite(code);
        }
        Exec("PRAGMA synchronous=NORMAL");
        code = Exec("BEGIN IMMEDIATE");
        if (code != SQLITE_OK) {
            return FromSqlite(code);
        }
        // Looked at again under the write lock: another process may have made the
        // tables meanwhile, and a database with tables of its own is not ours.
        int applicationId = 0;
        int tables = 0;
        code = ReadInt("PRAGMA application_id", applicationId);
        if (code == SQLITE_OK && applicationId == 0) {
            code = ReadInt("SELECT count(*) FROM sqlite_schema", tables);
        }
        if (code == SQLITE_OK && applicationId == 0 && tables != 0) {
            Exec("ROLLBACK");
            return ERROR_REGISTRY_CORRUPT;
        }
        if (code == SQLITE_OK && applicationId == 0) {
            std::string schema =
                "CREATE TABLE keys(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL,"
                " name TEXT NOT NULL, folded TEXT NOT NULL, written INTEGER NOT NULL DEFAULT "
                "0, UNIQUE(parent, folded));"
                "CREATE TABLE vals(id INTEGER PRIMARY KEY, key INTEGER NOT NULL,"
                " name TEXT NOT NULL, folded TEXT NOT NULL, type INTEGER NOT NULL,"
                " data BLOB NOT NULL, UNIQUE(key, folded));"
                "CREATE TRIGGER key_added AFTER INSERT ON keys BEGIN"
                " UPDATE keys SET written = " +
                std::string(kNowFileTime) +
                " WHERE id IN (new.id, new.parent); END;"
                "CREATE TRIGGER key_removed AFTER DELETE ON keys BEGIN"
                " UPDATE keys SET written = " +
                kNowFileTime +
                " WHERE id = old.parent; END;"
                "CREATE TRIGGER value_added AFTER INSERT ON vals BEGIN"
                " UPDATE keys SET written = " +
                kNowFileTime +
                " WHERE id = new.key; END;"
                "CREATE TRIGGER value_changed AFTER UPDATE ON vals BEGIN"
                " UPDATE keys SET written = " +
                kNowFileTime +
                " WHERE id = new.key; END;"
                "CREATE TRIGGER value_removed AFTER DELETE ON vals BEGIN"
                " UPDATE keys SET written = " +
                kNowFileTime +
                " WHERE id = old.key; END;"
                "INSERT INTO keys(id, parent, name, folded) VALUES(1, 0, '', '');"
                "PRAGMA user_version = " +
                std::to_string(kSchemaVersion) +
                ";"
                "PRAGMA application_id = " +
                std::to_string(kApplicationId) + ";";
            code = Exec(schema.c_str());
        } else if (code == SQLITE_OK && applicationId != kApplicationId) {
            Exec("ROLLBACK");
            return ERROR_REGISTRY_CORRUPT;
        }
        if (code != SQLITE_OK) {
            Exec("ROLLBACK");
            return FromSqlite(code);
        }
        code = Exec("COMMIT");
        if (code != SQLITE_OK) {
            Exec("ROLLBACK");
            return FromSqlite(code);
        }
        return ERROR_SUCCESS;
    }

    LSTATUS OpenEmptyReadOnly()
    {
        if (sqlite3_open_v2(":memory:", &m_Db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        LSTATUS status = Create();
        if (status == ERROR_SUCCESS) {
            Exec("PRAGMA query_only = 1");
        }
        return status;
    }

    int ReadInt(const char* sql, int& value)
    {
        sqlite3_stmt* statement = nullptr;
        int code = sqlite3_prepare_v2(m_Db, sql, -1, &statement, nullptr);
        if (code == SQLITE_OK) {
            code = sqlite3_step(statement);
            if (code == SQLITE_ROW) {
                value = sqlite3_column_int(statement, 0);
                code = SQLITE_OK;
            } else if (code == SQLITE_DONE) {
                code = SQLITE_OK;
            }
        }
        sqlite3_finalize(statement);
        return code;
    }

    int ReadText(const char* sql, std::string& value)
    {
        sqlite3_stmt* statement = nullptr;
        int code = sqlite3_prepare_v2(m_Db, sql, -1, &statement, nullptr);
        if (code == SQLITE_OK) {
            code = sqlite3_step(statement);
            if (code == SQLITE_ROW) {
                const unsigned char* text = sqlite3_column_text(statement, 0);
                value = text ? reinterpret_cast<const char*>(text) : "";
                code = SQLITE_OK;
            } else if (code == SQLITE_DONE) {
                code = SQLITE_OK;
            }
        }
        sqlite3_finalize(statement);
        return code;
    }

    int m_Root;
    std::mutex m_Lock;
    sqlite3* m_Db = nullptr;
    sqlite3_stmt* m_Statements[kStatementCount] = {};
    std::string m_Path;
    bool m_CloseNext = false;
};

Database& DatabaseOf(int root)
{
    // Never destroyed: keys may still be used while the process ends.
    static Database* const databases[kRootCount] = {new Database(0), new Database(1)};
    return *databases[root];
}

// --- Key handles --------------------------------------------------------------------

struct OpenKey
{
    int root;
    sqlite3_int64 id;
    REGSAM access;
};

class KeyTable
{
public:
    std::mutex& Lock() { return m_Lock; }

    HKEY Insert(const OpenKey& key)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        // Handles count up from 2^32 in steps of 4 and are never reused, so they
        // cannot be mistaken for the predefined keys or for each other.
        m_Next += 4;
        m_Keys.emplace(m_Next, key);
        return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(m_Next));
    }

    bool Find(HKEY handle, OpenKey& key)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        auto it = m_Keys.find(reinterpret_cast<std::uintptr_t>(handle));
        if (it == m_Keys.end()) {
            return false;
        }
        key = it->second;
        return true;
    }

    bool Remove(HKEY handle)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Keys.erase(reinterpret_cast<std::uintptr_t>(handle)) != 0;
    }

private:
    std::mutex m_Lock;
    std::unordered_map<std::uintptr_t, OpenKey> m_Keys;
    std::uint64_t m_Next = std::uint64_t(1) << 32;
};

KeyTable& Keys()
{
    static KeyTable* table = new KeyTable;
    return *table;
}

int PredefinedRoot(HKEY key)
{
    if (key == HKEY_CURRENT_USER) {
        return 0;
    }
    if (key == HKEY_LOCAL_MACHINE) {
        return 1;
    }
    return -1;
}

LSTATUS Resolve(HKEY handle, OpenKey& key)
{
    int root = PredefinedRoot(handle);
    if (root >= 0) {
        key = OpenKey{root, kRootKeyId, KEY_ALL_ACCESS};
        return ERROR_SUCCESS;
    }
    if (!handle || !Keys().Find(handle, key)) {
        return ERROR_INVALID_HANDLE;
    }
    return ERROR_SUCCESS;
}

REGSAM NormalizeAccess(REGSAM desired)
{
    REGSAM access = desired & 0x000F003Fu;
    if (desired & (GENERIC_READ | GENERIC_EXECUTE)) {
        access |= KEY_READ;
    }
    if (desired & GENERIC_WRITE) {
        access |= KEY_WRITE;
    }
    if (desired & (GENERIC_ALL | MAXIMUM_ALLOWED)) {
        access |= KEY_ALL_ACCESS;
    }
    return access;
}

// Splits "a\b\c" into its names. An empty path names the key itself; a path that
// starts with a backslash, holds an empty component or an over-long name is bad.
LSTATUS SplitPath(const std::u16string& path, std::vector<std::u16string>& names)
{
    if (!path.empty() && path[0] == u'\\') {
        return ERROR_BAD_PATHNAME;
    }
    if (!WellFormed(path)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string::npos) {
            end = path.size();
        }
        if (end == start) {
            return ERROR_BAD_PATHNAME;
        }
        if (end - start > kMaxKeyNameLength) {
            return ERROR_INVALID_PARAMETER;
        }
        names.push_back(path.substr(start, end - start));
        start = end + 1; // a single trailing backslash is accepted, as Windows does
    }
    return ERROR_SUCCESS;
}

// With the database lock held: does the key still exist?
LSTATUS CheckKey(Database& db, sqlite3_int64 id)
{
    sqlite3_stmt* raw = db.Get(kKeyExists);
    if (!raw) {
        return db.Failed(sqlite3_errcode(db.Handle()));
    }
    Use statement(raw);
    sqlite3_bind_int64(statement, 1, id);
    int code = sqlite3_step(statement);
    if (code == SQLITE_ROW) {
        return ERROR_SUCCESS;
    }
    return code == SQLITE_DONE ? ERROR_KEY_DELETED : db.Failed(code);
}

// With the database lock held: the child named `name` of `parent`, or 0.
LSTATUS FindChild(Database& db, sqlite3_int64 parent, const std::u16string& name,
                  sqlite3_int64& child)
{
    sqlite3_stmt* raw = db.Get(kFindChild);
    if (!raw) {
        return db.Failed(sqlite3_errcode(db.Handle()));
    }
    Use statement(raw);
    sqlite3_bind_int64(statement, 1, parent);
    BindText(statement, 2, Fold(name));
    int code = sqlite3_step(statement);
    if (code == SQLITE_ROW) {
        child = sqlite3_column_int64(statement, 0);
        return ERROR_SUCCESS;
    }
    if (code != SQLITE_DONE) {
        return db.Failed(code);
    }
    child = 0;
    return ERROR_SUCCESS;
}

// With the database lock held: walks the path below `start`. `found` is the id
// of the deepest existing key and `depth` the number of names that exist.
LSTATUS Walk(Database& db, sqlite3_int64 start, const std::vector<std::u16string>& names,
             sqlite3_int64& found, std::size_t& depth)
{
    found = start;
    depth = 0;
    for (const std::u16string& name : names) {
        sqlite3_int64 child = 0;
        LSTATUS status = FindChild(db, found, name, child);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        if (!child) {
            break;
        }
        found = child;
        ++depth;
    }
    return ERROR_SUCCESS;
}

// A transaction that takes the write lock at once and rolls back unless committed.
class WriteTransaction
{
public:
    explicit WriteTransaction(Database& db) : m_Db(db) { m_Code = db.Exec("BEGIN IMMEDIATE"); }
    ~WriteTransaction()
    {
        if (m_Code == SQLITE_OK && !m_Done) {
            m_Db.Exec("ROLLBACK");
        }
    }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    int Begun() const { return m_Code; }
    int Commit()
    {
        int code = m_Db.Exec("COMMIT");
        if (code == SQLITE_OK) {
            m_Done = true;
        }
        return code;
    }

private:
    Database& m_Db;
    int m_Code;
    bool m_Done = false;
};

// Copies a name into a caller's buffer of `*length` characters (terminator
// included). Too small: ERROR_MORE_DATA with the name's length in `*length`.
LSTATUS CopyName(const std::u16string& name, LPWSTR buffer, LPDWORD length)
{
    if (name.size() >= *length || !buffer) {
        *length = static_cast<DWORD>(name.size());
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, name.data(), name.size() * sizeof(WCHAR));
    buffer[name.size()] = 0;
    *length = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

// Copies value data as RegQueryValueExW does: a null buffer asks for the size.
LSTATUS CopyData(const void* blob, std::size_t bytes, LPBYTE data, LPDWORD size)
{
    if (!size) {
        return ERROR_SUCCESS;
    }
    LSTATUS status = ERROR_SUCCESS;
    if (data) {
        if (bytes > *size) {
            status = ERROR_MORE_DATA;
        } else if (bytes) {
            std::memcpy(data, blob, bytes);
        }
    }
    *size = static_cast<DWORD>(bytes);
    return status;
}

LSTATUS OpenOrCreate(HKEY parent, LPCWSTR subKey, REGSAM desired, bool create, PHKEY result,
                     LPDWORD disposition)
{
    if (!result) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    OpenKey key;
    LSTATUS status = Resolve(parent, key);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    std::vector<std::u16string> names;
    status = SplitPath(Text16(subKey), names);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    Database& db = DatabaseOf(key.root);
    std::lock_guard<std::mutex> guard(db.Lock());
    if ((status = db.EnsureOpen()) != ERROR_SUCCESS) {
        return status;
    }
    if ((status = CheckKey(db, key.id)) != ERROR_SUCCESS) {
        return status;
    }
    sqlite3_int64 found = 0;
    std::size_t depth = 0;
    if ((status = Walk(db, key.id, names, found, depth)) != ERROR_SUCCESS) {
        return status;
    }
    DWORD how = REG_OPENED_EXISTING_KEY;
    if (depth < names.size()) {
        if (!create) {
            return ERROR_FILE_NOT_FOUND;
        }
        if (!(key.access & KEY_CREATE_SUB_KEY)) {
            return ERROR_ACCESS_DENIED;
        }
        WriteTransaction transaction(db);
        if (transaction.Begun() != SQLITE_OK) {
            return db.Failed(transaction.Begun());
        }
        // Another process may have changed the tree since the walk above.
        if ((status = CheckKey(db, key.id)) != ERROR_SUCCESS) {
            return status;
        }
        if ((status = Walk(db, key.id, names, found, depth)) != ERROR_SUCCESS) {
            return status;
        }
        for (; depth < names.size(); ++depth) {
            sqlite3_stmt* raw = db.Get(kInsertKey);
            if (!raw) {
                return db.Failed(sqlite3_errcode(db.Handle()));
            }
            Use statement(raw);
            sqlite3_bind_int64(statement, 1, found);
            BindText(statement, 2, names[depth]);
            BindText(statement, 3, Fold(names[depth]));
            int code = sqlite3_step(statement);
            if (code != SQLITE_DONE) {
                return db.Failed(code);
            }
            found = sqlite3_last_insert_rowid(db.Handle());
            how = REG_CREATED_NEW_KEY;
        }
        int code = transaction.Commit();
        if (code != SQLITE_OK) {
            return db.Failed(code);
        }
    }
    if (disposition) {
        *disposition = how;
    }
    *result = Keys().Insert(OpenKey{key.root, found, NormalizeAccess(desired)});
    return ERROR_SUCCESS;
}

// The key, its database locked and open, for one call that needs `access`.
class KeyCall
{
public:
    KeyCall(HKEY handle, REGSAM access)
    {
        m_Status = Resolve(handle, m_Key);
        if (m_Status != ERROR_SUCCESS) {
            return;
        }
        if (access && (m_Key.access & access) != access) {
            m_Status = ERROR_ACCESS_DENIED;
            return;
        }
        m_Db = &DatabaseOf(m_Key.root);
        m_Guard = std::unique_lock<std::mutex>(m_Db->Lock());
        m_Status = m_Db->EnsureOpen();
    }
    LSTATUS Status() const { return m_Status; }
    Database& Db() { return *m_Db; }
    sqlite3_int64 Id() const { return m_Key.id; }
    int Root() const { return m_Key.root; }

private:
    OpenKey m_Key{};
    Database* m_Db = nullptr;
    std::unique_lock<std::mutex> m_Guard;
    LSTATUS m_Status;
};

// A fork while another thread is inside a call must not leave the child with a
// locked mutex or with the parent's connections.
// The locks are taken in the order the calls take them: a database's, then the
// key table's (opening a key inserts its handle with the database locked).
void BeforeFork()
{
    for (int root = 0; root < kRootCount; ++root) {
        DatabaseOf(root).Lock().lock();
    }
    Keys().Lock().lock();
}

void AfterForkParent()
{
    Keys().Lock().unlock();
    for (int root = kRootCount; root-- > 0;) {
        DatabaseOf(root).Lock().unlock();
    }
}

void AfterForkChild()
{
    Keys().Lock().unlock();
    for (int root = kRootCount; root-- > 0;) {
        DatabaseOf(root).Abandon();
        DatabaseOf(root).Lock().unlock();
    }
}

[[maybe_unused]] const bool g_ForkHandlers = [] {
    ::pthread_atfork(BeforeFork, AfterForkParent, AfterForkChild);
    return true;
}();

} // namespace
} // namespace zanth::platform

using namespace zanth::platform;

extern "C" {

LSTATUS WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR /*keyClass*/,
                               DWORD /*options*/, REGSAM desired,
                               const LPSECURITY_ATTRIBUTES /*attributes*/, PHKEY result,
                               LPDWORD disposition)
{
    if (reserved != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    return OpenOrCreate(key, subKey, desired, true, result, disposition);
}

LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD /*options*/, REGSAM desired,
                             PHKEY result)
{
    return OpenOrCreate(key, subKey, desired, false, result, nullptr);
}

LSTATUS WINAPI RegCloseKey(HKEY key)
{
    if (PredefinedRoot(key) >= 0) {
        return ERROR_SUCCESS; // closing a predefined key does nothing, as on Windows
    }
    return Keys().Remove(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD dataSize)
{
    if (reserved || (data && !dataSize)) {
        return ERROR_INVALID_PARAMETER;
    }
    KeyCall call(key, KEY_QUERY_VALUE);
    if (call.Status() != ERROR_SUCCESS) {
        return call.Status();
    }
    Database& db = call.Db();
    sqlite3_stmt* raw = db.Get(kGetValue);
    if (!raw) {
        return db.Failed(sqlite3_errcode(db.Handle()));
    }
    Use statement(raw);
    sqlite3_bind_int64(statement, 1, call.Id());
    BindText(statement, 2, Fold(Text16(valueName)));
    int code = sqlite3_step(statement);
    if (code == SQLITE_DONE) {
        LSTATUS status = CheckKey(db, call.Id());
        return status == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : status;
    }
    if (code != SQLITE_ROW) {
        return db.Failed(code);
    }
    if (type) {
        *type = static_cast<DWORD>(sqlite3_column_int64(statement, 0));
    }
    const void* blob = sqlite3_column_blob(statement, 1);
    auto bytes = static_cast<std::size_t>(sqlite3_column_bytes(statement, 1));
    return CopyData(blob, bytes, data, dataSize);
}

LSTATUS WINAPI RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD /*reserved*/, DWORD type,
                              const BYTE* data, DWORD dataSize)
{
    if (!data && dataSize) {
        return ERROR_NOACCESS;
    }
    std::u16string name = Text16(valueName);
    if (name.size() > kMaxValueNameLength || !WellFormed(name)) {
        return ERROR_INVALID_PARAMETER;
    }
    KeyCall call(key, KEY_SET_VALUE);
    if (call.Status() != ERROR_SUCCESS) {
        return call.Status();
    }
    Database& db = call.Db();
    sqlite3_stmt* raw = db.Get(kSetValue);
    if (!raw) {
        return db.Failed(sqlite3_errcode(db.Handle()));
    }
    Use statement(raw);
    sqlite3_bind_int64(statement, 1, call.Id());
    BindText(statement, 2, name);
    BindText(statement, 3, Fold(name));
    sqlite3_bind_int64(statement, 4, type);
    static const BYTE empty = 0;
    sqlite3_bind_blob(statement, 5, dataSize ? data : &empty, static_cast<int>(dataSize),
                      SQLITE_STATIC);
    int code = sqlite3_step(statement);
    if (code != SQLITE_DONE) {
        return db.Failed(code);
    }
    return sqlite3_changes(db.Handle()) == 0 ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteValueW(HKEY key, LPCWSTR valueName)
{
    KeyCall call(key, KEY_SET_VALUE);
    if (call.Status() != ERROR_SUCCESS) {
        return call.Status();
    }
    Database& db = call.Db();
    sqlite3_stmt* raw = db.Get(kDeleteValue);
    if (!raw) {
        return db.Failed(sqlite3_errcode(db.Handle()));
    }
    Use statement(raw);
    sqlite3_bind_int64(statement, 1, call.Id());
    BindText(statement, 2, Fold(Text16(valueName)));
    int code = sqlite3_step(statement);
    if (code != SQLITE_DONE) {
        return db.Failed(code);
    }
    if (sqlite3_changes(db.Handle()) == 0) {
        LSTATUS status = CheckKey(db, call.Id());
        return status == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : status;
    }
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey)
{
    if (!subKey) {
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<std::u16string> names;
    LSTATUS status = SplitPath(Text16(subKey), names);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    KeyCall call(key, 0);
    if (call.Status() != ERROR_SUCCESS) {
        return call.Status();
    }
    Database& db = call.Db();
    WriteTransaction transaction(db);
    if (transaction.Begun() != SQLITE_OK) {
        return db.Failed(transaction.Begun());
    }
    if ((status = CheckKey(db, call.Id())) != ERROR_SUCCESS) {
        return status;
    }
    sqlite3_int64 found = 0;
    std::size_t depth = 0;
    if ((status = Walk(db, call.Id(), names, found, depth)) != ERROR_SUCCESS) {
        return status;
    }
    if (depth < names.size()) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (found == kRootKeyId) {
        return ERROR_ACCESS_DENIED; // a root cannot be deleted
    }
    {
        sqlite3_stmt* raw = db.Get(kHasChildren);
        if (!raw) {
            return db.Failed(sqlite3_errcode(db.Handle()));
        }
        Use statement(raw);
        sqlite3_bind_int64(statement, 1, found);
        int code = sqlite3_step(statement);
        if (code == SQLITE_ROW) {
            return ERROR_ACCESS_DENIED; // Windows deletes only keys without subkeys
        }
        if (code != SQLITE_DONE) {
            return db.Failed(code);
        }
    }
    for (Statement which : {kDeleteKeyValues, kDeleteKey}) {
        sqlite3_stmt* raw = db.Get(which);
        if (!raw) {
            return db.Failed(sqlite3_errcode(db.Handle()));
        }
        Use statement(raw);
        sqlite3_bind_int64(statement, 1, found);
        int code = sqlite3_step(statement);
        if (code != SQLITE_DONE) {
            return db.Failed(code);
        }
    }
    int code = transaction.Commit();
    return code == SQLITE_OK ? ERROR_SUCCESS : db.Failed(code);
}

LSTATUS WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                             LPDWORD reserved, LPWSTR keyClass, LPDWORD classLength,
                             PFILETIME lastWriteTime)
{
    if (!name || !nameLength || reserved || (keyClass && !classLength)) {
        return ERROR_INVALID_PARAMETER;
    }
    KeyCall call(key, KEY_ENUMERATE_SUB_KEYS);
    if (call.Status() != ERROR_SUCCESS) {
        return call.Status();
    }
    Database& db = call.Db();
    sqlite3_stmt* raw = db.Get(kEnumKey);
    if (!raw) {
        return db.Failed(sqlite3_errcode(db.Handle()));
    }
    Use statement(raw);
    sqlite3_bind_int64(statement, 1, call.Id());
    sqlite3_bind_int64(statement, 2, index);
    int code = sqlite3_step(statement);
    if (code == SQLITE_DONE) {
        LSTATUS status = CheckKey(db, call.Id());
        return status == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : status;
    }
    if (code != SQLITE_ROW) {
        return db.Failed(code);
    }
    LSTATUS status = CopyName(ColumnText(statement, 0), name, nameLength);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (keyClass) {
        if (*classLength == 0) {
            return ERROR_MORE_DATA;
        }
        keyClass[0] = 0;
        *classLength = 0;
    } else if (classLength) {
        *classLength = 0;
    }
    ToFileTime(sqlite3_column_int64(statement, 1), lastWriteTime);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameLength,
                             LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    if (!valueName || !valueNameLength || reserved || (data && !dataSize)) {
        return ERROR_INVALID_PARAMETER;
    }
    KeyCall call(key, KEY_QUERY_VALUE);
    if (call.Status() != ERROR_SUCCESS) {
        return call.Status();
    }
    Database& db = call.Db();
    sqlite3_stmt* raw = db.Get(kEnumValue);
    if (!raw) {
        return db.Failed(sqlite3_errcode(db.Handle()));
    }
    Use statement(raw);
    sqlite3_bind_int64(statement, 1, call.Id());
    sqlite3_bind_int64(statement, 2, index);
    int code = sqlite3_step(statement);
    if (code == SQLITE_DONE) {
        LSTATUS status = CheckKey(db, call.Id());
        return status == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : status;
    }
    if (code != SQLITE_ROW) {
        return db.Failed(code);
    }
    LSTATUS status = CopyName(ColumnText(statement, 0), valueName, valueNameLength);
    if (type) {
        *type = static_cast<DWORD>(sqlite3_column_int64(statement, 1));
    }
    const void* blob = sqlite3_column_blob(statement, 2);
    auto bytes = static_cast<std::size_t>(sqlite3_column_bytes(statement, 2));
    LSTATUS dataStatus = CopyData(blob, bytes, data, dataSize);
    return status != ERROR_SUCCESS ? status : dataStatus;
}

LSTATUS WINAPI RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                                LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                                LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                                LPDWORD securityDescriptor, PFILETIME lastWriteTime)
{
    if (reserved || (keyClass && !classLength)) {
        return ERROR_INVALID_PARAMETER;
    }
    KeyCall call(key, KEY_QUERY_VALUE);
    if (call.Status() != ERROR_SUCCESS) {
        return call.Status();
    }
    Database& db = call.Db();
    LSTATUS status = CheckKey(db, call.Id());
    if (status != ERROR_SUCCESS) {
        return status;
    }
    // One read transaction, so that the counts belong to one state of the file.
    int code = db.Exec("BEGIN");
    if (code != SQLITE_OK) {
        return db.Failed(code);
    }
    DWORD keyCount = 0, keyMax = 0, valueCount = 0, nameMax = 0, dataMax = 0;
    sqlite3_int64 written = 0;
    if (!db.Get(kListChildren) || !db.Get(kListValues) || !db.Get(kKeyWritten)) {
        code = sqlite3_errcode(db.Handle());
        db.Exec("ROLLBACK");
        return db.Failed(code);
    }
    {
        Use children(db.Get(kListChildren));
        sqlite3_bind_int64(children, 1, call.Id());
        while ((code = sqlite3_step(children)) == SQLITE_ROW) {
            ++keyCount;
            keyMax = std::max<DWORD>(keyMax, static_cast<DWORD>(ColumnText(children, 0).size()));
        }
    }
    if (code == SQLITE_DONE) {
        Use list(db.Get(kListValues));
        sqlite3_bind_int64(list, 1, call.Id());
        while ((code = sqlite3_step(list)) == SQLITE_ROW) {
            ++valueCount;
            nameMax = std::max<DWORD>(nameMax, static_cast<DWORD>(ColumnText(list, 0).size()));
            dataMax = std::max<DWORD>(dataMax, static_cast<DWORD>(sqlite3_column_int64(list, 1)));
        }
    }
    if (code == SQLITE_DONE) {
        Use time(db.Get(kKeyWritten));
        sqlite3_bind_int64(time, 1, call.Id());
        code = sqlite3_step(time);
        if (code == SQLITE_ROW) {
            written = sqlite3_column_int64(time, 0);
            code = SQLITE_DONE;
        }
    }
    db.Exec("COMMIT");
    if (code != SQLITE_DONE) {
        return db.Failed(code);
    }
    if (keyClass) {
        if (*classLength == 0) {
            return ERROR_MORE_DATA;
        }
        keyClass[0] = 0;
    }
    if (classLength) {
        *classLength = 0;
    }
    if (subKeys) {
        *subKeys = keyCount;
    }
    if (maxSubKeyLength) {
        *maxSubKeyLength = keyMax;
    }
    if (maxClassLength) {
        *maxClassLength = 0;
    }
    if (values) {
        *values = valueCount;
    }
    if (maxValueNameLength) {
        *maxValueNameLength = nameMax;
    }
    if (maxValueLength) {
        *maxValueLength = dataMax;
    }
    if (securityDescriptor) {
        *securityDescriptor = 0;
    }
    ToFileTime(written, lastWriteTime);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegFlushKey(HKEY key)
{
    KeyCall call(key, 0);
    if (call.Status() != ERROR_SUCCESS) {
        return call.Status();
    }
    // Every commit already survives the end of the process; a full checkpoint also
    // carries it through a power failure (it syncs the log and the main file).
    int code = sqlite3_wal_checkpoint_v2(call.Db().Handle(), nullptr, SQLITE_CHECKPOINT_FULL,
                                         nullptr, nullptr);
    if (code == SQLITE_BUSY) {
        return ERROR_SUCCESS; // another process's reader holds the log; its data is safe
    }
    return code == SQLITE_OK ? ERROR_SUCCESS : call.Db().Failed(code);
}

LSTATUS ZanthRegGetDatabasePath(HKEY root, LPWSTR buffer, LPDWORD size)
{
    int index = PredefinedRoot(root);
    if (index < 0) {
        return ERROR_INVALID_HANDLE;
    }
    if (!size) {
        return ERROR_INVALID_PARAMETER;
    }
    Database& db = DatabaseOf(index);
    std::u16string path;
    {
        std::lock_guard<std::mutex> guard(db.Lock());
        path = FromUtf8(db.Path().c_str());
    }
    if (!buffer || *size <= path.size()) {
        *size = static_cast<DWORD>(path.size() + 1);
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    *size = static_cast<DWORD>(path.size());
    return ERROR_SUCCESS;
}

LSTATUS ZanthRegCheckDatabase(HKEY root)
{
    if (PredefinedRoot(root) < 0) {
        return ERROR_INVALID_HANDLE;
    }
    KeyCall call(root, 0);
    if (call.Status() != ERROR_SUCCESS) {
        return call.Status();
    }
    sqlite3_stmt* statement = nullptr;
    int code =
        sqlite3_prepare_v2(call.Db().Handle(), "PRAGMA integrity_check", -1, &statement, nullptr);
    LSTATUS status = ERROR_SUCCESS;
    if (code == SQLITE_OK) {
        code = sqlite3_step(statement);
        if (code == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(statement, 0);
            if (!text || std::strcmp(reinterpret_cast<const char*>(text), "ok") != 0) {
                status = ERROR_REGISTRY_CORRUPT;
            }
        } else {
            status = FromSqlite(code);
        }
    } else {
        status = FromSqlite(code);
    }
    sqlite3_finalize(statement);
    if (status == ERROR_REGISTRY_CORRUPT) {
        call.Db().Failed(SQLITE_CORRUPT);
    }
    return status;
}

void ZanthRegCloseDatabases(void)
{
    for (int root = 0; root < kRootCount; ++root) {
        Database& db = DatabaseOf(root);
        std::lock_guard<std::mutex> guard(db.Lock());
        db.CloseConnection();
    }
}

} // extern "C"
