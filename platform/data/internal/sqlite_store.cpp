#include "platform/data/internal/sqlite_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <unordered_map>

#include "platform/data/internal/model_access.h"
#include "platform/data/model_container.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/data_notices.h"

namespace platform::data_internal {

namespace {

constexpr const char* kMetadataTable = "store_metadata";
constexpr const char* kVersionKey = "schemaVersion";

std::string sqlName(const std::string& identifier) {
  std::string result = "\"";
  for (char c : identifier) {
    result += c;
    if (c == '"') {
      result += '"';
    }
  }
  return result + "\"";
}

Error storeError(ModelStoreError code, const std::string& description) {
  return Error(kModelStoreErrorDomain, static_cast<long>(code),
               {{kErrorLocalizedDescriptionKey, PlistValue(description)}});
}

// What an SQLite failure means to a person, for the messages the user reads.
std::string reasonOf(int code, const std::string& fallback) {
  switch (code & 0xff) {
    case SQLITE_FULL:
      return "the disk is full";
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return "the data folder is read-only";
    case SQLITE_IOERR:
      return "the disk reported an I/O error";
    case SQLITE_CANTOPEN:
      return "the file cannot be opened";
    default:
      return fallback;
  }
}

uint32_t bigEndian32(const uint8_t* at) {
  return (uint32_t{at[0]} << 24) | (uint32_t{at[1]} << 16) | (uint32_t{at[2]} << 8) | at[3];
}

std::optional<std::vector<uint8_t>> readAll(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  uint8_t buffer[65536];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  ::close(fd);
  if (n < 0) return std::nullopt;
  return bytes;
}

// The write-ahead log's checksum over `size` bytes (a multiple of 8), continuing `s`.
void walChecksum(bool bigEndian, const uint8_t* data, size_t size, uint32_t s[2]) {
  for (size_t i = 0; i + 8 <= size; i += 8) {
    uint32_t x0, x1;
    if (bigEndian) {
      x0 = bigEndian32(data + i);
      x1 = bigEndian32(data + i + 4);
    } else {
      std::memcpy(&x0, data + i, 4);
      std::memcpy(&x1, data + i + 4, 4);
    }
    s[0] += x0 + s[1];
    s[1] += x1 + s[0];
  }
}

// After an unclean stop the last saves may live only in "<store>-wal", with the shared-memory
// index "<store>-shm" saying how far the log reaches and how much of it is already copied into
// the store. A log that is shorter than that, cut in the middle of a page, or whose pages fail
// their checksums would make SQLite drop those saves silently and start writing over them; so
// such a store is refused before SQLite sees it. Answers why, or nothing when the log is sound.
std::optional<std::string> damagedLog(const std::filesystem::path& store) {
  const std::filesystem::path walPath = store.string() + "-wal";
  const std::filesystem::path shmPath = store.string() + "-shm";
  std::error_code error;
  const bool walExists = std::filesystem::exists(walPath, error);
  std::optional<std::vector<uint8_t>> wal = walExists ? readAll(walPath) : std::nullopt;
  if (walExists && !wal) return "its journal " + walPath.string() + " cannot be read";

  // The index: two equal copies of its header, then the checkpoint's progress.
  uint32_t indexedFrames = 0, copiedFrames = 0, indexSalt[2] = {0, 0};
  bool indexed = false;
  if (auto shm = readAll(shmPath); shm && shm->size() >= 100 && std::memcmp(shm->data(), shm->data() + 48, 48) == 0 &&
                                   (*shm)[12] != 0) {
    std::memcpy(&indexedFrames, shm->data() + 16, 4);
    std::memcpy(indexSalt, shm->data() + 32, 8);
    std::memcpy(&copiedFrames, shm->data() + 96, 4);
    indexed = true;
  }
  const bool unsavedInLog = indexed && indexedFrames > copiedFrames;

  // The log's frames that SQLite would accept: same salts as the header, checksums chained.
  uint32_t soundFrames = 0;
  if (wal && !wal->empty()) {
    const std::vector<uint8_t>& log = *wal;
    const uint32_t magic = log.size() >= 32 ? bigEndian32(log.data()) : 0;
    if (magic != 0x377f0682 && magic != 0x377f0683) {
      if (indexed ? unsavedInLog : true) return "its journal " + walPath.string() + " is damaged (its header is not a journal's)";
      return std::nullopt;
    }
    const bool bigEndian = (magic & 1) != 0;
    uint32_t pageSize = bigEndian32(log.data() + 8);
    if (pageSize == 1) pageSize = 65536;
    uint32_t sum[2] = {0, 0};
    walChecksum(bigEndian, log.data(), 24, sum);
    if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0 || sum[0] != bigEndian32(log.data() + 24) ||
        sum[1] != bigEndian32(log.data() + 28)) {
      if (indexed ? unsavedInLog : true) return "its journal " + walPath.string() + " is damaged (its header is broken)";
      return std::nullopt;
    }
    const uint32_t salt1 = bigEndian32(log.data() + 16), salt2 = bigEndian32(log.data() + 20);
    const size_t frameSize = size_t{pageSize} + 24;
    for (size_t at = 32; at + frameSize <= log.size(); at += frameSize) {
      const uint8_t* frame = log.data() + at;
      if (bigEndian32(frame + 8) != salt1 || bigEndian32(frame + 12) != salt2) break;  // an older log's page
      walChecksum(bigEndian, frame, 8, sum);
      walChecksum(bigEndian, frame + 24, pageSize, sum);
      if (sum[0] != bigEndian32(frame + 16) || sum[1] != bigEndian32(frame + 20)) {
        // Past the last commit this is a write that a stop interrupted, which SQLite drops
        // as it should; before it, saved pages are damaged.
        if (unsavedInLog && soundFrames < indexedFrames) {
          return "its journal " + walPath.string() + " is damaged (a saved page fails its checksum)";
        }
        break;
      }
      ++soundFrames;
    }
    if (indexed && (std::memcmp(indexSalt, log.data() + 16, 8) != 0)) {
      // The index describes another generation of the log than the file holds now.
      if (unsavedInLog) return "its journal " + walPath.string() + " is not the one the store was using";
      return std::nullopt;
    }
  }
  if (unsavedInLog && soundFrames < indexedFrames) {
    return walExists ? "its journal " + walPath.string() + " is cut short (it holds " + std::to_string(soundFrames) +
                           " of " + std::to_string(indexedFrames) + " pages)"
                     : "its journal " + walPath.string() + " is missing";
  }
  return std::nullopt;
}

// Runs one statement without results; the SQLite message on failure.
std::optional<std::string> execute(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return text;
  }
  return std::nullopt;
}

const char* columnType(const PropertyDescription& property) {
  if (property.kind != PropertyKind::Attribute) {
    return "INTEGER";
  }
  switch (property.type) {
    case AttributeType::Integer:
    case AttributeType::Boolean:
      return "INTEGER";
    case AttributeType::Double:
    case AttributeType::Date:
      return "REAL";
    case AttributeType::String:
    case AttributeType::Uuid:
      return "TEXT";
    case AttributeType::DoubleArray:
      return "BLOB";
  }
  return "BLOB";
}

bool inverseIsList(const PropertyDescription& property) {
  if (property.kind != PropertyKind::ToOne) {
    return false;
  }
  auto inverse = property.destination().indexOf(property.inverse);
  return inverse && property.destination().properties[*inverse].kind == PropertyKind::ToMany;
}

int bindAttribute(sqlite3_stmt* statement, int index, const AttributeValue& value) {
  return std::visit(
      [&](const auto& held) -> int {
        using T = std::decay_t<decltype(held)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return sqlite3_bind_null(statement, index);
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          return sqlite3_bind_int64(statement, index, held);
        } else if constexpr (std::is_same_v<T, bool>) {
          return sqlite3_bind_int(statement, index, held ? 1 : 0);
        } else if constexpr (std::is_same_v<T, double>) {
          return sqlite3_bind_double(statement, index, held);
        } else if constexpr (std::is_same_v<T, std::string>) {
          return sqlite3_bind_text(statement, index, held.data(), static_cast<int>(held.size()),
                                   SQLITE_TRANSIENT);
        } else if constexpr (std::is_same_v<T, UUID>) {
          std::string text = held.uuidString();
          return sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                                   SQLITE_TRANSIENT);
        } else if constexpr (std::is_same_v<T, Date>) {
          return sqlite3_bind_double(statement, index, held.timeIntervalSinceReferenceDate);
        } else {
          static_assert(std::is_same_v<T, std::vector<double>>);
          return sqlite3_bind_blob(statement, index, held.data(),
                                   static_cast<int>(held.size() * sizeof(double)),
                                   SQLITE_TRANSIENT);
        }
      },
      value);
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The 36-character 8-4-4-4-12 form in either case, as UUIDs are stored; anything else is not
// a UUID. Reads the text in place (one UUID per row makes this a hot path of loading).
std::optional<UUID> parseUUID(const char* text, std::size_t length) {
  if (length != 36) {
    return std::nullopt;
  }
  UUID::Bytes bytes{};
  std::size_t byte = 0;
  for (std::size_t i = 0; i < 36;) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') {
        return std::nullopt;
      }
      ++i;
      continue;
    }
    int high = hexDigit(text[i]);
    int low = hexDigit(text[i + 1]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    bytes[byte++] = static_cast<std::uint8_t>(high << 4 | low);
    i += 2;
  }
  return UUID(bytes);
}

// Reads one attribute column. A NULL, or a value that cannot be what the property holds,
// reads as absent for an optional attribute and as the declared initial value otherwise.
AttributeValue readAttribute(sqlite3_stmt* statement, int column,
                             const PropertyDescription& property) {
  auto fallback = [&] {
    return property.isOptional ? AttributeValue() : property.defaultValue.make();
  };
  if (sqlite3_column_type(statement, column) == SQLITE_NULL) {
    return fallback();
  }
  switch (property.type) {
    case AttributeType::Integer:
      return static_cast<std::int64_t>(sqlite3_column_int64(statement, column));
    case AttributeType::Boolean:
      return sqlite3_column_int64(statement, column) != 0;
    case AttributeType::Double:
      return sqlite3_column_double(statement, column);
    case AttributeType::Date:
      return Date::fromTimeIntervalSinceReferenceDate(sqlite3_column_double(statement, column));
    case AttributeType::String: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
      return std::string(text ? text : "", static_cast<std::size_t>(
                                               sqlite3_column_bytes(statement, column)));
    }
    case AttributeType::Uuid: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
      std::optional<UUID> uuid =
          text ? parseUUID(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
               : std::nullopt;
      if (!uuid) {
        return fallback();
      }
      return *uuid;
    }
    case AttributeType::DoubleArray: {
      const void* blob = sqlite3_column_blob(statement, column);
      int bytes = sqlite3_column_bytes(statement, column);
      if (bytes % static_cast<int>(sizeof(double)) != 0) {
        return fallback();
      }
      std::vector<double> values(static_cast<std::size_t>(bytes) / sizeof(double));
      if (bytes > 0) {
        std::memcpy(values.data(), blob, static_cast<std::size_t>(bytes));
      }
      return values;
    }
  }
  return fallback();
}

class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr);
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return statement_; }
  explicit operator bool() const { return statement_ != nullptr; }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace

namespace {

// A store file of 0 bytes with no journal holds nothing SQLite would read: opened as it is,
// it would silently become a new empty store. It is set aside and the user is told, like any
// other damaged file, before a new store is made in its place.
void setAsideEmptyStore(const std::filesystem::path& path) {
  std::error_code error;
  const auto status = std::filesystem::symlink_status(path, error);
  if (error || status.type() != std::filesystem::file_type::regular) return;
  if (std::filesystem::file_size(path, error) != 0 || error) return;
  const std::filesystem::path wal = path.string() + "-wal";
  if (std::filesystem::exists(wal, error) && std::filesystem::file_size(wal, error) != 0) return;
  std::filesystem::path aside = path.string() + ".empty";
  for (int n = 2; std::filesystem::symlink_status(aside, error).type() != std::filesystem::file_type::not_found &&
                  n < 1000;
       ++n) {
    aside = path.string() + ".empty-" + std::to_string(n);
  }
  std::filesystem::rename(path, aside, error);
  std::string text = error ? "Brivel found the store " + path.string() +
                                 " empty (0 bytes), so everything saved in it is gone; it starts with a new, empty "
                                 "store."
                           : "Brivel found the store " + path.string() +
                                 " empty (0 bytes), so everything saved in it is gone; it starts with a new, empty "
                                 "store. The empty file was set aside as " +
                                 aside.string() + ".";
  DataNotices::shared().set("aside:" + path.string(), std::move(text), true);
}

// A new store is made whole beside its place (a first page written and synced) and then linked
// in, so no crash while it is made can leave a 0-byte store, which the next start could not
// tell from one whose contents were lost. A leftover of a start killed meanwhile is replaced.
// Where this cannot be done (a read-only folder, say) the open below reports the problem.
void createStoreWhole(const std::filesystem::path& path) {
  std::error_code error;
  if (std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::not_found) return;
  const std::string making = path.string() + ".new";
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) ::unlink((making + suffix).c_str());
  int fd = ::open(making.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return;
  ::close(fd);
  sqlite3* db = nullptr;
  bool made = sqlite3_open_v2(making.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK &&
              sqlite3_exec(db, "PRAGMA synchronous=FULL; CREATE TABLE brivel_new(x); DROP TABLE brivel_new;",
                           nullptr, nullptr, nullptr) == SQLITE_OK;
  made = sqlite3_close(db) == SQLITE_OK && made;
  if (made) {
    fd = ::open(making.c_str(), O_RDONLY | O_CLOEXEC);
    made = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
  }
  // link() never replaces: a store another process made meanwhile is kept.
  if (made && ::link(making.c_str(), path.c_str()) == 0) {
    const std::string folder = path.has_parent_path() ? path.parent_path().string() : std::string(".");
    fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      ::fsync(fd);
      ::close(fd);
    }
  }
  for (const char* suffix : {"", "-journal"}) ::unlink((making + suffix).c_str());
}

}  // namespace

Expected<std::shared_ptr<SqliteStore>> SqliteStore::open(const std::filesystem::path& path, const Schema& schema) {
  std::string location = path.empty() ? std::string(":memory:") : path.string();
  if (!path.empty()) {
    if (path.has_parent_path()) {
      std::error_code error;
      std::filesystem::create_directories(path.parent_path(), error);
      if (error || !std::filesystem::is_directory(path.parent_path(), error)) {
        // A file in the folder's place reads "exists" to create_directories.
        int code = error && error.value() != EEXIST ? error.value() : ENOTDIR;
        return storeError(ModelStoreError::OpenFailed,
                          "The store at " + location + " cannot be opened: " +
                              describeFileProblem(code, path.parent_path()) + ".");
      }
    }
    if (auto problem = damagedLog(path)) {
      return storeError(ModelStoreError::DamagedJournal,
                        "The store at " + location + " was not opened because " + *problem +
                            ". Saved changes may be missing from it, so nothing was changed: every file "
                            "is left as it was.");
    }
    setAsideEmptyStore(path);
    createStoreWhole(path);
    // Only this user may read the store: a new file is made 0600 before SQLite opens it (its
    // journal files take the store's permissions), an existing one is brought to 0600.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
      int code = errno;
      return storeError(ModelStoreError::OpenFailed, "The store at " + location + " cannot be opened: " +
                                                         describeFileProblem(code, path) + ".");
    }
    ::fchmod(fd, 0600);
    ::close(fd);
    for (const char* suffix : {"-wal", "-shm"}) ::chmod((path.string() + suffix).c_str(), 0600);
  }
  sqlite3* db = nullptr;
  int status = sqlite3_open_v2(location.c_str(), &db,
                               SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                               nullptr);
  if (status != SQLITE_OK) {
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(status);
    sqlite3_close(db);
    return storeError(ModelStoreError::OpenFailed,
                      "The store at " + location + " cannot be opened: " + reasonOf(status, message) + ".");
  }
  std::shared_ptr<SqliteStore> store(new SqliteStore(db, schema));
  if (Status prepared = store->prepareSchema(); !prepared.ok()) return prepared.error();
  if (Status prepared = store->prepareStatements(); !prepared.ok()) return prepared.error();
  return store;
}

SqliteStore::SqliteStore(sqlite3* db, const Schema& schema)
    : db_(db), entities_(schema.entities()), version_(schema.version().text()) {
  sqlite3_busy_timeout(db_, 5000);
  for (const EntityDescription* entity : entities_) {
    Table table{entity, {}};
    for (std::size_t i = 0; i < entity->properties.size(); ++i) {
      const PropertyDescription& property = entity->properties[i];
      if (property.kind == PropertyKind::ToMany) {
        continue;
      }
      table.columns.push_back({i, false, property.name});
      if (inverseIsList(property)) {
        table.columns.push_back({i, true, property.name + "$position"});
      }
    }
    tables_.push_back(std::move(table));
  }
}

SqliteStore::~SqliteStore() {
  for (Table& table : tables_) {
    sqlite3_finalize(table.insert);
    sqlite3_finalize(table.update);
    sqlite3_finalize(table.remove);
  }
  sqlite3_close(db_);
}

Error SqliteStore::sqliteError(long code, const std::string& what) const {
  return storeError(static_cast<ModelStoreError>(code), what + ": " + sqlite3_errmsg(db_));
}

Status SqliteStore::prepareSchema() {
  // A failed read of the file: a file that is not a database, or a disk that is full,
  // read-only or failing (not the file's fault).
  auto readFailure = [this] {
    const int code = sqlite3_errcode(db_) & 0xff;
    if (code != SQLITE_NOTADB && code != SQLITE_CORRUPT) {
      return storeError(ModelStoreError::OpenFailed,
                        "The store cannot be opened: " + reasonOf(code, sqlite3_errmsg(db_)) + ".");
    }
    return storeError(ModelStoreError::NotAStore, std::string("The file is not a store: ") + sqlite3_errmsg(db_));
  };

  // The file is only read until it is known to be a store of this version: a file that is
  // refused is left exactly as it was (switching to WAL would rewrite its header and leave
  // -wal and -shm files beside it).
  std::set<std::string> tables;
  {
    Statement list(db_, "SELECT name FROM sqlite_master WHERE type='table'");
    if (!list) {
      return readFailure();
    }
    int status;
    while ((status = sqlite3_step(list.get())) == SQLITE_ROW) {
      tables.insert(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0)));
    }
    if (status != SQLITE_DONE) {
      return readFailure();
    }
  }

  bool isNew = tables.empty();
  if (!isNew) {
    if (tables.count(kMetadataTable) == 0) {
      return storeError(ModelStoreError::NotAStore,
                        "The database holds tables but is not a store of this kind.");
    }
    Statement read(db_, std::string("SELECT value FROM ") + kMetadataTable + " WHERE key=?");
    if (!read) {
      return storeError(ModelStoreError::NotAStore, sqlite3_errmsg(db_));
    }
    sqlite3_bind_text(read.get(), 1, kVersionKey, -1, SQLITE_STATIC);
    std::string stored;
    if (sqlite3_step(read.get()) == SQLITE_ROW && sqlite3_column_text(read.get(), 0)) {
      stored = reinterpret_cast<const char*>(sqlite3_column_text(read.get(), 0));
    }
    if (stored != version_) {
      return storeError(ModelStoreError::UnknownSchemaVersion,
                        "The store has schema version \"" + stored + "\"; this program reads " +
                            version_ + " only.");
    }
  }

  {
    Statement journal(db_, "PRAGMA journal_mode=WAL");
    if (!journal || sqlite3_step(journal.get()) != SQLITE_ROW) {
      return readFailure();
    }
  }
  if (auto message = execute(db_, "PRAGMA synchronous=FULL")) {
    return storeError(ModelStoreError::OpenFailed, *message);
  }

  std::string sql = "BEGIN IMMEDIATE;";
  if (isNew) {
    sql += std::string("CREATE TABLE ") + kMetadataTable +
           " (key TEXT PRIMARY KEY, value TEXT NOT NULL);";
    sql += std::string("INSERT INTO ") + kMetadataTable + " VALUES ('" + kVersionKey + "', '" +
           version_ + "');";
  }
  for (const Table& table : tables_) {
    if (tables.count(table.entity->name) != 0) {
      continue;
    }
    sql += "CREATE TABLE " + sqlName(table.entity->name) + " (pk INTEGER PRIMARY KEY";
    for (const Column& column : table.columns) {
      sql += ", " + sqlName(column.name) + " " +
             (column.isPosition ? "INTEGER"
                                : columnType(table.entity->properties[column.property]));
    }
    sql += ");";
  }
  sql += "COMMIT;";
  if (auto message = execute(db_, sql)) {
    const int code = sqlite3_errcode(db_);
    execute(db_, "ROLLBACK");
    return storeError(ModelStoreError::OpenFailed, "The store cannot be set up: " + reasonOf(code, *message) + ".");
  }

  // Existing tables must have every column the schema needs.
  for (const Table& table : tables_) {
    std::set<std::string> columns;
    Statement info(db_, "PRAGMA table_info(" + sqlName(table.entity->name) + ")");
    while (info && sqlite3_step(info.get()) == SQLITE_ROW) {
      columns.insert(reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 1)));
    }
    if (columns.count("pk") == 0) {
      return storeError(ModelStoreError::IncompatibleSchema,
                        "The store's table " + table.entity->name + " has no row key.");
    }
    for (const Column& column : table.columns) {
      if (columns.count(column.name) == 0) {
        return storeError(ModelStoreError::IncompatibleSchema,
                          "The store's table " + table.entity->name + " lacks the column " +
                              column.name + ".");
      }
    }
  }
  return {};
}

Status SqliteStore::prepareStatements() {
  for (Table& table : tables_) {
    std::string name = sqlName(table.entity->name);
    std::string insert = "INSERT INTO " + name + " (pk";
    std::string values = ") VALUES (?";
    std::string update = "UPDATE " + name + " SET ";
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
      insert += ", " + sqlName(table.columns[i].name);
      values += ", ?";
      update += (i ? ", " : "") + sqlName(table.columns[i].name) + "=?";
    }
    insert += values + ")";
    update += " WHERE pk=?";
    std::string remove = "DELETE FROM " + name + " WHERE pk=?";
    if (sqlite3_prepare_v3(db_, insert.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &table.insert,
                           nullptr) != SQLITE_OK ||
        sqlite3_prepare_v3(db_, update.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &table.update,
                           nullptr) != SQLITE_OK ||
        sqlite3_prepare_v3(db_, remove.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &table.remove,
                           nullptr) != SQLITE_OK) {
      return sqliteError(static_cast<long>(ModelStoreError::IncompatibleSchema),
                         "The store's table " + table.entity->name + " cannot be written");
    }
  }
  return {};
}

SqliteStore::Table* SqliteStore::table(const EntityDescription& entity) {
  for (Table& table : tables_) {
    if (table.entity == &entity) {
      return &table;
    }
  }
  return nullptr;
}

Status SqliteStore::load(ModelContext& context) {
  // A to-one link read from a row, made once every table is in.
  struct PendingLink {
    const std::vector<std::shared_ptr<PersistentModel>>* rows;  // the model's registry
    std::size_t row;                                            // its place there
    std::size_t property;
    std::int64_t targetKey;
    std::int64_t position;
  };
  std::vector<PendingLink> links;

  // Every registry first: references to them stay valid while rows are added.
  for (const Table& table : tables_) {
    ModelAccess::registryOf(context, *table.entity);
  }
  for (Table& table : tables_) {
    const EntityDescription& entity = *table.entity;
    std::string sql = "SELECT pk";
    for (const Column& column : table.columns) {
      sql += ", " + sqlName(column.name);
    }
    sql += " FROM " + sqlName(entity.name) + " ORDER BY pk";
    Statement select(db_, sql);
    if (!select) {
      return sqliteError(static_cast<long>(ModelStoreError::IncompatibleSchema),
                         "The store's table " + entity.name + " cannot be read");
    }
    // Every attribute has a column, so new objects start without their initial values and
    // each is filled once from its row.
    MaterializingScope scope;
    sqlite3_stmt* row = select.get();
    const auto& rows = ModelAccess::registryOf(context, entity);
    int status;
    while ((status = sqlite3_step(row)) == SQLITE_ROW) {
      std::shared_ptr<PersistentModel> model = entity.makeEmpty();
      const std::size_t firstLink = links.size();
      ModelAccess::setPrimaryKey(*model, sqlite3_column_int64(row, 0));
      int index = 1;
      for (const Column& column : table.columns) {
        const PropertyDescription& property = entity.properties[column.property];
        if (property.kind == PropertyKind::Attribute) {
          ModelAccess::value(*model, column.property) = readAttribute(row, index, property);
        } else if (!column.isPosition && sqlite3_column_type(row, index) != SQLITE_NULL) {
          // The list position, when there is one, is the next column.
          std::int64_t position = 0;
          if (&column != &table.columns.back() && (&column)[1].isPosition) {
            position = sqlite3_column_int64(row, index + 1);
          }
          links.push_back({&rows, 0, column.property, sqlite3_column_int64(row, index), position});
        }
        ++index;
      }
      ModelAccess::registerLoaded(context, model);
      // Rows come in key order, so the model is last in its registry.
      std::size_t place = rows.size() - 1;
      if (rows[place] != model) {
        place = static_cast<std::size_t>(std::find(rows.begin(), rows.end(), model) - rows.begin());
      }
      for (std::size_t i = firstLink; i < links.size(); ++i) {
        links[i].row = place;
      }
    }
    if (status != SQLITE_DONE) {
      return sqliteError(static_cast<long>(ModelStoreError::IncompatibleSchema),
                         "The store's table " + entity.name + " cannot be read");
    }
  }

  // Lists whose members arrived out of their stored order (rows come in key order).
  std::vector<std::pair<PersistentModel*, std::size_t>> unordered;
  for (const PendingLink& link : links) {
    const std::shared_ptr<PersistentModel>& self = (*link.rows)[link.row];
    PersistentModel* model = self.get();
    const PropertyDescription& property = model->entity().properties[link.property];
    const std::shared_ptr<PersistentModel>* target =
        ModelAccess::registered(context, property.destination(), link.targetKey);
    if (target == nullptr) {
      // A link to a row that is gone: dropped, and written back cleared at the next save.
      ModelAccess::noteChanged(context, model);
      continue;
    }
    ModelAccess::setTarget(*model, link.property, *target);
    ModelAccess::position(*model, link.property) = link.position;
    std::size_t inverse = ModelAccess::inverseIndex(*model, link.property);
    if ((*target)->entity().properties[inverse].kind == PropertyKind::ToMany) {
      auto& list = ModelAccess::list(**target, inverse);
      if (!list.empty() && ModelAccess::position(*list.back(), link.property) > link.position &&
          (unordered.empty() || unordered.back() != std::pair(target->get(), inverse))) {
        unordered.emplace_back(target->get(), inverse);
      }
      list.push_back(self);
    } else {
      ModelAccess::setTarget(**target, inverse, self);
    }
  }
  std::sort(unordered.begin(), unordered.end());
  unordered.erase(std::unique(unordered.begin(), unordered.end()), unordered.end());
  for (const auto& [owner, property] : unordered) {
    auto& list = ModelAccess::list(*owner, property);
    std::size_t inverse = ModelAccess::inverseIndex(*owner, property);
    std::stable_sort(list.begin(), list.end(), [inverse](const auto& a, const auto& b) {
      return ModelAccess::position(*a, inverse) < ModelAccess::position(*b, inverse);
    });
  }
  // Rows left without an owner are deleted by the next save.
  for (const Table& table : tables_) {
    const EntityDescription& entity = *table.entity;
    if (entity.ownerRelationship.empty()) {
      continue;
    }
    auto owner = entity.indexOf(entity.ownerRelationship);
    if (!owner) {
      continue;
    }
    for (const auto& model : ModelAccess::registeredModels(context, entity)) {
      if (!ModelAccess::hasTarget(*model, *owner)) {
        ModelAccess::noteChanged(context, model.get());
      }
    }
  }
  return {};
}

Status SqliteStore::bindRow(sqlite3_stmt* statement, const Table& table,
                                          PersistentModel& model, int firstIndex) {
  int index = firstIndex;
  for (const Column& column : table.columns) {
    const PropertyDescription& property = table.entity->properties[column.property];
    int status;
    if (property.kind == PropertyKind::Attribute) {
      status = bindAttribute(statement, index, ModelAccess::value(model, column.property));
    } else {
      std::shared_ptr<PersistentModel> target = ModelAccess::target(model, column.property);
      bool linked = target && !target->isDeleted() &&
                    ModelAccess::context(*target) == ModelAccess::context(model);
      if (!linked) {
        status = sqlite3_bind_null(statement, index);
      } else if (column.isPosition) {
        status = sqlite3_bind_int64(statement, index,
                                    ModelAccess::position(model, column.property));
      } else {
        status = sqlite3_bind_int64(statement, index, ModelAccess::primaryKey(*target));
      }
    }
    if (status != SQLITE_OK) {
      return sqliteError(static_cast<long>(ModelStoreError::SaveFailed), "Cannot write a row");
    }
    ++index;
  }
  return {};
}

Status SqliteStore::write(const std::vector<PersistentModel*>& models, const std::function<bool(SaveStep)>& fault) {
  auto injected = [](const char* step) {
    return storeError(ModelStoreError::InjectedFault,
                      std::string("The save was made to fail at ") + step + ".");
  };
  auto rollback = [this] { execute(db_, "ROLLBACK"); };

  if (fault && fault(SaveStep::BeginTransaction)) {
    return injected("the start of the transaction");
  }
  if (auto message = execute(db_, "BEGIN IMMEDIATE")) {
    return storeError(ModelStoreError::SaveFailed, reasonOf(sqlite3_errcode(db_), "the save cannot start: " + *message));
  }
  for (PersistentModel* model : models) {
    bool persisted = ModelAccess::isPersisted(*model);
    if (model->isDeleted() && !persisted) {
      continue;  // made and deleted between two saves: never stored
    }
    if (fault && fault(SaveStep::WriteRow)) {
      rollback();
      return injected("a row");
    }
    Table* table = this->table(model->entity());
    if (table == nullptr) {
      rollback();
      return storeError(ModelStoreError::SaveFailed,
                        "The store has no table for " + model->entity().name + ".");
    }
    sqlite3_stmt* statement;
    Status bound;
    if (model->isDeleted()) {
      statement = table->remove;
      sqlite3_bind_int64(statement, 1, ModelAccess::primaryKey(*model));
    } else if (!persisted) {
      statement = table->insert;
      sqlite3_bind_int64(statement, 1, ModelAccess::primaryKey(*model));
      bound = bindRow(statement, *table, *model, 2);
    } else {
      statement = table->update;
      bound = bindRow(statement, *table, *model, 1);
      sqlite3_bind_int64(statement, static_cast<int>(table->columns.size()) + 1,
                         ModelAccess::primaryKey(*model));
    }
    int status = bound.ok() ? sqlite3_step(statement) : SQLITE_ERROR;
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    if (!bound.ok() || status != SQLITE_DONE) {
      Error failure = !bound.ok() ? bound.error()
                                  : storeError(ModelStoreError::SaveFailed,
                                         reasonOf(sqlite3_errcode(db_), "a " + model->entity().name + " cannot be written: " +
                                                                            sqlite3_errmsg(db_)));
      rollback();
      return failure;
    }
  }
  if (fault && fault(SaveStep::Commit)) {
    rollback();
    return injected("the commit");
  }
  if (auto message = execute(db_, "COMMIT")) {
    const int code = sqlite3_errcode(db_);
    rollback();
    return storeError(ModelStoreError::SaveFailed, reasonOf(code, "the save cannot be committed: " + *message));
  }
  return {};
}

void SqliteStore::checkpoint() {
  // Copies what the journal holds into the store and empties the journal, so that the store
  // file alone holds the data. A reader or a busy disk only makes it wait for the next time.
  sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
}

void SqliteStore::checkpointSoon() {
  if (checkpointPending_) return;
  checkpointPending_ = true;
  std::weak_ptr<SqliteStore> weak = weak_from_this();
  DispatchQueue::main()->asyncAfter(std::chrono::milliseconds(300), [weak] {
    if (auto store = weak.lock()) {
      store->checkpointPending_ = false;
      store->checkpoint();
    }
  });
}

namespace {

// FNV-1a over the bytes of every row of every table (by name, rows by key), with each value's
// type and length, so that no two different contents read alike by accident of layout.
std::optional<std::string> digestOf(sqlite3* db) {
  std::vector<std::string> tables;
  {
    Statement list(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%' ORDER BY name");
    if (!list) return std::nullopt;
    while (sqlite3_step(list.get()) == SQLITE_ROW) {
      tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0)));
    }
  }
  uint64_t hash = 1469598103934665603ull;
  auto mix = [&hash](const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
  };
  for (const std::string& table : tables) {
    mix(table.data(), table.size() + 1);
    Statement rows(db, "SELECT * FROM " + sqlName(table) + " ORDER BY rowid");
    if (!rows) return std::nullopt;
    int status;
    while ((status = sqlite3_step(rows.get())) == SQLITE_ROW) {
      const int columns = sqlite3_column_count(rows.get());
      for (int c = 0; c < columns; ++c) {
        const int type = sqlite3_column_type(rows.get(), c);
        const void* data = type == SQLITE_BLOB ? sqlite3_column_blob(rows.get(), c)
                                               : static_cast<const void*>(sqlite3_column_text(rows.get(), c));
        const int size = sqlite3_column_bytes(rows.get(), c);
        mix(&type, sizeof type);
        mix(&size, sizeof size);
        if (data != nullptr && size > 0) mix(data, static_cast<size_t>(size));
      }
    }
    if (status != SQLITE_DONE) return std::nullopt;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return std::string(text);
}

Status backup(sqlite3* from, sqlite3* to, const std::string& what) {
  sqlite3_backup* copy = sqlite3_backup_init(to, "main", from, "main");
  if (copy == nullptr) {
    return storeError(ModelStoreError::SaveFailed, what + ": " + sqlite3_errmsg(to));
  }
  const int stepped = sqlite3_backup_step(copy, -1);
  const int finished = sqlite3_backup_finish(copy);
  if (stepped != SQLITE_DONE || finished != SQLITE_OK) {
    return storeError(ModelStoreError::SaveFailed,
                      reasonOf(sqlite3_errcode(to), what + ": " + sqlite3_errmsg(to)));
  }
  return {};
}

sqlite3* openFile(const std::filesystem::path& file, int flags) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 5000);
  return db;
}

}  // namespace

Status SqliteStore::copySavedTo(const std::filesystem::path& file) {
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
  for (const char* suffix : {"-wal", "-shm", "-journal"}) std::filesystem::remove(file.string() + suffix, ignored);
  sqlite3* copy = openFile(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  if (copy == nullptr) {
    return storeError(ModelStoreError::SaveFailed, "A copy of the store cannot be made at " + file.string() + ".");
  }
  Status copied = backup(db_, copy, "The store cannot be copied to " + file.string());
  sqlite3_close(copy);
  return copied;
}

std::string SqliteStore::savedContentDigest() { return digestOf(db_).value_or(std::string()); }

std::optional<std::string> SqliteStore::savedContentDigestOf(const std::filesystem::path& store) {
  sqlite3* db = openFile(store, SQLITE_OPEN_READWRITE);
  if (db == nullptr) return std::nullopt;
  auto digest = digestOf(db);
  sqlite3_close(db);
  return digest;
}

Status SqliteStore::replaceContent(const std::filesystem::path& store, const std::filesystem::path& copy) {
  sqlite3* from = openFile(copy, SQLITE_OPEN_READONLY);
  sqlite3* to = from ? openFile(store, SQLITE_OPEN_READWRITE) : nullptr;
  Status replaced = from && to ? backup(from, to, "The saved changes cannot be put back into " + store.string())
                               : storeError(ModelStoreError::OpenFailed,
                                            "The store at " + store.string() + " or its copy cannot be opened.");
  if (to != nullptr) sqlite3_wal_checkpoint_v2(to, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  sqlite3_close(to);
  sqlite3_close(from);
  return replaced;
}

}  // namespace platform::data_internal
