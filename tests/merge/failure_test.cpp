// Message texts: bytes from file names and contents that are not printable are
// shown escaped, so none can cut a message off, split its line or steer a terminal.
#include "merge/failure.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>
#include <string>

namespace tandemo {
namespace {

struct EscapeCase {
  std::string name;
  std::string text;
  std::string shown;
};
std::ostream& operator<<(std::ostream& os, const EscapeCase& c) { return os << c.name; }

class PrintableTest : public testing::TestWithParam<EscapeCase> {};

TEST_P(PrintableTest, EscapesWhatIsNotPrintable) {
  EXPECT_EQ(Printable(GetParam().text), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, PrintableTest,
    testing::Values(EscapeCase{"PlainText", "run 3, 25 C.itc", "run 3, 25 C.itc"},
                    EscapeCase{"Nul", std::string("a\0b", 3), "a\\x00b"},
                    EscapeCase{"EscapeAndBell", "\x1b]0;t\x07", "\\x1b]0;t\\x07"},
                    EscapeCase{"LineEndsAndTab", "a\r\nb\tc", "a\\x0d\\x0ab\\x09c"},
                    EscapeCase{"Delete", "\x7f", "\\x7f"},
                    EscapeCase{"Utf8Passes",
                               "Messung \xc2\xb5M \xce\x94H \xe2\x82\xac \xf0\x9f\x94\xac",
                               "Messung \xc2\xb5M \xce\x94H \xe2\x82\xac \xf0\x9f\x94\xac"},
                    // U+009B is the one-byte CSI of 8-bit terminals.
                    EscapeCase{"C1ControlAsUtf8",
                               "\xc2\x9b"
                               "2J",
                               "\\xc2\\x9b2J"},
                    EscapeCase{"Latin1Byte",
                               "25\xb0"
                               "C",
                               "25\\xb0C"},
                    EscapeCase{"OverlongSlash", "\xc0\xaf", "\\xc0\\xaf"},
                    EscapeCase{"Surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"},
                    EscapeCase{"CutSequence", "\xe2\x82", "\\xe2\\x82"},
                    EscapeCase{"BeyondUnicode", "\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"}),
    [](const testing::TestParamInfo<EscapeCase>& p) { return p.param.name; });

TEST(PrintableTest, KeepsLineFeedsOfMessagesOfSeveralLines) {
  EXPECT_EQ(Printable("differ\n  a\x1b", true), "differ\n  a\\x1b");
}

TEST(QuotedTest, CutsContentButNeverPaths) {
  const std::string path = "/data/" + std::string(100, 'p') + "\n.itc";
  EXPECT_EQ(QuotedPath(path), "\"/data/" + std::string(100, 'p') + "\\x0a.itc\"");
  // 60 bytes of content, escaped after the cut.
  EXPECT_EQ(Quoted(std::string(59, 'x') + "\x1b" + "tail"),
            "\"" + std::string(59, 'x') + "\\x1b...\"");
  EXPECT_EQ(Quoted(std::string(60, 'x')), "\"" + std::string(60, 'x') + "\"");
}

TEST(ErrnoCodeTest, FileSizeLimitAndMemoryHaveCodesOfTheirOwn) {
  EXPECT_EQ(ReadFailure(FilePlace::Output(), 0, EFBIG).Message(),
            "File too large (1011): output file: the file could not be read: File too large");
  EXPECT_EQ(CodeForErrno(ENOSPC), ErrorCode::DiskFull);
  EXPECT_EQ(CodeForErrno(ENOMEM), ErrorCode::OutOfMemory);
  EXPECT_EQ(ReadFailure(FilePlace::Input(2), 7, EMSGSIZE).Message(),
            "Line too long (1010): second file, line 7: the line is longer than 1 MiB (1048576 "
            "bytes), far "
            "longer than any line of ITC data; is it an ITC data file?");
}

}  // namespace
}  // namespace tandemo
