#include "platform/data/internal/sqlite_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <unordered_map>

#include "platform/data/internal/model_access.h"
#include "platform/data/model_container.h"

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

SqliteStore::OpenResult SqliteStore::open(const std::filesystem::path& path,
                                          const Schema& schema) {
  std::string location = path.empty() ? std::string(":memory:") : path.string();
  if (!path.empty() && path.has_parent_path()) {
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
  }
  sqlite3* db = nullptr;
  int status = sqlite3_open_v2(location.c_str(), &db,
                               SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                               nullptr);
  if (status != SQLITE_OK) {
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(status);
    sqlite3_close(db);
    return {nullptr, storeError(ModelStoreError::OpenFailed,
                                "The store at " + location + " cannot be opened: " + message)};
  }
  std::shared_ptr<SqliteStore> store(new SqliteStore(db, schema));
  if (auto error = store->prepareSchema()) {
    return {nullptr, std::move(error)};
  }
  if (auto error = store->prepareStatements()) {
    return {nullptr, std::move(error)};
  }
  return {std::move(store), std::nullopt};
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

std::optional<Error> SqliteStore::prepareSchema() {
  // The journal mode is the first read of the file: a file that is not a database fails here.
  {
    Statement journal(db_, "PRAGMA journal_mode=WAL");
    if (!journal || sqlite3_step(journal.get()) != SQLITE_ROW) {
      return storeError(ModelStoreError::NotAStore,
                        std::string("The file is not a store: ") + sqlite3_errmsg(db_));
    }
  }
  if (auto message = execute(db_, "PRAGMA synchronous=FULL")) {
    return storeError(ModelStoreError::OpenFailed, *message);
  }

  std::set<std::string> tables;
  {
    Statement list(db_, "SELECT name FROM sqlite_master WHERE type='table'");
    if (!list) {
      return storeError(ModelStoreError::NotAStore,
                        std::string("The file is not a store: ") + sqlite3_errmsg(db_));
    }
    int status;
    while ((status = sqlite3_step(list.get())) == SQLITE_ROW) {
      tables.insert(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0)));
    }
    if (status != SQLITE_DONE) {
      return storeError(ModelStoreError::NotAStore,
                        std::string("The file is not a store: ") + sqlite3_errmsg(db_));
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
    execute(db_, "ROLLBACK");
    return storeError(ModelStoreError::OpenFailed, "The store cannot be set up: " + *message);
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
  return std::nullopt;
}

std::optional<Error> SqliteStore::prepareStatements() {
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
  return std::nullopt;
}

SqliteStore::Table* SqliteStore::table(const EntityDescription& entity) {
  for (Table& table : tables_) {
    if (table.entity == &entity) {
      return &table;
    }
  }
  return nullptr;
}

std::optional<Error> SqliteStore::load(ModelContext& context) {
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
  return std::nullopt;
}

std::optional<Error> SqliteStore::bindRow(sqlite3_stmt* statement, const Table& table,
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
  return std::nullopt;
}

std::optional<Error> SqliteStore::write(const std::vector<PersistentModel*>& models,
                                        const std::function<bool(SaveStep)>& fault) {
  auto injected = [](const char* step) {
    return storeError(ModelStoreError::InjectedFault,
                      std::string("The save was made to fail at ") + step + ".");
  };
  auto rollback = [this] { execute(db_, "ROLLBACK"); };

  if (fault && fault(SaveStep::BeginTransaction)) {
    return injected("the start of the transaction");
  }
  if (auto message = execute(db_, "BEGIN IMMEDIATE")) {
    return storeError(ModelStoreError::SaveFailed, "The save cannot start: " + *message);
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
    std::optional<Error> error;
    if (model->isDeleted()) {
      statement = table->remove;
      sqlite3_bind_int64(statement, 1, ModelAccess::primaryKey(*model));
    } else if (!persisted) {
      statement = table->insert;
      sqlite3_bind_int64(statement, 1, ModelAccess::primaryKey(*model));
      error = bindRow(statement, *table, *model, 2);
    } else {
      statement = table->update;
      error = bindRow(statement, *table, *model, 1);
      sqlite3_bind_int64(statement, static_cast<int>(table->columns.size()) + 1,
                         ModelAccess::primaryKey(*model));
    }
    int status = error ? SQLITE_ERROR : sqlite3_step(statement);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    if (error || status != SQLITE_DONE) {
      Error failure = error ? *error
                            : sqliteError(static_cast<long>(ModelStoreError::SaveFailed),
                                          "Cannot write a " + model->entity().name);
      rollback();
      return failure;
    }
  }
  if (fault && fault(SaveStep::Commit)) {
    rollback();
    return injected("the commit");
  }
  if (auto message = execute(db_, "COMMIT")) {
    rollback();
    return storeError(ModelStoreError::SaveFailed, "The save cannot be committed: " + *message);
  }
  return std::nullopt;
}

}  // namespace platform::data_internal
