// Line input and output: CR LF, a lone CR and a lone LF each end a line on input,
// whatever the buffering; every line is written with CR LF.
#include "merge/line_io.hpp"

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <ostream>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace tandemo {
namespace {

using test::TempDir;

constexpr std::size_t kBuffer = 262144;  // the reader's buffer, 256 KiB

struct ReadResult {
  std::vector<std::string> lines;
  std::vector<long long> numbers;
  bool error = false;
};

ReadResult ReadAll(const std::string& path) {
  ReadResult r;
  LineReader reader;
  if (!reader.Open(path)) {
    r.error = true;
    return r;
  }
  std::string_view line;
  for (;;) {
    LineReader::Status s = reader.Next(line);
    if (s == LineReader::Status::End) break;
    if (s == LineReader::Status::Error) {
      r.error = true;
      break;
    }
    r.lines.emplace_back(line);
    r.numbers.push_back(reader.LineNumber());
  }
  return r;
}

ReadResult ReadBytes(const std::string& bytes) {
  TempDir dir;
  test::WriteFile(dir / "in", bytes);
  return ReadAll(dir / "in");
}

struct LineCase {
  std::string name;
  std::string bytes;
  std::vector<std::string> lines;
};
std::ostream& operator<<(std::ostream& os, const LineCase& c) { return os << c.name; }

class LineReaderTest : public testing::TestWithParam<LineCase> {};

TEST_P(LineReaderTest, SplitsAtEveryLineEnd) {
  ReadResult r = ReadBytes(GetParam().bytes);
  ASSERT_FALSE(r.error);
  EXPECT_EQ(r.lines, GetParam().lines);
  for (std::size_t i = 0; i < r.numbers.size(); ++i)
    EXPECT_EQ(r.numbers[i], static_cast<long long>(i + 1));
}

INSTANTIATE_TEST_SUITE_P(
    Table, LineReaderTest,
    testing::Values(
        LineCase{"CrLf", "a\r\nb\r\n", {"a", "b"}},
        LineCase{"NoFinalLineEnd", "a\r\nb", {"a", "b"}}, LineCase{"LoneCr", "a\rb", {"a", "b"}},
        LineCase{"LoneLf", "a\nb\n", {"a", "b"}}, LineCase{"LfThenCrLf", "a\nb\r\n", {"a", "b"}},
        LineCase{"MixedEnds", "a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        LineCase{"CrLfCrLf", "a\r\n\r\n", {"a", ""}}, LineCase{"CrCrLf", "a\r\r\n", {"a", ""}},
        LineCase{"LfLf", "a\n\n", {"a", ""}}, LineCase{"CrCr", "a\r\r", {"a", ""}},
        LineCase{"LfCrIsTwoEnds", "a\n\rb", {"a", "", "b"}}, LineCase{"OnlyCrLf", "\r\n", {""}},
        LineCase{"Empty", "", {}}, LineCase{"OneCharacter", "a", {"a"}},
        LineCase{"EightBitPassesThrough",
                 std::string("x\0\xe9\xff,1\r\n", 8),
                 {std::string("x\0\xe9\xff,1", 6)}},
        // A UTF-8 byte order mark is no data at the very start of the file only.
        LineCase{"BomOnly", "\xef\xbb\xbf", {}}, LineCase{"BomThenCrLf", "\xef\xbb\xbf\r\n", {""}},
        LineCase{"BomThenLine", "\xef\xbb\xbf$ITC\r\n@0", {"$ITC", "@0"}},
        LineCase{"BomOnSecondLineIsData",
                 "a\r\n\xef\xbb\xbf"
                 "b",
                 {"a",
                  "\xef\xbb\xbf"
                  "b"}},
        LineCase{"TwoBomsKeepTheSecond", "\xef\xbb\xbf\xef\xbb\xbf", {"\xef\xbb\xbf"}},
        LineCase{"PartOfABom", "\xef\xbb", {"\xef\xbb"}},
        // An end-of-file byte 0x1A ends the file as its very last byte only.
        LineCase{"EofByteAfterTheLastCrLf", "a\r\n\x1a", {"a"}},
        LineCase{"EofByteWithoutLineEnd", "a\x1a", {"a"}},
        LineCase{"EofByteAfterLoneCr", "a\r\x1a", {"a"}}, LineCase{"EofByteOnly", "\x1a", {}},
        LineCase{"EofByteInMidFile",
                 "a\x1a"
                 "b\r\n\x1a"
                 "c\r\n",
                 {"a\x1a"
                  "b",
                  "\x1a"
                  "c"}},
        LineCase{"EofByteBeforeTheLineEnd", "a\x1a\r\n", {"a\x1a"}},
        LineCase{"TwoEofBytesKeepTheFirst", "a\r\n\x1a\x1a", {"a", "\x1a"}},
        LineCase{"BomAndEofByte", "\xef\xbb\xbf\x1a", {}},
        // After a line ended in LF the next is looked for from its LF; a CR before it still ends a
        // line.
        LineCase{"LoneCrAfterLfLine", "a\nb\rc\r\n", {"a", "b", "c"}},
        LineCase{"CrOnlyAfterLfLine", "a\nb\rc\rd", {"a", "b", "c", "d"}},
        LineCase{"EmptyLinesAfterLfLine", "a\n\n\r\nb", {"a", "", "", "b"}},
        LineCase{"LongLineAfterLfLine",
                 "a\n" + std::string(5000, 'x') + "\r\nb\n",
                 {"a", std::string(5000, 'x'), "b"}}),
    [](const testing::TestParamInfo<LineCase>& p) { return p.param.name; });

// A CR that is the last byte of one buffer fill and a LF that is the first of the
// next must still make one line end, not a line end and an empty line.
TEST(LineReaderBufferTest, CrLfAcrossTheBufferBoundary) {
  const std::string first(100, 'A');
  const std::string second(kBuffer - 1 - (first.size() + 2), 'B');  // its CR lands at byte 262143
  std::string bytes = first + "\r\n" + second + "\r\n" + "tail\r\n";
  ASSERT_EQ(bytes[kBuffer - 1], '\r');
  ASSERT_EQ(bytes[kBuffer], '\n');
  ReadResult r = ReadBytes(bytes);
  ASSERT_FALSE(r.error);
  EXPECT_EQ(r.lines, (std::vector<std::string>{first, second, "tail"}));
}

TEST(LineReaderBufferTest, FirstLineFillsTheWholeBufferBeforeItsCrLf) {
  const std::string first(kBuffer - 1, 'A');  // CR at byte 262143, LF at 262144
  ReadResult r = ReadBytes(first + "\r\nnext");
  ASSERT_FALSE(r.error);
  EXPECT_EQ(r.lines, (std::vector<std::string>{first, "next"}));
}

TEST(LineReaderBufferTest, LoneCrAtTheBufferBoundary) {
  const std::string first(kBuffer - 1, 'A');
  ReadResult r = ReadBytes(first + "\rB\r");
  ASSERT_FALSE(r.error);
  EXPECT_EQ(r.lines, (std::vector<std::string>{first, "B"}));
}

TEST(LineReaderBufferTest, CrAsTheLastByteOfAFullBuffer) {
  const std::string first(kBuffer - 1, 'A');  // the file is exactly one buffer long
  ReadResult r = ReadBytes(first + "\r");
  ASSERT_FALSE(r.error);
  EXPECT_EQ(r.lines, (std::vector<std::string>{first}));
}

TEST(LineReaderBufferTest, LinesLongerThanTheBuffer) {
  const std::string longLine(600000, 'x');
  const std::string longer(3 * kBuffer + 17, 'y');
  ReadResult r = ReadBytes("a\r\n" + longLine + "\r\n" + longer + "\nz");
  ASSERT_FALSE(r.error);
  ASSERT_EQ(r.lines.size(), 4u);
  EXPECT_EQ(r.lines[0], "a");
  EXPECT_EQ(r.lines[1], longLine);
  EXPECT_EQ(r.lines[2], longer);
  EXPECT_EQ(r.lines[3], "z");
}

TEST(LineReaderBufferTest, ManyBuffersOfShortLines) {
  std::string bytes;
  std::vector<std::string> expected;
  for (int i = 0; bytes.size() < 3 * kBuffer; ++i) {
    expected.push_back(std::to_string(i) + ".00,10." + std::to_string(i % 97));
    bytes += expected.back();
    bytes += (i % 3 == 0) ? "\r\n" : (i % 3 == 1) ? "\n" : "\r";
  }
  ReadResult r = ReadBytes(bytes);
  ASSERT_FALSE(r.error);
  EXPECT_EQ(r.lines, expected);
}

TEST(LineReaderBufferTest, EofByteAsTheLastByteOfAFullBuffer) {
  const std::string first(kBuffer - 1, 'A');  // the 0x1A is byte 262143, the last of the first read
  ReadResult r = ReadBytes(first + "\x1a");
  ASSERT_FALSE(r.error);
  EXPECT_EQ(r.lines, (std::vector<std::string>{first}));
}

// 1 MiB = 1048576 bytes is the longest line returned; one byte more fails,
// wherever the line end falls and however the line ends.
struct LimitCase {
  std::string name;
  std::size_t length;  // of the second line, without its line end
  std::string after;   // the bytes after the second line
  bool fits;
};
std::ostream& operator<<(std::ostream& os, const LimitCase& c) { return os << c.name; }

class LineLimitTest : public testing::TestWithParam<LimitCase> {};

TEST_P(LineLimitTest, LongestLineIsOneMebibyte) {
  const LimitCase& c = GetParam();
  const std::string longLine(c.length, '7');
  TempDir dir;
  test::WriteFile(dir / "in", "first\r\n" + longLine + c.after);
  LineReader reader;
  ASSERT_TRUE(reader.Open(dir / "in"));
  std::string_view line;
  ASSERT_EQ(reader.Next(line), LineReader::Status::Line);
  if (c.fits) {
    ASSERT_EQ(reader.Next(line), LineReader::Status::Line);
    EXPECT_EQ(line.size(), c.length);
    EXPECT_EQ(line, longLine);
  } else {
    EXPECT_EQ(reader.Next(line), LineReader::Status::Error);
    EXPECT_EQ(reader.error(), EMSGSIZE);
    EXPECT_EQ(reader.LineNumber(), 1);  // the failing line is the next one, line 2
  }
}

INSTANTIATE_TEST_SUITE_P(
    Limit, LineLimitTest,
    testing::Values(LimitCase{"ExactlyOneMebibyteCrLf", kMaxLineBytes, "\r\nlast\r\n", true},
                    LimitCase{"ExactlyOneMebibyteAtTheEnd", kMaxLineBytes, "", true},
                    LimitCase{"ExactlyOneMebibyteThenEofByte", kMaxLineBytes, "\x1a", true},
                    LimitCase{"OneByteMoreCrLf", kMaxLineBytes + 1, "\r\nlast\r\n", false},
                    LimitCase{"OneByteMoreLoneCr", kMaxLineBytes + 1, "\rlast", false},
                    LimitCase{"OneByteMoreAtTheEnd", kMaxLineBytes + 1, "", false},
                    LimitCase{"FarLongerWithoutEnd", 3 * kMaxLineBytes, "", false}),
    [](const testing::TestParamInfo<LimitCase>& p) { return p.param.name; });

TEST(LineReaderOpenTest, RefusesWhatIsNotAReadableFile) {
  TempDir dir;
  LineReader missing;
  EXPECT_FALSE(missing.Open(dir / "missing"));
  EXPECT_EQ(missing.error(), ENOENT);
  LineReader folder;
  EXPECT_FALSE(folder.Open(dir.path()));
  EXPECT_EQ(folder.error(), EISDIR);
}

TEST(LineReaderOpenTest, ReadFailureIsReportedNotTakenForTheEnd) {
  TempDir dir;
  test::WriteFile(dir / "f", "a\r\n");
  int fd = ::open((dir / "f").c_str(), O_WRONLY);  // reading it fails with EBADF
  ASSERT_GE(fd, 0);
  LineReader reader;
  reader.Attach(fd);
  std::string_view line;
  EXPECT_EQ(reader.Next(line), LineReader::Status::Error);
  EXPECT_EQ(reader.error(), EBADF);
  ::close(fd);
}

std::string WriteAll(const std::vector<std::string>& lines) {
  TempDir dir;
  int fd = ::open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | test::kBinary, 0644);
  EXPECT_GE(fd, 0);
  LineWriter writer;
  writer.Attach(fd);
  for (const std::string& l : lines) writer.WriteLine(l);
  EXPECT_TRUE(writer.Flush());
  EXPECT_EQ(writer.LinesWritten(), static_cast<long long>(lines.size()));
  ::close(fd);
  return test::ReadFile(dir / "out").value_or("(unreadable)");
}

TEST(LineWriterTest, EndsEveryLineWithCrLf) {
  EXPECT_EQ(WriteAll({"x"}), "x\r\n");
  EXPECT_EQ(WriteAll({"a", "", "b"}), "a\r\n\r\nb\r\n");
  EXPECT_EQ(WriteAll({}), "");
}

TEST(LineWriterTest, KeepsEveryOtherCharacter) {
  std::string odd("a\tb\0\xe9 ", 6);
  EXPECT_EQ(WriteAll({odd}), odd + "\r\n");
}

TEST(LineWriterTest, WritesMoreThanOneBufferInOrder) {
  std::vector<std::string> lines;
  std::string expected;
  for (int i = 0; expected.size() < 3 * kBuffer; ++i) {
    lines.push_back(std::to_string(i) + std::string(static_cast<std::size_t>(i % 1000), 'q'));
    expected += lines.back() + "\r\n";
  }
  EXPECT_EQ(WriteAll(lines), expected);
}

// Lines taken in blocks from the read buffer and the rest read one by one give
// the file's lines and line numbers, across many buffer fills.
TEST(LineReaderBufferTest, BlocksTakenFromTheBufferAndLinesBetween) {
  std::string bytes;
  for (int i = 0; bytes.size() < 3 * kBuffer; ++i) bytes += std::to_string(i) + ",1\r\n";
  TempDir dir;
  test::WriteFile(dir / "in", bytes);
  LineReader reader;
  ASSERT_TRUE(reader.Open(dir / "in"));
  std::string got;
  long long expectedNumber = 0;
  for (int round = 0;; ++round) {
    std::string_view block = reader.Buffered();
    ASSERT_EQ(reader.error(), 0);
    // Every other round takes the whole lines of up to half the buffered bytes.
    if (round % 2 == 0 && !block.empty()) {
      const std::size_t cut = block.substr(0, block.size() / 2).rfind('\n') + 1;
      const std::string_view taken = block.substr(0, cut);
      const long long lines = static_cast<long long>(std::count(taken.begin(), taken.end(), '\n'));
      got += taken;
      reader.Skip(cut, lines);
      expectedNumber += lines;
      EXPECT_EQ(reader.LineNumber(), expectedNumber);
      continue;
    }
    std::string_view line;
    LineReader::Status s = reader.Next(line);
    ASSERT_NE(s, LineReader::Status::Error);
    if (s == LineReader::Status::End) break;
    got += std::string(line) + "\r\n";
    EXPECT_EQ(reader.LineNumber(), ++expectedNumber);
  }
  EXPECT_EQ(got, bytes);
  EXPECT_EQ(reader.Offset(), bytes.size());
}

// Blocks of whole lines and single lines, some longer than the 1 MiB buffer, stay in order.
TEST(LineWriterTest, BlocksAndLongLinesInOrder) {
  TempDir dir;
  int fd = ::open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | test::kBinary, 0644);
  ASSERT_GE(fd, 0);
  LineWriter writer;
  writer.Attach(fd);
  std::string expected;
  const std::string block = "1,2\r\n3,4\r\n";
  const std::string bigBlock(3 << 20, 'b');  // 3 MiB, more than the buffer holds
  const std::string longLine(kMaxLineBytes, 'L');
  writer.WriteLine("first");
  writer.WriteLines(block, 2);
  writer.WriteLines(bigBlock + "\r\n", 1);
  writer.WriteLine(longLine);
  writer.WriteLine("x");
  writer.WriteLines(block, 2);
  expected = "first\r\n" + block + bigBlock + "\r\n" + longLine + "\r\nx\r\n" + block;
  EXPECT_TRUE(writer.Flush());
  EXPECT_EQ(writer.LinesWritten(), 8);
  ::close(fd);
  EXPECT_EQ(test::ReadFile(dir / "out").value_or(""), expected);
}

TEST(LineWriterTest, FullDiskIsReportedByFlush) {
  int fd = ::open("/dev/full", O_WRONLY);
  if (fd < 0) GTEST_SKIP() << "/dev/full is not available";
  LineWriter writer;
  writer.Attach(fd);
  writer.WriteLine("x");
  EXPECT_FALSE(writer.Flush());
  EXPECT_EQ(writer.error(), ENOSPC);
  ::close(fd);
}

}  // namespace
}  // namespace tandemo
