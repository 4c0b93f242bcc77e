#include <gtest/gtest.h>

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

}  // namespace
}  // namespace platform::testing
