#include <fcntl.h>
#include <unistd.h>

#include <signal.h>
#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

#include "crash-reporting/core/file.h"
#include "crash-reporting/core/tests/test_support.h"

namespace {

using crash_test::readFile;
using crash_test::readSections;
using crash_test::TempDir;

TEST(CRFileTest, EveryValueTypeReadsBack) {
  TempDir folder;
  const std::string path = folder.file("all.crrecord");
  CRFile file;
  ASSERT_TRUE(CRFileInitWithPathMode(&file, path.c_str(), false, true));
  CRFileWriteSectionStart(&file, "values");
  CRFileWriteHashStart(&file);
  CRFileWriteHashEntryUint64(&file, "zero", 0);
  CRFileWriteHashEntryUint64(&file, "max", UINT64_MAX);
  CRFileWriteHashEntryInt64(&file, "min", INT64_MIN);
  CRFileWriteHashEntryInt64(&file, "negative", -42);
  CRFileWriteHashEntryString(&file, "text", "plain text");
  CRFileWriteHashEntryString(&file, "missing", nullptr);
  CRFileWriteHashEntryNonEmptyString(&file, "empty", "");
  CRFileWriteHashEntryNonEmptyString(&file, "present", "here");
  CRFileWriteHashEntryHexEncodedString(&file, "hex", "a\"b");
  CRFileWriteHashEntryHexEncodedString(&file, "hexMissing", nullptr);
  CRFileWriteHashEntryBoolean(&file, "yes", true);
  CRFileWriteHashEntryBoolean(&file, "no", false);
  CRFileWriteHashKey(&file, "list");
  CRFileWriteArrayStart(&file);
  CRFileWriteArrayEntryUint64(&file, 7);
  CRFileWriteArrayEntryString(&file, "s");
  CRFileWriteArrayEntryHexEncodedString(&file, "Z");
  CRFileWriteHashStart(&file);
  CRFileWriteHashEntryUint64(&file, "nested", 1);
  CRFileWriteHashEnd(&file);
  CRFileWriteArrayEnd(&file);
  CRFileWriteHashKey(&file, "raw");
  CRFileWriteRaw(&file, "{\"pre\":[1]}", 11);
  CRFileWriteHashEnd(&file);
  CRFileWriteSectionEnd(&file);
  int64_t length = 0;
  ASSERT_TRUE(CRFileCloseWithOffset(&file, &length));
  EXPECT_EQ(file.fd, -1);
  EXPECT_EQ(length, static_cast<int64_t>(readFile(path).size()));

  const auto sections = readSections(path);
  ASSERT_EQ(sections.size(), 1u);
  const nlohmann::json& values = sections[0]["values"];
  EXPECT_EQ(values["zero"], 0u);
  EXPECT_EQ(values["max"].get<uint64_t>(), UINT64_MAX);
  EXPECT_EQ(values["min"].get<int64_t>(), INT64_MIN);
  EXPECT_EQ(values["negative"], -42);
  EXPECT_EQ(values["text"], "plain text");
  EXPECT_TRUE(values["missing"].is_null());
  EXPECT_FALSE(values.contains("empty"));
  EXPECT_EQ(values["present"], "here");
  EXPECT_EQ(values["hex"], "612262");
  EXPECT_TRUE(values["hexMissing"].is_null());
  EXPECT_EQ(values["yes"], true);
  EXPECT_EQ(values["no"], false);
  EXPECT_EQ(values["list"], nlohmann::json::parse(R"([7,"s","5a",{"nested":1}])"));
  EXPECT_EQ(values["raw"], nlohmann::json::parse(R"({"pre":[1]})"));
  EXPECT_EQ(readFile(path).find("\"empty\""), std::string::npos);
}

// Plain strings and keys are JSON strings: whatever they hold, the line parses and gives the
// text back; clean text is written byte for byte.
TEST(CRFileTest, PlainStringsSurviveTheRoundTrip) {
  const std::vector<std::string> texts = {
      "clean text", "a quote in a \"path\"", "C:\\dir\\file", "tab\tnew\nline\r", std::string("bell\x07\x1f", 6),
      "ünïcödé", std::string(300, 'x') + "\"" + std::string(300, '\\')};
  TempDir folder;
  const std::string path = folder.file("escape.crrecord");
  CRFile file;
  ASSERT_TRUE(CRFileInitWithPathMode(&file, path.c_str(), false, false));
  for (const std::string& text : texts) {
    CRFileWriteSectionStart(&file, text.c_str());
    CRFileWriteHashStart(&file);
    CRFileWriteHashEntryString(&file, text.c_str(), text.c_str());
    CRFileWriteHashEnd(&file);
    CRFileWriteSectionEnd(&file);
  }
  ASSERT_TRUE(CRFileShut(&file));
  const auto sections = readSections(path);
  ASSERT_EQ(sections.size(), texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(sections[i][texts[i]][texts[i]], texts[i]) << i;
  }
  EXPECT_EQ(readFile(path).substr(0, 43), "{\"clean text\":{\"clean text\":\"clean text\"}}\n");
}

TEST(CRFileTest, BufferFlushesAtNineHundredNinetyNineBytes) {
  TempDir folder;
  const std::string path = folder.file("buffer.crrecord");
  CRFile file;
  ASSERT_TRUE(CRFileInit(&file, path.c_str(), true));
  const std::string bytes(1000, 'a');
  CRFileWriteRaw(&file, bytes.data(), 999);
  EXPECT_EQ(file.writeBufferLength, 999u);
  EXPECT_EQ(readFile(path).size(), 0u);
  CRFileDrainBuffer(&file);
  EXPECT_EQ(readFile(path).size(), 999u);
  CRFileWriteRaw(&file, bytes.data(), 1000);
  EXPECT_EQ(readFile(path).size(), 999u + 999u);
  EXPECT_EQ(file.writeBufferLength, 1u);
  ASSERT_TRUE(CRFileShut(&file));
  EXPECT_EQ(readFile(path).size(), 1999u);
}

// Zero bytes inside raw text are written like any other byte, buffered or not, and both
// modes produce the same file.
TEST(CRFileTest, BufferedAndUnbufferedWriteTheSameBytes) {
  TempDir folder;
  std::string raw(2500, 'r');
  raw[10] = '\0';
  raw[1500] = '\0';
  auto writeAll = [&](const std::string& path, bool buffered) {
    CRFile file;
    EXPECT_TRUE(CRFileInitWithPathMode(&file, path.c_str(), false, buffered));
    for (int line = 0; line < 50; ++line) {
      CRFileWriteSectionStart(&file, "line");
      CRFileWriteHashStart(&file);
      CRFileWriteHashEntryUint64(&file, "index", static_cast<uint64_t>(line));
      CRFileWriteHashEntryString(&file, "text", "some text of a line");
      CRFileWriteHashEnd(&file);
      CRFileWriteSectionEnd(&file);
    }
    CRFileWriteRaw(&file, raw.data(), raw.size());
    EXPECT_TRUE(CRFileShut(&file));
  };
  writeAll(folder.file("buffered"), true);
  writeAll(folder.file("unbuffered"), false);
  const std::string buffered = readFile(folder.file("buffered"));
  EXPECT_EQ(buffered, readFile(folder.file("unbuffered")));
  EXPECT_EQ(buffered.substr(buffered.size() - raw.size()), raw);
}

TEST(CRFileTest, AppendModeCountsTheExistingBytes) {
  TempDir folder;
  const std::string path = folder.file("append.crrecord");
  {
    std::ofstream(path) << "12345";
  }
  CRFile file;
  ASSERT_TRUE(CRFileInit(&file, path.c_str(), false));
  CRFileWriteRaw(&file, "678", 3);
  int64_t length = 0;
  ASSERT_TRUE(CRFileCloseWithOffset(&file, &length));
  EXPECT_EQ(length, 8);
  EXPECT_EQ(readFile(path), "12345678");
}

TEST(CRFileTest, FailuresLeaveNoDescriptorAndNoBuffer) {
  TempDir folder;
  CRFile file;
  EXPECT_FALSE(CRFileInitWithPathMode(nullptr, "x", true, false));
  EXPECT_FALSE(CRFileInitWithPathMode(&file, nullptr, true, false));
  EXPECT_FALSE(CRFileInit(&file, folder.path().c_str(), true));  // a directory
  EXPECT_FALSE(CRFileHasDescriptor(&file));
  EXPECT_EQ(file.writeBuffer, nullptr);
  EXPECT_FALSE(CRFileInit(&file, folder.file("missing/dir/file").c_str(), false));

  // A close that fails still frees and forgets the buffer.
  ASSERT_TRUE(CRFileInit(&file, folder.file("closed").c_str(), true));
  ASSERT_EQ(close(file.fd), 0);
  EXPECT_FALSE(CRFileShut(&file));
  EXPECT_EQ(file.writeBuffer, nullptr);
}

// A write interrupted by a signal before it moved any byte is tried again, within the
// attempts a write is allowed.
TEST(CRFileTest, InterruptedWritesAreRetried) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  struct sigaction action {};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked write fails with EINTR
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
  const std::string bytes(200000, 'w');
  std::atomic<size_t> received{0};
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // lets the full pipe block a few times
    char chunk[65536];
    while (received < bytes.size()) {
      const ssize_t got = read(ends[0], chunk, sizeof chunk);
      if (got <= 0) break;
      received += static_cast<size_t>(got);
    }
  });
  struct itimerval every40ms {{0, 40000}, {0, 40000}};
  setitimer(ITIMER_REAL, &every40ms, nullptr);
  CRFile file;
  file.fd = ends[1];
  const bool written = CRFileWrite(&file, bytes.data(), bytes.size());
  struct itimerval off {};
  setitimer(ITIMER_REAL, &off, nullptr);
  close(ends[1]);  // the reader sees the end even when the write gave up
  reader.join();
  sigaction(SIGALRM, &previous, nullptr);
  close(ends[0]);
  EXPECT_TRUE(written);
  EXPECT_EQ(received.load(), bytes.size());
  EXPECT_EQ(file.writtenLength, static_cast<int64_t>(bytes.size()));
}

// Bytes that are not UTF-8 (a thread name cut mid-character, a Latin-1 path, a lone
// continuation byte, an overlong form, a surrogate) are escaped as the code point of the
// same value; valid sequences stay as they are. Every line parses.
TEST(CRFileTest, InvalidUTF8IsEscapedAndTheLineStaysValid) {
  struct Case {
    std::string written;
    std::string read;
  };
  const Case cases[] = {
      {"caf\xc3\xa9", "café"},
      {"worker-\xe2\x82", "worker-\u00e2\u0082"},
      {"/tmp/caf\xe9.so", "/tmp/café.so"},
      {"\x80lone", "\u0080lone"},
      {"overlong \xc0\xaf", "overlong \u00c0\u00af"},
      {"surrogate \xed\xa0\x80", "surrogate \u00ed\u00a0\u0080"},
      {"emoji \xf0\x9f\x98\x80 ok", "emoji \xf0\x9f\x98\x80 ok"},
      {"beyond \xf4\x90\x80\x80", "beyond \u00f4\u0090\u0080\u0080"},
  };
  TempDir folder;
  const std::string path = folder.file("utf8.crrecord");
  CRFile file;
  ASSERT_TRUE(CRFileInitWithPathMode(&file, path.c_str(), false, false));
  for (const Case& c : cases) {
    CRFileWriteSectionStart(&file, "names");
    CRFileWriteArrayStart(&file);
    CRFileWriteArrayEntryString(&file, c.written.c_str());
    CRFileWriteArrayEntryString(&file, "next");
    CRFileWriteArrayEnd(&file);
    CRFileWriteSectionEnd(&file);
  }
  ASSERT_TRUE(CRFileShut(&file));
  const auto sections = readSections(path);
  ASSERT_EQ(sections.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(sections[i]["names"], nlohmann::json::array({nlohmann::json::parse("\"" + cases[i].read + "\""), "next"}))
        << i;
  }
}

// A line holding bytes that are not UTF-8 (from an older writer) keeps its other values.
TEST(CRFileTest, ReadingKeepsALineWithAnOddValue) {
  TempDir folder;
  const std::string path = folder.file("odd.crrecord");
  std::ofstream(path) << "{\"thread_names\":[\"main\",\"bad\xff\xfe name\",\"worker\"]}\n";
  const auto sections = readSections(path);
  ASSERT_EQ(sections.size(), 1u);
  EXPECT_EQ(sections[0]["thread_names"], nlohmann::json::array({"main", "bad\xef\xbf\xbd\xef\xbf\xbd name", "worker"}));
}

TEST(CRFileTest, ReadingSkipsACutOffLastLineAndGarbage) {
  TempDir folder;
  const std::string path = folder.file("cut.crrecord");
  {
    std::ofstream(path) << "{\"a\":{\"n\":1}}\nnot json\n{\"b\":[2]}\n{\"c\":{\"half";
  }
  const auto sections = readSections(path);
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections[0]["a"]["n"], 1);
  EXPECT_EQ(sections[1]["b"][0], 2);

  const auto transformed = CRFileReadSections(path.c_str(), false, [](nlohmann::json value) -> std::optional<nlohmann::json> {
    if (value.contains("a")) return std::nullopt;
    return value;
  });
  ASSERT_TRUE(transformed.has_value());
  EXPECT_EQ(transformed->size(), 1u);

  EXPECT_FALSE(CRFileReadSections(nullptr, false).has_value());
  const std::string unreadable = folder.file("unreadable");
  EXPECT_FALSE(CRFileReadSections(unreadable.c_str(), true).has_value());
}

TEST(CRFileTest, HexDecoding) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""}, {"616263", "abc"}, {"4A4b", "JK"}, {"6162x63", "ab"}, {"61626", "ab"}, {"e282ac", "\xe2\x82\xac"}};
  for (const auto& [hex, text] : cases) EXPECT_EQ(CRFileHexDecodeString(hex), text) << hex;
}

}  // namespace
