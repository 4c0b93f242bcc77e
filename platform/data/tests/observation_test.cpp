#include <gtest/gtest.h>

#include <vector>

#include "platform/data/model_context.h"
#include "platform/observation/observation.h"
#include "platform/data/tests/test_schema.h"

namespace platform::testing {
namespace {

TEST(ObservationTest, AWriteNotifiesObserversOfThatPropertyOnly) {
  auto book = makeBook("A");
  int titleChanges = 0;
  int priceChanges = 0;
  const auto& registrar = book->observationRegistrar();
  auto titleToken = registrar.addObserver(Book::kTitle, [&] { ++titleChanges; });
  registrar.addObserver(Book::kPrice, [&] { ++priceChanges; });

  book->setTitle("B");
  EXPECT_EQ(titleChanges, 1);
  EXPECT_EQ(priceChanges, 0);
  EXPECT_EQ(book->title(), "B");  // the observer runs after the change

  registrar.removeObserver(titleToken);
  book->setTitle("C");
  EXPECT_EQ(titleChanges, 1);
}

TEST(ObservationTest, AnObserverOfEveryPropertyHearsWhichChanged) {
  auto book = makeBook("A");
  std::vector<std::size_t> heard;
  const auto& registrar = book->observationRegistrar();
  auto token = registrar.addObserverOfEveryProperty([&](std::size_t property) { heard.push_back(property); });
  int titleChanges = 0;
  registrar.addObserver(Book::kTitle, [&] { ++titleChanges; });

  book->setTitle("B");
  book->setPrice(2.0);
  EXPECT_EQ(heard, (std::vector<std::size_t>{Book::kTitle, Book::kPrice}));
  EXPECT_EQ(titleChanges, 1) << "a property's own observers still hear it";

  registrar.removeObserver(token);
  book->setTitle("C");
  EXPECT_EQ(heard.size(), 2u);
}

TEST(ObservationTest, LinkingNotifiesTheListOnTheOtherEnd) {
  auto author = std::make_shared<Author>();
  auto previous = std::make_shared<Author>();
  auto book = makeBook("A");
  book->setAuthor(previous);
  int booksChanges = 0;
  int previousChanges = 0;
  author->observationRegistrar().addObserver(Author::kBooks, [&] { ++booksChanges; });
  previous->observationRegistrar().addObserver(Author::kBooks, [&] { ++previousChanges; });

  book->setAuthor(author);
  EXPECT_EQ(booksChanges, 1);
  EXPECT_EQ(previousChanges, 1);
}

TEST(ObservationTest, TrackingFiresOnceForWhatWasRead) {
  auto book = makeBook("A");
  auto other = makeBook("B");
  int fired = 0;
  std::string shown;
  withObservationTracking([&] { shown = book->title(); }, [&] { ++fired; });
  EXPECT_EQ(shown, "A");

  other->setTitle("X");   // not read
  book->setPrice(3.0);    // not read
  EXPECT_EQ(fired, 0);
  book->setTitle("C");
  book->setTitle("D");
  EXPECT_EQ(fired, 1);
}

TEST(ObservationTest, CancelledTrackingLeavesNoObserverBehind) {
  auto book = makeBook("A");
  int fired = 0;
  // A renderer that tracks anew on every render and cancels the previous tracking.
  ObservationTracking previous;
  for (int render = 0; render < 100; ++render) {
    previous.cancel();
    previous = withObservationTracking([&] { (void)book->title(); }, [&] { ++fired; });
  }
  EXPECT_TRUE(previous.isActive());
  book->setTitle("B");
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(previous.isActive());
}

TEST(ObservationTest, TrackingOutlivesTheObject) {
  int fired = 0;
  {
    auto book = makeBook("A");
    withObservationTracking([&] { (void)book->title(); }, [&] { ++fired; });
  }
  EXPECT_EQ(fired, 0);
}

// A render that fetched books learns of every change to which books there are, wherever it is
// made, and of nothing else.
TEST(ObservationTest, TrackedFetchFiresWhenItsEntitysObjectsChange) {
  struct Case {
    const char* name;
    std::function<void(ModelContext&, const std::shared_ptr<Library>&)> change;
    bool fires;
  };
  const Case cases[] = {
      {"a book inserted", [](ModelContext& c, auto&) { c.insert(makeBook("New")); }, true},
      {"a book deleted",
       [](ModelContext& c, const std::shared_ptr<Library>& l) { c.deleteModel((*l->books())[0]); }, true},
      {"its library deleted (cascade)", [](ModelContext& c, const std::shared_ptr<Library>& l) { c.deleteModel(l); },
       true},
      {"a cheap book made dear (the predicate reads price)",
       [](ModelContext&, const std::shared_ptr<Library>& l) { (*l->books())[1]->setPrice(50); }, true},
      {"an author inserted", [](ModelContext& c, auto&) { c.insert(std::make_shared<Author>()); }, false},
      {"the library renamed", [](ModelContext&, const std::shared_ptr<Library>& l) { l->setName("X"); }, false},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    ModelContext context;
    auto library = std::make_shared<Library>();
    library->setBooks(std::vector{makeBook("Dear", 20), makeBook("Cheap", 2)});
    context.insert(library);
    int fired = 0;
    std::size_t shown = 0;
    FetchDescriptor<Book> dear;
    dear.predicate = [](const Book& b) { return b.price() > 10; };
    withObservationTracking([&] { shown = context.fetch(dear).size(); }, [&] { ++fired; });
    EXPECT_EQ(shown, 1u);
    test.change(context, library);
    EXPECT_EQ(fired, test.fires ? 1 : 0);
  }
}

TEST(ObservationTest, FetchOfAnEntityNeverRegisteredStillFiresOnItsFirstInsert) {
  ModelContext context;
  int fired = 0;
  withObservationTracking([&] { EXPECT_TRUE(context.fetch<Author>().empty()); }, [&] { ++fired; });
  context.insert(std::make_shared<Author>());
  EXPECT_EQ(fired, 1);
}

}  // namespace
}  // namespace platform::testing
