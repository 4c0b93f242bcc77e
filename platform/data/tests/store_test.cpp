#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fstream>

#include "platform/data/model_container.h"
#include "platform/foundation/paths.h"
#include "platform/data/tests/test_schema.h"
#include "platform/dispatch/queue.h"
#include "platform/testing/temp_directory.h"

namespace platform::testing {
namespace {

class StoreTest : public ::testing::Test {
 protected:
  std::filesystem::path storePath() const { return dir_.path() / "Test.store"; }

  std::shared_ptr<ModelContainer> open(SchemaVersion version = {1, 0, 0}) {
    ModelConfiguration configuration;
    configuration.url = storePath();
    configuration.autosaveEnabled = false;
    auto opened = ModelContainer::open(librarySchema(version), configuration);
    EXPECT_TRUE(opened.ok()) << opened.error().localizedDescription();
    return opened.ok() ? *opened : nullptr;
  }

  static void save(ModelContext& context) {
    auto saved = context.save();
    ASSERT_TRUE(saved.ok()) << saved.error().localizedDescription();
  }

  static std::shared_ptr<Library> onlyLibrary(ModelContext& context) {
    auto all = context.fetch<Library>();
    EXPECT_EQ(all.size(), 1u);
    return all.empty() ? nullptr : all.front();
  }

  // A saved library "City" with books A, B, C (in that order) and an author "Ann" of A and C.
  void makeCityLibrary() {
    auto container = open();
    auto library = std::make_shared<Library>();
    library->setName("City");
    library->setBooks(std::vector{makeBook("A"), makeBook("B"), makeBook("C")});
    auto ann = std::make_shared<Author>();
    ann->setName("Ann");
    ann->setLibrary(library);
    (*library->books())[0]->setAuthor(ann);
    (*library->books())[2]->setAuthor(ann);
    container->mainContext().insert(library);
    save(container->mainContext());
  }

  TempDirectory dir_;
};

TEST_F(StoreTest, SavedGraphReadsBackWithEveryValueAndLink) {
  UUID uid = UUID::random();
  {
    auto container = open();
    auto library = std::make_shared<Library>();
    library->setName("Ünïcode \"quoted\" name");
    auto full = makeBook("Full", 12.5);
    full->setNote(std::string());  // present but empty
    full->setRating(-3);
    full->setScores({1.5, -2.25, 1e300});
    full->setPublished(Date::fromTimeIntervalSinceReferenceDate(123456.75));
    full->setUid(uid);
    full->setLent(true);
    auto bare = makeBook("Bare", 0.0);
    auto author = std::make_shared<Author>();
    author->setName("Ann");
    library->setBooks(std::vector{full, bare});
    library->setAuthors(std::vector{author});
    full->setAuthor(author);
    container->mainContext().insert(library);
    EXPECT_TRUE(container->mainContext().hasChanges());
    save(container->mainContext());
    EXPECT_FALSE(container->mainContext().hasChanges());
  }

  auto container = open();
  auto library = onlyLibrary(container->mainContext());
  ASSERT_TRUE(library);
  EXPECT_EQ(library->name(), "Ünïcode \"quoted\" name");
  ASSERT_EQ(titles(library->books()), (std::vector<std::string>{"Full", "Bare"}));
  auto full = (*library->books())[0];
  auto bare = (*library->books())[1];
  EXPECT_EQ(full->price(), 12.5);
  EXPECT_EQ(full->note(), std::optional<std::string>(""));
  EXPECT_EQ(full->rating(), std::optional<std::int64_t>(-3));
  EXPECT_EQ(full->scores(), (std::vector<double>{1.5, -2.25, 1e300}));
  EXPECT_EQ(full->published().timeIntervalSinceReferenceDate, 123456.75);
  EXPECT_EQ(full->uid(), uid);
  EXPECT_TRUE(full->lent());
  EXPECT_EQ(full->library(), library);
  ASSERT_TRUE(full->author());
  EXPECT_EQ(full->author()->name(), "Ann");
  EXPECT_EQ(titles(full->author()->books()), (std::vector<std::string>{"Full"}));
  EXPECT_EQ(bare->note(), std::nullopt);
  EXPECT_EQ(bare->rating(), std::nullopt);
  EXPECT_EQ(bare->author(), nullptr);
  EXPECT_FALSE(container->mainContext().hasChanges());
}

TEST_F(StoreTest, RelationshipEndsStayInStep) {
  auto library = std::make_shared<Library>();
  auto other = std::make_shared<Library>();
  auto ann = std::make_shared<Author>();
  auto bob = std::make_shared<Author>();
  auto book = makeBook("A");

  book->setLibrary(library);
  EXPECT_EQ(titles(library->books()), std::vector<std::string>{"A"});
  // Setting the list on another owner moves the book out of the first one.
  other->setBooks(std::vector{book});
  EXPECT_EQ(book->library(), other);
  EXPECT_TRUE(library->books()->empty());

  book->setAuthor(ann);
  book->setAuthor(bob);
  EXPECT_TRUE(ann->books()->empty());
  EXPECT_EQ(titles(bob->books()), std::vector<std::string>{"A"});
  book->setAuthor(nullptr);
  EXPECT_TRUE(bob->books()->empty());

  // Appending a member that is already listed does not list it twice.
  auto list = *other->books();
  list.push_back(book);
  other->setBooks(list);
  EXPECT_EQ(other->books()->size(), 1u);

  // Leaving a list clears the member's link.
  other->setBooks(std::nullopt);
  EXPECT_EQ(book->library(), nullptr);
  EXPECT_FALSE(other->books().has_value());
}

TEST_F(StoreTest, LinkingToAStoredObjectBringsTheNewObjectIntoTheContext) {
  makeCityLibrary();
  auto container = open();
  auto library = onlyLibrary(container->mainContext());
  auto book = makeBook("D");
  book->setLibrary(library);
  EXPECT_EQ(book->modelContext(), &container->mainContext());
  save(container->mainContext());

  auto reopened = open();
  EXPECT_EQ(titles(onlyLibrary(reopened->mainContext())->books()),
            (std::vector<std::string>{"A", "B", "C", "D"}));
}

TEST_F(StoreTest, ListOrderIsKeptThroughReorderRemoveAndAppend) {
  makeCityLibrary();
  {
    auto container = open();
    auto library = onlyLibrary(container->mainContext());
    auto books = *library->books();
    // C, A (B removed), then a new E at the end.
    library->setBooks(std::vector{books[2], books[0], makeBook("E")});
    save(container->mainContext());
  }
  auto container = open();
  auto library = onlyLibrary(container->mainContext());
  EXPECT_EQ(titles(library->books()), (std::vector<std::string>{"C", "A", "E"}));
  // B left its library, so it was deleted at the save; Ann's list keeps its order.
  EXPECT_EQ(container->mainContext().fetchCount<Book>(), 3u);
  auto ann = container->mainContext().fetch<Author>().front();
  EXPECT_EQ(titles(ann->books()), (std::vector<std::string>{"A", "C"}));
}

TEST_F(StoreTest, SaveWritesOnlyTheRowsThatChanged) {
  auto container = open();
  auto library = std::make_shared<Library>();
  std::vector<std::shared_ptr<Book>> books;
  for (int i = 0; i < 200; ++i) books.push_back(makeBook("B" + std::to_string(i)));
  library->setBooks(books);
  container->mainContext().insert(library);
  save(container->mainContext());

  int rowsWritten = 0;
  container->mainContext().setSaveFaultInjection([&](SaveStep step) {
    rowsWritten += step == SaveStep::WriteRow;
    return false;
  });
  books[137]->setPrice(99.0);
  save(container->mainContext());
  EXPECT_EQ(rowsWritten, 1);

  // Removing the first book deletes one row; the others keep their stored places.
  rowsWritten = 0;
  library->setBooks(std::vector(books.begin() + 1, books.end()));
  save(container->mainContext());
  EXPECT_EQ(rowsWritten, 1);

  // Setting a value to what it already is writes nothing.
  rowsWritten = 0;
  books[5]->setTitle("B5");
  EXPECT_FALSE(container->mainContext().hasChanges());
  save(container->mainContext());
  EXPECT_EQ(rowsWritten, 0);
}

TEST_F(StoreTest, DeletingTheOwnerCascadesAndDeletingAnAuthorClearsLinks) {
  makeCityLibrary();
  {
    auto container = open();
    auto& context = container->mainContext();
    auto ann = context.fetch<Author>().front();
    auto books = *onlyLibrary(context)->books();
    context.deleteModel(ann);
    // No dangling link even before the save.
    EXPECT_EQ(books[0]->author(), nullptr);
    EXPECT_TRUE(ann->isDeleted());
    EXPECT_EQ(context.fetchCount<Author>(), 0u);
    EXPECT_EQ(onlyLibrary(context)->authors()->size(), 0u);
    save(context);
  }
  {
    auto container = open();
    auto& context = container->mainContext();
    EXPECT_EQ(context.fetchCount<Author>(), 0u);
    ASSERT_EQ(context.fetchCount<Book>(), 3u);
    for (const auto& book : context.fetch<Book>()) EXPECT_EQ(book->author(), nullptr);

    context.deleteModel(onlyLibrary(context));
    EXPECT_EQ(context.fetchCount<Book>(), 0u);
    save(context);
  }
  auto container = open();
  EXPECT_EQ(container->mainContext().fetchCount<Library>(), 0u);
  EXPECT_EQ(container->mainContext().fetchCount<Book>(), 0u);
}

TEST_F(StoreTest, ObjectsWithoutOwnerAreDeletedAtSave) {
  auto container = open();
  auto& context = container->mainContext();
  auto stray = makeBook("Stray");
  context.insert(stray);
  auto library = std::make_shared<Library>();
  auto kept = makeBook("Kept");
  library->setBooks(std::vector{kept});
  context.insert(library);
  save(context);
  EXPECT_TRUE(stray->modelContext() == nullptr);
  EXPECT_EQ(context.fetchCount<Book>(), 1u);

  kept->setLibrary(nullptr);
  EXPECT_EQ(context.fetchCount<Book>(), 1u);  // still there until the save
  save(context);
  EXPECT_EQ(context.fetchCount<Book>(), 0u);
  EXPECT_EQ(open()->mainContext().fetchCount<Book>(), 0u);
}

TEST_F(StoreTest, QueriesSeeUnsavedChangesFilteredAndSorted) {
  makeCityLibrary();
  auto container = open();
  auto& context = container->mainContext();
  auto library = onlyLibrary(context);
  makeBook("Z", 5.0)->setLibrary(library);
  (*library->books())[1]->setPrice(7.0);           // B
  context.deleteModel((*library->books())[0]);     // A

  FetchDescriptor<Book> descriptor;
  descriptor.predicate = [](const Book& book) { return book.price() > 1.0; };
  descriptor.sortBy = {[](const Book& a, const Book& b) { return a.price() > b.price(); }};
  auto found = context.fetch(descriptor);
  std::vector<std::string> names;
  for (const auto& book : found) names.push_back(book->title());
  EXPECT_EQ(names, (std::vector<std::string>{"B", "Z"}));
  EXPECT_EQ(context.fetchCount<Book>(), 3u);  // B, C, Z
}

class FailedSaveTest : public StoreTest, public ::testing::WithParamInterface<SaveStep> {};

TEST_P(FailedSaveTest, KeepsChangesAndTheNextSaveWritesThem) {
  makeCityLibrary();
  auto container = open();
  auto& context = container->mainContext();
  auto library = onlyLibrary(context);
  library->setName("Renamed");
  makeBook("New")->setLibrary(library);
  context.deleteModel((*library->books())[0]);

  SaveStep failAt = GetParam();
  context.setSaveFaultInjection([failAt](SaveStep step) { return step == failAt; });
  auto saved = context.save();
  ASSERT_FALSE(saved.ok());
  EXPECT_EQ(saved.error().domain, kModelStoreErrorDomain);
  EXPECT_EQ(saved.error().code, static_cast<long>(ModelStoreError::InjectedFault));
  EXPECT_TRUE(context.hasChanges());
  EXPECT_EQ(library->name(), "Renamed");
  {
    // The file still holds the last good save.
    auto other = open();
    auto stored = onlyLibrary(other->mainContext());
    EXPECT_EQ(stored->name(), "City");
    EXPECT_EQ(titles(stored->books()), (std::vector<std::string>{"A", "B", "C"}));
  }

  context.setSaveFaultInjection(nullptr);
  save(context);
  EXPECT_FALSE(context.hasChanges());
  auto reopened = open();
  auto stored = onlyLibrary(reopened->mainContext());
  EXPECT_EQ(stored->name(), "Renamed");
  EXPECT_EQ(titles(stored->books()), (std::vector<std::string>{"B", "C", "New"}));
}

INSTANTIATE_TEST_SUITE_P(EveryStep, FailedSaveTest,
                         ::testing::Values(SaveStep::BeginTransaction, SaveStep::WriteRow,
                                           SaveStep::Commit));

TEST_F(StoreTest, RefusesAStoreOfAnotherVersionAndLeavesItAlone) {
  makeCityLibrary();
  ModelConfiguration configuration;
  configuration.url = storePath();
  auto opened = ModelContainer::open(librarySchema({2, 0, 0}), configuration);
  ASSERT_FALSE(opened.ok());
  EXPECT_EQ(opened.error().code, static_cast<long>(ModelStoreError::UnknownSchemaVersion));
  EXPECT_NE(opened.error().localizedDescription().find("1.0.0"), std::string::npos);

  auto container = open();
  EXPECT_EQ(titles(onlyLibrary(container->mainContext())->books()),
            (std::vector<std::string>{"A", "B", "C"}));
}

// A new store's main file holds a whole first page from the moment it exists, so a kill before
// anything reaches it leaves no 0-byte file (which would read as a store whose contents were
// lost); a half-made store left by a killed start is replaced.
TEST_F(StoreTest, ANewStoreIsNeverAZeroByteFile) {
  const std::string leftover = storePath().string() + ".new";
  { std::ofstream(leftover, std::ios::binary) << "half made"; }
  auto container = open();
  ASSERT_TRUE(container);
  EXPECT_GE(std::filesystem::file_size(storePath()), 512u);
  EXPECT_FALSE(std::filesystem::exists(leftover));
  EXPECT_EQ(std::filesystem::status(storePath()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  container.reset();
  EXPECT_TRUE(open());
}

TEST_F(StoreTest, RefusesFilesThatAreNotStores) {
  struct Case {
    const char* what;
    std::string contents;
  };
  for (const Case& c : {Case{"text", "this is not a database at all, just some words...."},
                        Case{"garbage", std::string(4096, '\x7f')}}) {
    SCOPED_TRACE(c.what);
    { std::ofstream(storePath(), std::ios::binary) << c.contents; }
    ModelConfiguration configuration;
    configuration.url = storePath();
    auto opened = ModelContainer::open(librarySchema(), configuration);
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error().code, static_cast<long>(ModelStoreError::NotAStore));
    std::ifstream in(storePath(), std::ios::binary);
    std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(after, c.contents);
  }
  // A directory where the file should be cannot be opened.
  ModelConfiguration configuration;
  configuration.url = dir_.path();
  auto opened = ModelContainer::open(librarySchema(), configuration);
  EXPECT_FALSE(opened.ok());
}

TEST_F(StoreTest, RefusedDatabasesAreLeftByteForByteAsTheyWere) {
  struct Case {
    const char* what;
    const char* sql;
    ModelStoreError refusal;
  };
  const Case cases[] = {
      {"another program's database", "CREATE TABLE notes (body TEXT); INSERT INTO notes VALUES ('kept');",
       ModelStoreError::NotAStore},
      {"a store of another version",
       "CREATE TABLE store_metadata (key TEXT PRIMARY KEY, value TEXT NOT NULL);"
       "INSERT INTO store_metadata VALUES ('schemaVersion', '9.0.0');",
       ModelStoreError::UnknownSchemaVersion},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(storePath());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(storePath().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, c.sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    const auto before = readFileContents(storePath());
    ASSERT_TRUE(before);

    ModelConfiguration configuration;
    configuration.url = storePath();
    auto opened = ModelContainer::open(librarySchema(), configuration);
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error().code, static_cast<long>(c.refusal));
    EXPECT_TRUE(readFileContents(storePath()) == before) << "the refused file was changed";
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
      EXPECT_FALSE(std::filesystem::exists(storePath().string() + suffix)) << suffix;
    }
  }
}

TEST_F(StoreTest, OddRowsLoadWithoutHarm) {
  makeCityLibrary();
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(storePath().c_str(), &db), SQLITE_OK);
    const char* edits =
        "UPDATE Book SET uid='not a uuid', scores=x'0102030405', title=NULL, author=9999 "
        "WHERE title='A';"
        "UPDATE Book SET library=NULL WHERE title='C';";
    ASSERT_EQ(sqlite3_exec(db, edits, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  auto container = open();
  auto& context = container->mainContext();
  auto library = onlyLibrary(context);
  ASSERT_EQ(library->books()->size(), 2u);
  auto odd = (*library->books())[0];
  EXPECT_EQ(odd->title(), "");           // NULL in a required column: the declared value
  EXPECT_TRUE(odd->scores().empty());    // a blob that is no list of numbers
  EXPECT_EQ(odd->author(), nullptr);     // a link to a row that does not exist
  EXPECT_NE(odd->uid(), UUID());         // unreadable id: a fresh one
  // The book that lost its library is an orphan: the next save deletes it and writes the
  // cleared link.
  EXPECT_TRUE(context.hasChanges());
  save(context);
  EXPECT_EQ(open()->mainContext().fetchCount<Book>(), 2u);
}

// Stored ids are read in place; the text must be the whole 8-4-4-4-12 form, in either case.
TEST_F(StoreTest, StoredIdTextReadsInEitherCaseAndOnlyInFull) {
  const UUID expected = *UUID::fromString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  struct Case {
    const char* text;
    bool reads;
  };
  const Case cases[] = {
      {"E621E1F8-C36C-495A-93FC-0C247A3E6E5F", true},
      {"e621e1f8-c36c-495a-93fc-0c247a3e6e5f", true},
      {"E621E1F8-C36C-495A-93FC-0C247A3E6E5", false},    // one digit short
      {"E621E1F8-C36C-495A-93FC-0C247A3E6E5F0", false},  // one too many
      {"E621E1F8C-36C-495A-93FC-0C247A3E6E5F", false},   // a dash out of place
      {"G621E1F8-C36C-495A-93FC-0C247A3E6E5F", false},   // not hexadecimal
      {"E621E1F8-C36C-495A-93FC-0C247A3E6E5 ", false},
  };
  makeCityLibrary();
  for (const Case& c : cases) {
    {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(storePath().c_str(), &db), SQLITE_OK);
      std::string edit = std::string("UPDATE Book SET uid='") + c.text + "' WHERE title='A'";
      ASSERT_EQ(sqlite3_exec(db, edit.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
      sqlite3_close(db);
    }
    auto container = open();
    for (const auto& book : container->mainContext().fetch<Book>()) {
      if (book->title() == "A") {
        EXPECT_EQ(book->uid() == expected, c.reads) << c.text;
      }
    }
  }
}

TEST_F(StoreTest, SavesOnItsOwnAtTurnEndAndWhenClosed) {
  ModelConfiguration configuration;
  configuration.url = storePath();
  auto opened = ModelContainer::open(librarySchema(), configuration);
  ASSERT_TRUE(opened.ok());
  auto& context = (*opened)->mainContext();
  EXPECT_TRUE(context.autosaveEnabled());

  auto library = std::make_shared<Library>();
  library->setName("Turn");
  DispatchQueue::main()->async([&] { context.insert(library); });
  MainLoop::drain();
  EXPECT_FALSE(context.hasChanges());
  EXPECT_EQ(onlyLibrary(open()->mainContext())->name(), "Turn");

  // A failed automatic save is retried at the next turn end.
  int failures = 1;
  context.setSaveFaultInjection([&](SaveStep step) {
    return step == SaveStep::Commit && failures-- > 0;
  });
  DispatchQueue::main()->async([&] { library->setName("Retried"); });
  MainLoop::drain();
  EXPECT_TRUE(context.hasChanges());
  DispatchQueue::main()->async([] {});
  MainLoop::drain();
  EXPECT_FALSE(context.hasChanges());
  EXPECT_EQ(onlyLibrary(open()->mainContext())->name(), "Retried");

  // Closing the container saves what is pending.
  library->setName("Closed");
  opened->reset();
  EXPECT_EQ(onlyLibrary(open()->mainContext())->name(), "Closed");
}

}  // namespace
}  // namespace platform::testing
