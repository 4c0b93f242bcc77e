#include "platform/foundation/keyed_archiver.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

class TestToken : public KeyedCoding {
 public:
  static constexpr const char* kArchiveClassName = "TestToken";
  std::string archiveClassName() const override { return kArchiveClassName; }
  void encodeWithCoder(KeyedArchiver& coder) const override {
    coder.encodeInt64(status, "status");
    coder.encodeObject(token, "token");
    coder.encodeObject(expirationDate, "expirationDate");
    coder.encodeInt64(1, "storageVersion");
  }
  static std::shared_ptr<TestToken> initWithCoder(KeyedUnarchiver& coder) {
    auto token = std::make_shared<TestToken>();
    token->status = coder.decodeInt64("status");
    token->token = coder.decodeString("token");
    token->expirationDate = coder.decodeDate("expirationDate");
    return token;
  }

  int64_t status = 0;
  std::optional<std::string> token;
  std::optional<Date> expirationDate;
};

// An object with a field of every kind, and two references to one token.
class TestItem : public KeyedCoding {
 public:
  static constexpr const char* kArchiveClassName = "TestItem";
  std::string archiveClassName() const override { return kArchiveClassName; }
  void encodeWithCoder(KeyedArchiver& coder) const override {
    coder.encodeObject(identifier, "identifier");
    coder.encodeObject(authToken, "authToken");
    coder.encodeObject(sameToken, "sameToken");
    coder.encodeInt64(registrationStatus, "registrationStatus");
    coder.encodeInt32(productID, "productID");
    coder.encodeBool(flag, "flag");
    coder.encodeDouble(ratio, "ratio");
    coder.encodeObject(bytes, "bytes");
    coder.encodeObject(counts, "counts");
    coder.encodeObject(dollarField, "$class");
  }
  static std::shared_ptr<TestItem> initWithCoder(KeyedUnarchiver& coder) {
    auto item = std::make_shared<TestItem>();
    item->identifier = coder.decodeString("identifier");
    item->authToken = coder.decodeObjectOfClass<TestToken>("authToken");
    item->sameToken = coder.decodeObjectOfClass<TestToken>("sameToken");
    item->registrationStatus = coder.decodeInt64("registrationStatus");
    item->productID = coder.decodeInt32("productID");
    item->flag = coder.decodeBool("flag");
    item->ratio = coder.decodeDouble("ratio");
    item->bytes = coder.decodeData("bytes");
    auto counts = coder.decodeObjectOfClasses(
        {kArchiveDictionaryClass, kArchiveArrayClass, kArchiveStringClass, kArchiveNumberClass},
        "counts");
    if (counts) item->counts = *counts;
    item->dollarField = coder.decodeString("$class");
    return item;
  }

  std::optional<std::string> identifier;
  std::shared_ptr<TestToken> authToken;
  std::shared_ptr<TestToken> sameToken;
  int64_t registrationStatus = 0;
  int32_t productID = 0;
  bool flag = false;
  double ratio = 0;
  std::optional<std::vector<uint8_t>> bytes;
  ArchiveValue counts;
  std::optional<std::string> dollarField;
};

// Read under another archived name, as a legacy token is.
class TestLegacyTokenInfo : public KeyedCoding {
 public:
  static constexpr const char* kArchiveClassName = "TestLegacyTokenInfo";
  std::string archiveClassName() const override { return archivedName; }
  void encodeWithCoder(KeyedArchiver& coder) const override { coder.encodeObject(token, "token"); }
  static std::shared_ptr<TestLegacyTokenInfo> initWithCoder(KeyedUnarchiver& coder) {
    auto info = std::make_shared<TestLegacyTokenInfo>();
    info->token = coder.decodeString("token");
    return info;
  }

  std::string archivedName = kArchiveClassName;
  std::optional<std::string> token;
};

class ThrowingObject : public KeyedCoding {
 public:
  std::string archiveClassName() const override { return "ThrowingObject"; }
  void encodeWithCoder(KeyedArchiver&) const override {
    throw Exception(kInvalidArgumentException, "cannot encode this");
  }
};

class KeyedArchiverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KeyedClassRegistry::registerClass<TestToken>();
    KeyedClassRegistry::registerClass<TestItem>();
    KeyedClassRegistry::registerClass<TestLegacyTokenInfo>();
  }

  static std::shared_ptr<TestItem> sampleItem() {
    auto token = std::make_shared<TestToken>();
    token->status = 1;
    token->token = "auth-token";
    token->expirationDate = Date{789.5};
    auto item = std::make_shared<TestItem>();
    item->identifier = "c1aB-_xyz";
    item->authToken = token;
    item->sameToken = token;
    item->registrationStatus = 2;
    item->productID = -42;
    item->flag = true;
    item->ratio = 0.25;
    item->bytes = std::vector<uint8_t>{0, 1, 255};
    item->counts = ArchiveValue::Dictionary{
        {ArchiveValue::Key(std::string("1710")),
         ArchiveValue::Dictionary{{ArchiveValue::Key(int64_t{5}), ArchiveValue::integer(3)}}},
        {ArchiveValue::Key(std::string("list")),
         ArchiveValue::Array{ArchiveValue("a"), ArchiveValue::real(1.5), ArchiveValue()}},
    };
    item->dollarField = "not the class";
    return item;
  }

  // An archive made from a raw object table, for layouts our archiver never writes.
  static std::vector<uint8_t> rawArchive(PlistValue::Array objects, uint64_t root = 1) {
    PlistValue archive(PlistValue::Dictionary{
        {"$archiver", PlistValue("NSKeyedArchiver")},
        {"$version", PlistValue(100000)},
        {"$top", PlistValue(PlistValue::Dictionary{{"root", PlistValue(PlistUid{root})}})},
        {"$objects", PlistValue(std::move(objects))},
    });
    return *encodePlist(archive, PlistFormat::Binary);
  }

  static PlistValue classDescription(std::vector<std::string> chain) {
    PlistValue::Array classes;
    for (const auto& name : chain) classes.emplace_back(name);
    return PlistValue::Dictionary{{"$classname", PlistValue(chain.front())},
                                  {"$classes", PlistValue(classes)}};
  }
};

TEST_F(KeyedArchiverTest, RoundTripsAnObjectGraph) {
  auto item = sampleItem();
  Error error;
  auto bytes = KeyedArchiver::archivedData(item, &error);
  ASSERT_TRUE(bytes) << error.localizedDescription();

  auto back = KeyedUnarchiver::unarchivedObjectOfClass<TestItem>(*bytes, &error);
  ASSERT_TRUE(back) << error.localizedDescription();
  EXPECT_EQ(back->identifier, item->identifier);
  ASSERT_TRUE(back->authToken);
  EXPECT_EQ(back->authToken->status, 1);
  EXPECT_EQ(back->authToken->token, "auth-token");
  EXPECT_EQ(back->authToken->expirationDate, Date{789.5});
  EXPECT_EQ(back->sameToken, back->authToken) << "one archived object decodes to one object";
  EXPECT_EQ(back->registrationStatus, 2);
  EXPECT_EQ(back->productID, -42);
  EXPECT_TRUE(back->flag);
  EXPECT_EQ(back->ratio, 0.25);
  EXPECT_EQ(back->bytes, item->bytes);
  EXPECT_EQ(back->counts, item->counts);
  EXPECT_EQ(back->dollarField, "not the class");
}

TEST_F(KeyedArchiverTest, WritesThePlatformLayout) {
  auto token = std::make_shared<TestToken>();
  token->token = "t";
  token->expirationDate = Date{100.0};
  auto bytes = KeyedArchiver::archivedData(token);
  ASSERT_TRUE(bytes);
  auto archive = decodePlist(*bytes);
  ASSERT_TRUE(archive);

  EXPECT_EQ(*archive->find("$archiver"), PlistValue("NSKeyedArchiver"));
  EXPECT_EQ(*archive->find("$version"), PlistValue(100000));
  const PlistValue::Array& objects = *archive->find("$objects")->asArray();
  EXPECT_EQ(objects.at(0), PlistValue("$null"));
  const PlistUid root = *archive->find("$top")->find("root")->asUid();

  const PlistValue& object = objects.at(root.value);
  EXPECT_EQ(*object.find("status"), PlistValue(0));
  EXPECT_EQ(*object.find("storageVersion"), PlistValue(1));
  EXPECT_EQ(objects.at(object.find("token")->asUid()->value), PlistValue("t"));
  const PlistValue& ownClass = objects.at(object.find("$class")->asUid()->value);
  EXPECT_EQ(ownClass, classDescription({"TestToken", "NSObject"}));

  const PlistValue& date = objects.at(object.find("expirationDate")->asUid()->value);
  EXPECT_EQ(*date.find("NS.time"), PlistValue(100.0));
  EXPECT_EQ(objects.at(date.find("$class")->asUid()->value),
            classDescription({"NSDate", "NSObject"}));
}

TEST_F(KeyedArchiverTest, RefusesClassesThatAreNotAllowed) {
  auto bytes = *KeyedArchiver::archivedData(sampleItem());
  Error error;

  // The root itself.
  EXPECT_FALSE(KeyedUnarchiver::unarchivedObjectOfClasses({kArchiveStringClass}, bytes, &error));
  EXPECT_EQ(error.domain, kCocoaErrorDomain);
  EXPECT_EQ(error.code, kCoderReadCorruptError);
  EXPECT_NE(error.userInfo.at(kErrorLocalizedFailureReasonKey).asString()->find("TestItem"),
            std::string::npos);

  // A field of the wrong class inside an object fails the whole read.
  auto wrongField = rawArchive(
      {PlistValue("$null"),
       PlistValue::Dictionary{{"token", PlistValue(PlistUid{3})},
                              {"$class", PlistValue(PlistUid{2})}},
       classDescription({"TestToken", "NSObject"}),
       PlistValue::Dictionary{{"NS.time", PlistValue(1.0)}, {"$class", PlistValue(PlistUid{4})}},
       classDescription({"NSDate", "NSObject"})});
  EXPECT_FALSE(KeyedUnarchiver::unarchivedObjectOfClass<TestToken>(wrongField, &error));
  EXPECT_EQ(error.code, kCoderReadCorruptError);

  // Collections check their members against the same classes.
  auto dateInDictionary = *KeyedArchiver::archivedData(ArchiveValue(
      ArchiveValue::Dictionary{{ArchiveValue::Key(std::string("k")), ArchiveValue(Date{1})}}));
  EXPECT_FALSE(KeyedUnarchiver::unarchivedObjectOfClasses(
      {kArchiveDictionaryClass, kArchiveStringClass}, dateInDictionary, &error));

  // An archive cannot pass a class off as an allowed one through its "$classes" chain.
  auto forged =
      rawArchive({PlistValue("$null"),
                  PlistValue::Dictionary{{"token", PlistValue(PlistUid{3})},
                                         {"$class", PlistValue(PlistUid{2})}},
                  classDescription({"TestToken", "NSString", "NSObject"}), PlistValue("x")});
  EXPECT_FALSE(KeyedUnarchiver::unarchivedObjectOfClasses({kArchiveStringClass}, forged, &error));
  EXPECT_EQ(error.code, kCoderReadCorruptError);

  // An unknown class is refused even when every class is allowed.
  auto unknown =
      rawArchive({PlistValue("$null"), PlistValue::Dictionary{{"$class", PlistValue(PlistUid{2})}},
                  classDescription({"NoSuchClass", "NSObject"})});
  EXPECT_FALSE(KeyedUnarchiver::unarchivedObjectOfClasses({kArchiveObjectClass}, unknown, &error));
}

TEST_F(KeyedArchiverTest, MapsArchivedClassNames) {
  auto legacy = std::make_shared<TestLegacyTokenInfo>();
  legacy->archivedName = "OldTokenInfo";
  legacy->token = "legacy-token";
  auto bytes = *KeyedArchiver::archivedData(legacy);

  Error error;
  EXPECT_FALSE(KeyedUnarchiver::unarchivedObjectOfClass<TestLegacyTokenInfo>(bytes, &error))
      << "unmapped, the archived name is an unknown class";

  auto unarchiver = KeyedUnarchiver::forReadingFromData(bytes, &error);
  ASSERT_TRUE(unarchiver);
  unarchiver->setClass(TestLegacyTokenInfo::kArchiveClassName, "OldTokenInfo");
  auto info = unarchiver->decodeObjectOfClass<TestLegacyTokenInfo>("root");
  ASSERT_TRUE(info);
  EXPECT_FALSE(unarchiver->error());
  EXPECT_EQ(info->token, "legacy-token");
}

TEST_F(KeyedArchiverTest, ReadsMutableVariantsAndOtherArchiversLayouts) {
  // As another archiver writes them: mutable classes with full chains, a string and data
  // wrapped in objects, a plain number, an integer key, and a null member.
  auto bytes = rawArchive({
      PlistValue("$null"),
      PlistValue::Dictionary{
          {"NS.keys", PlistValue::Array{PlistUid{3}, PlistUid{4}, PlistUid{9}}},
          {"NS.objects", PlistValue::Array{PlistUid{5}, PlistUid{7}, PlistUid{0}}},
          {"$class", PlistUid{2}}},
      classDescription({"NSMutableDictionary", "NSDictionary", "NSObject"}),
      PlistValue("name"),
      PlistValue(7),
      PlistValue::Dictionary{{"NS.string", PlistValue("Ada")}, {"$class", PlistUid{6}}},
      classDescription({"NSMutableString", "NSString", "NSObject"}),
      PlistValue::Dictionary{{"NS.data", PlistValue(PlistValue::Data{1, 2})},
                             {"$class", PlistUid{8}}},
      classDescription({"NSMutableData", "NSData", "NSObject"}),
      PlistValue("empty"),
  });
  Error error;
  auto value = KeyedUnarchiver::unarchivedObjectOfClasses(
      {kArchiveDictionaryClass, kArchiveStringClass, kArchiveNumberClass, kArchiveDataClass}, bytes,
      &error);
  ASSERT_TRUE(value) << error.localizedDescription();
  EXPECT_EQ(*value->find("name"), ArchiveValue("Ada"));
  EXPECT_EQ(*value->find(int64_t{7}), ArchiveValue(ArchiveValue::Data{1, 2}));
  EXPECT_TRUE(value->find("empty")->isNull());
}

TEST_F(KeyedArchiverTest, RejectsMalformedArchivesWithAnError) {
  PlistValue arrayClass = classDescription({"NSArray", "NSObject"});
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases = {
      {"not a property list", {'n', 'o', 'p', 'e'}},
      {"a plain property list",
       *encodePlist(PlistValue(PlistValue::Dictionary{{"a", PlistValue(1)}}), PlistFormat::Xml)},
      {"reference out of range", rawArchive({PlistValue("$null")}, 99)},
      {"array containing itself",
       rawArchive({PlistValue("$null"),
                   PlistValue::Dictionary{{"NS.objects", PlistValue::Array{PlistUid{1}}},
                                          {"$class", PlistUid{2}}},
                   arrayClass})},
      {"keys and objects of different lengths",
       rawArchive({PlistValue("$null"),
                   PlistValue::Dictionary{{"NS.keys", PlistValue::Array{PlistUid{3}}},
                                          {"NS.objects", PlistValue::Array{}},
                                          {"$class", PlistUid{2}}},
                   classDescription({"NSDictionary", "NSObject"}), PlistValue("k")})},
      {"date without time",
       rawArchive({PlistValue("$null"), PlistValue::Dictionary{{"$class", PlistUid{2}}},
                   classDescription({"NSDate", "NSObject"})})},
      {"object without class", rawArchive({PlistValue("$null"), PlistValue::Dictionary{}})},
      {"array member that is no reference",
       rawArchive({PlistValue("$null"),
                   PlistValue::Dictionary{{"NS.objects", PlistValue::Array{PlistValue("x")}},
                                          {"$class", PlistUid{2}}},
                   arrayClass})},
  };
  // Arrays nested far deeper than any real archive.
  PlistValue::Array deep{PlistValue("$null"), arrayClass};
  for (uint64_t i = 2; i < 2000; ++i) {
    deep.push_back(PlistValue::Dictionary{{"NS.objects", PlistValue::Array{PlistUid{i + 1}}},
                                          {"$class", PlistUid{1}}});
  }
  deep.push_back(PlistValue("bottom"));
  cases.push_back({"deep nesting", rawArchive(deep, 2)});

  for (const auto& c : cases) {
    Error error;
    EXPECT_FALSE(KeyedUnarchiver::unarchivedObjectOfClasses({kArchiveObjectClass}, c.bytes, &error))
        << c.name;
    EXPECT_EQ(error.domain, kCocoaErrorDomain) << c.name;
    EXPECT_EQ(error.code, kCoderReadCorruptError) << c.name;
  }
}

TEST_F(KeyedArchiverTest, ScalarsOfTheWrongKindFailTheRead) {
  KeyedArchiver archiver;
  archiver.encodeObject(ArchiveValue("text"), "text");
  archiver.encodeInt64(int64_t{1} << 40, "big");
  archiver.encodeDouble(2.75, "real");
  auto bytes = *archiver.finishEncoding();

  auto reader = [&] { return KeyedUnarchiver::forReadingFromData(bytes); };
  auto unarchiver = reader();
  EXPECT_EQ(unarchiver->decodeInt64("missing"), 0);
  EXPECT_FALSE(unarchiver->decodeBool("missing"));
  EXPECT_EQ(unarchiver->decodeInt64("real"), 2);
  EXPECT_EQ(unarchiver->decodeDouble("big"), double(int64_t{1} << 40));
  EXPECT_FALSE(unarchiver->error());

  unarchiver = reader();
  EXPECT_EQ(unarchiver->decodeInt32("big"), 0);
  EXPECT_TRUE(unarchiver->error()) << "an integer beyond 32 bits";

  unarchiver = reader();
  EXPECT_EQ(unarchiver->decodeInt64("text"), 0);
  EXPECT_TRUE(unarchiver->error()) << "an object reference read as a number";
  EXPECT_FALSE(unarchiver->decodeString("text")) << "nothing decodes after an error";
}

TEST_F(KeyedArchiverTest, ReportsEncodingFailuresAndNullRoots) {
  Error error;
  EXPECT_FALSE(KeyedArchiver::archivedData(std::make_shared<ThrowingObject>(), &error));
  EXPECT_EQ(error.domain, kCocoaErrorDomain);
  EXPECT_EQ(error.code, kCoderInvalidValueError);
  EXPECT_NE(error.localizedDescription().find("cannot encode this"), std::string::npos);

  auto bytes = KeyedArchiver::archivedData(nullptr);
  ASSERT_TRUE(bytes);
  Error none;
  EXPECT_FALSE(KeyedUnarchiver::unarchivedObjectOfClasses({kArchiveStringClass}, *bytes, &none));
  EXPECT_EQ(none, Error());
}

}  // namespace
}  // namespace platform
