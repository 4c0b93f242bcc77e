// A small model for the store's tests: a Library owns its books and authors (cascade);
// a Book belongs to one library and may name one author; an Author lists its books
// (no action: deleting an author keeps the books).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/data/model_container.h"
#include "platform/data/persistent_model.h"
#include "platform/data/schema.h"

namespace platform::testing {

class Book;
class Author;

class Library : public PersistentModel {
 public:
  enum : std::size_t { kName, kBooks, kAuthors };
  Library() : PersistentModel(entityDescription()) {}
  static const EntityDescription& entityDescription();

  std::string name() const { return attribute<std::string>(kName); }
  void setName(std::string v) { setValue(kName, std::move(v)); }
  std::optional<std::vector<std::shared_ptr<Book>>> books() const;
  void setBooks(const std::optional<std::vector<std::shared_ptr<Book>>>& v);
  std::optional<std::vector<std::shared_ptr<Author>>> authors() const;
  void setAuthors(const std::optional<std::vector<std::shared_ptr<Author>>>& v);
};

class Book : public PersistentModel {
 public:
  enum : std::size_t {
    kTitle, kPrice, kNote, kRating, kScores, kPublished, kUid, kLent, kLibrary, kAuthor
  };
  Book() : PersistentModel(entityDescription()) {}
  static const EntityDescription& entityDescription();

  std::string title() const { return attribute<std::string>(kTitle); }
  void setTitle(std::string v) { setValue(kTitle, std::move(v)); }
  double price() const { return attribute<double>(kPrice); }
  void setPrice(double v) { setValue(kPrice, v); }
  std::optional<std::string> note() const { return optionalAttribute<std::string>(kNote); }
  void setNote(std::optional<std::string> v) { setOptionalAttribute(kNote, v); }
  std::optional<std::int64_t> rating() const { return optionalAttribute<std::int64_t>(kRating); }
  void setRating(std::optional<std::int64_t> v) { setOptionalAttribute(kRating, v); }
  std::vector<double> scores() const { return attribute<std::vector<double>>(kScores); }
  void setScores(std::vector<double> v) { setValue(kScores, std::move(v)); }
  Date published() const { return attribute<Date>(kPublished); }
  void setPublished(Date v) { setValue(kPublished, v); }
  UUID uid() const { return attribute<UUID>(kUid); }
  void setUid(UUID v) { setValue(kUid, v); }
  bool lent() const { return attribute<bool>(kLent); }
  void setLent(bool v) { setValue(kLent, v); }
  std::shared_ptr<Library> library() const { return toOne<Library>(kLibrary); }
  void setLibrary(const std::shared_ptr<Library>& v) { setRelated(kLibrary, v); }
  std::shared_ptr<Author> author() const;
  void setAuthor(const std::shared_ptr<Author>& v);
};

class Author : public PersistentModel {
 public:
  enum : std::size_t { kName, kLibrary, kBooks };
  Author() : PersistentModel(entityDescription()) {}
  static const EntityDescription& entityDescription();

  std::string name() const { return attribute<std::string>(kName); }
  void setName(std::string v) { setValue(kName, std::move(v)); }
  std::shared_ptr<Library> library() const { return toOne<Library>(kLibrary); }
  void setLibrary(const std::shared_ptr<Library>& v) { setRelated(kLibrary, v); }
  std::optional<std::vector<std::shared_ptr<Book>>> books() const { return toMany<Book>(kBooks); }
  void setBooks(const std::optional<std::vector<std::shared_ptr<Book>>>& v) { setToMany(kBooks, v); }
};

inline std::optional<std::vector<std::shared_ptr<Book>>> Library::books() const {
  return toMany<Book>(kBooks);
}
inline void Library::setBooks(const std::optional<std::vector<std::shared_ptr<Book>>>& v) {
  setToMany(kBooks, v);
}
inline std::optional<std::vector<std::shared_ptr<Author>>> Library::authors() const {
  return toMany<Author>(kAuthors);
}
inline void Library::setAuthors(const std::optional<std::vector<std::shared_ptr<Author>>>& v) {
  setToMany(kAuthors, v);
}
inline std::shared_ptr<Author> Book::author() const { return toOne<Author>(kAuthor); }
inline void Book::setAuthor(const std::shared_ptr<Author>& v) { setRelated(kAuthor, v); }

inline const EntityDescription& Library::entityDescription() {
  static const EntityDescription d = [] {
    EntityDescription e;
    e.name = "Library";
    RelationshipOptions cascade{DeleteRule::Cascade, 0, 0, std::nullopt};
    e.properties = {
        PropertyDescription::attribute("name", AttributeType::String, false,
                                       PropertyDefault::value(std::string())),
        PropertyDescription::toMany("books", &Book::entityDescription, "library", cascade),
        PropertyDescription::toMany("authors", &Author::entityDescription, "library", cascade),
    };
    e.makeEmpty = [] { return std::make_shared<Library>(); };
    return e;
  }();
  return d;
}

inline const EntityDescription& Book::entityDescription() {
  static const EntityDescription d = [] {
    EntityDescription e;
    e.name = "Book";
    e.properties = {
        PropertyDescription::attribute("title", AttributeType::String, false,
                                       PropertyDefault::value(std::string())),
        PropertyDescription::attribute("price", AttributeType::Double, false,
                                       PropertyDefault::value(0.0)),
        PropertyDescription::attribute("note", AttributeType::String, true,
                                       PropertyDefault::none()),
        PropertyDescription::attribute("rating", AttributeType::Integer, true,
                                       PropertyDefault::none()),
        PropertyDescription::attribute("scores", AttributeType::DoubleArray, false,
                                       PropertyDefault::value(std::vector<double>{})),
        PropertyDescription::attribute("published", AttributeType::Date, false,
                                       PropertyDefault::generated([] { return Date::now(); })),
        PropertyDescription::attribute("uid", AttributeType::Uuid, false,
                                       PropertyDefault::generated([] { return UUID::random(); })),
        PropertyDescription::attribute("lent", AttributeType::Boolean, false,
                                       PropertyDefault::value(false)),
        PropertyDescription::toOne("library", &Library::entityDescription, "books"),
        PropertyDescription::toOne("author", &Author::entityDescription, "books"),
    };
    e.ownerRelationship = "library";
    e.makeEmpty = [] { return std::make_shared<Book>(); };
    return e;
  }();
  return d;
}

inline const EntityDescription& Author::entityDescription() {
  static const EntityDescription d = [] {
    EntityDescription e;
    e.name = "Author";
    e.properties = {
        PropertyDescription::attribute("name", AttributeType::String, false,
                                       PropertyDefault::value(std::string())),
        PropertyDescription::toOne("library", &Library::entityDescription, "authors"),
        PropertyDescription::toMany("books", &Book::entityDescription, "author",
                                    RelationshipOptions{DeleteRule::NoAction, 0, 0, "author"}),
    };
    e.ownerRelationship = "library";
    e.makeEmpty = [] { return std::make_shared<Author>(); };
    return e;
  }();
  return d;
}

inline Schema librarySchema(SchemaVersion version = {1, 0, 0}) {
  return Schema({&Library::entityDescription()}, version);
}

inline std::shared_ptr<Book> makeBook(const std::string& title, double price = 1.0) {
  auto book = std::make_shared<Book>();
  book->setTitle(title);
  book->setPrice(price);
  return book;
}

template <class T>
std::vector<std::string> titles(const std::optional<std::vector<std::shared_ptr<T>>>& list) {
  std::vector<std::string> result;
  if (list) {
    for (const auto& book : *list) result.push_back(book->title());
  }
  return result;
}

}  // namespace platform::testing
