// SqliteStore: the SQLite file behind a ModelContainer.
//
// Layout: one table per entity, named after it, with an integer row key `pk`, one column
// per attribute, and for each to-one relationship a column with the target's row key (and,
// when the inverse is a list, a `<name>$position` column giving the object's place in that
// list). A `store_metadata` table records the schema version. The file is in WAL mode with
// full synchronous commits, so every save that returned survives a crash of the process.
//
// Used by one context on one thread.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/data/model_context.h"
#include "platform/data/schema.h"
#include "platform/foundation/expected.h"

struct sqlite3;
struct sqlite3_stmt;

namespace platform::data_internal {

class SqliteStore : public std::enable_shared_from_this<SqliteStore> {
 public:
  // Opens or creates the store file (":memory:" when `path` is empty). A new file gets the
  // schema's tables; an existing one must carry the schema's version and fit its tables.
  static Expected<std::shared_ptr<SqliteStore>> open(const std::filesystem::path& path, const Schema& schema);

  ~SqliteStore();
  SqliteStore(const SqliteStore&) = delete;
  SqliteStore& operator=(const SqliteStore&) = delete;

  // Materialises every stored row into `context`, with relationships and list order.
  Status load(ModelContext& context);
  // Writes the rows of `models` (inserted, changed or deleted) in one transaction; nothing
  // is kept when it fails.
  Status write(const std::vector<PersistentModel*>& models, const std::function<bool(SaveStep)>& fault);
  // Copies the journal into the store file and empties the journal.
  void checkpoint();
  // Copies what the store holds as saved into a new store file at `file` (replaced when it
  // exists), through SQLite's backup, so the copy is whole or the call fails.
  Status copySavedTo(const std::filesystem::path& file);
  // A digest of every row of every table as saved: equal digests, equal saved content.
  std::string savedContentDigest();

  // The same for a store file that no container has open; nullopt when it cannot be read.
  static std::optional<std::string> savedContentDigestOf(const std::filesystem::path& store);
  // Makes the store file at `store` hold exactly what the store file at `copy` holds, in one
  // transaction of the store (so a stop half-way leaves it as it was).
  static Status replaceContent(const std::filesystem::path& store, const std::filesystem::path& copy);
  // The same, shortly, on the main queue (once for any number of calls before it runs).
  void checkpointSoon();

 private:
  struct Column {
    std::size_t property;
    bool isPosition;  // the list position of a to-one whose inverse is a list
    std::string name;
  };
  struct Table {
    const EntityDescription* entity;
    std::vector<Column> columns;
    sqlite3_stmt* insert = nullptr;
    sqlite3_stmt* update = nullptr;
    sqlite3_stmt* remove = nullptr;
  };

  SqliteStore(sqlite3* db, const Schema& schema);
  Status prepareSchema();
  Status prepareStatements();
  Table* table(const EntityDescription& entity);
  Status bindRow(sqlite3_stmt* statement, const Table& table, PersistentModel& model, int firstIndex);
  Error sqliteError(long code, const std::string& what) const;

  sqlite3* db_;
  std::vector<const EntityDescription*> entities_;
  std::string version_;
  std::vector<Table> tables_;
  bool checkpointPending_ = false;
};

}  // namespace platform::data_internal
