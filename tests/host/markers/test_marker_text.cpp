// Marker text from outside into what an EDF+ annotation and a TSV row hold.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "markers/marker_lines.h"
#include "markers/marker_text.h"

using namespace bvhost;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

struct Malformed {
  std::string bytes;
  std::size_t offset;
};

}  // namespace

// Each malformed form a lenient decoder would let through names the byte
// where its sequence begins; the well-formed neighbours of each pass.
TEST(MarkerText, InvalidUtf8IsRefusedAtItsOffset) {
  const Malformed cases[] = {
      {"ab\x80", 2},                  // a continuation byte with no lead
      {"a\xC0\xAF", 1},               // overlong "/"
      {"a\xC1\xBF", 1},               // overlong, the other lead
      {"\xE0\x80\xAF", 0},            // overlong in three bytes
      {"ok \xED\xA0\x80", 3},         // a surrogate, U+D800
      {"\xF0\x8F\xBF\xBF", 0},        // overlong in four bytes
      {"x\xF4\x90\x80\x80", 1},       // past U+10FFFF
      {"\xF5\x80\x80\x80", 0},        // a lead that never begins one
      {"\xFF", 0},                    //
      {"lift \xE2\x82", 5},           // cut short at the end
      {"\xE2(\xA1 trial", 0},         // a lead whose next byte is ASCII
      {"\xC3\xA9\xC3", 2},            // good, then a lone lead
      {std::string("a\0\xC3", 3), 2}  // a NUL before it is no excuse
  };
  for (const auto& malformed : cases) {
    const MarkerText result = cleanMarkerText(malformed.bytes);
    EXPECT_FALSE(result.accepted()) << malformed.offset;
    EXPECT_THAT(result.refusal, ::testing::StartsWith("invalid UTF-8 at byte offset " +
                                                      std::to_string(malformed.offset) + " "));
    EXPECT_THAT(result.text, IsEmpty());
  }
  const std::string wellFormed[] = {"\xC2\x80x",
                                    "\xE0\xA0\x80",
                                    "\xED\x9F\xBF",
                                    "\xEE\x80\x80",
                                    "\xF0\x90\x80\x80",
                                    "\xF4\x8F\xBF\xBF",
                                    "Reiz \xC3\xA4 \xE2\x82\xAC"};
  for (const auto& text : wellFormed) {
    EXPECT_TRUE(cleanMarkerText(text).accepted()) << text;
  }
}

// Tab, CR, LF, NUL, EDF+'s 0x14/0x15, DEL, C1 and the Unicode line and
// paragraph separators each become one space; spaces at the ends go, and
// only the replacements that stay are remarked on.
TEST(MarkerText, SeparatorsAndControlsBecomeSpacesAndEndsAreTrimmed) {
  const MarkerText mixed =
      cleanMarkerText(std::string("\tstim\x14on\x15\x7F"
                                  "a\xC2\x85"
                                  "b\xE2\x80\xA8"
                                  "c\xE2\x80\xA9"
                                  "d\0e\r\n",
                                  26));
  ASSERT_TRUE(mixed.accepted()) << mixed.refusal;
  EXPECT_EQ(mixed.text, "stim on  a b c d e");
  EXPECT_THAT(mixed.remarks, ElementsAre("7 control characters replaced by spaces"));

  const MarkerText one = cleanMarkerText("  lift\tleft  ");
  EXPECT_EQ(one.text, "lift left");
  EXPECT_THAT(one.remarks, ElementsAre("1 control character replaced by a space"));

  const MarkerText trimmedOnly = cleanMarkerText("\r\n trial 12\t\n");
  EXPECT_EQ(trimmedOnly.text, "trial 12");
  EXPECT_THAT(trimmedOnly.remarks, IsEmpty());

  // Non-ASCII letters and a no-break space are text, not separators.
  EXPECT_EQ(cleanMarkerText("\xC3\xA9t\xC3\xA9\xC2\xA0"
                            "1")
                .text,
            "\xC3\xA9t\xC3\xA9\xC2\xA0"
            "1");

  for (const std::string& empty : {std::string(), std::string("   "), std::string("\t\r\n"),
                                   std::string("\0\x14\x15", 3), std::string("\xE2\x80\xA8")}) {
    const MarkerText result = cleanMarkerText(empty);
    EXPECT_FALSE(result.accepted());
    EXPECT_EQ(result.refusal, "empty marker");
  }
}

// The cap is the annotation limit, on a character boundary, and a cut that
// leaves a space at the end takes it off too.
TEST(MarkerText, LongTextIsCutOnACharacterBoundary) {
  ASSERT_EQ(kMaxAnnotationText, 40u);
  const std::string forty(40, 'x');
  const MarkerText exact = cleanMarkerText(forty);
  EXPECT_EQ(exact.text, forty);
  EXPECT_THAT(exact.remarks, IsEmpty());

  const MarkerText ascii = cleanMarkerText(forty + "yz");
  EXPECT_EQ(ascii.text, forty);
  EXPECT_THAT(ascii.remarks, ElementsAre("cut to 40 bytes"));

  // "é" would take bytes 39 and 40: it goes whole.
  const MarkerText twoByte = cleanMarkerText(std::string(39, 'a') + "\xC3\xA9");
  EXPECT_EQ(twoByte.text, std::string(39, 'a'));
  EXPECT_THAT(twoByte.remarks, ElementsAre("cut to 39 bytes"));

  // Ten four-byte characters fit exactly; an eleventh is cut whole.
  std::string emoji;
  for (int i = 0; i < 11; ++i) {
    emoji += "\xF0\x9F\x98\x80";
  }
  EXPECT_EQ(cleanMarkerText(emoji).text, emoji.substr(0, 40));
  const MarkerText shifted = cleanMarkerText("ab" + emoji);
  EXPECT_EQ(shifted.text, "ab" + emoji.substr(0, 36));
  EXPECT_THAT(shifted.remarks, ElementsAre("cut to 38 bytes"));

  // Trimming comes first: leading spaces never count against the limit.
  EXPECT_EQ(cleanMarkerText("     " + forty).text, forty);

  const MarkerText spaceAtCut = cleanMarkerText(std::string(38, 'b') + "  cd");
  EXPECT_EQ(spaceAtCut.text, std::string(38, 'b'));
  EXPECT_THAT(spaceAtCut.remarks, ElementsAre("cut to 38 bytes"));

  // A tab past the cut is gone with it and is not remarked on.
  const MarkerText tabCut = cleanMarkerText(forty + "\tmore");
  EXPECT_THAT(tabCut.remarks, ElementsAre("cut to 40 bytes"));

  // Malformed bytes past the limit still refuse: the text is not UTF-8.
  EXPECT_FALSE(cleanMarkerText(forty + "\xFF").accepted());
}

// Lines from a stream: CR LF and LF, lines split across reads, a line
// past the limit refused once and the next line whole again.
TEST(MarkerLines, SplitsLinesAndRefusesOneTooLongOnce) {
  std::vector<std::string> lines;
  int tooLong = 0;
  const auto each = [&](std::string_view line) { lines.emplace_back(line); };
  const auto refuse = [&] { ++tooLong; };
  MarkerLines splitter(8);

  splitter.feed("one\r\ntw", each, refuse);
  splitter.feed("o\n\nthree", each, refuse);
  EXPECT_THAT(lines, ElementsAre("one", "two", ""));
  EXPECT_EQ(splitter.held(), 5u);

  // Exactly eight before "\r\n" fits; nine does not, however it arrives.
  splitter.feed("456\r", each, refuse);
  splitter.feed("\n123456789", each, refuse);
  EXPECT_EQ(tooLong, 1);
  splitter.feed("0123456789", each, refuse);
  splitter.feed("\nafter\n", each, refuse);
  EXPECT_EQ(tooLong, 1);
  EXPECT_EQ(splitter.held(), 0u);
  EXPECT_THAT(lines, ElementsAre("one", "two", "", "three456", "after"));

  // A last line without "\n" is still one at the end of the stream.
  splitter.feed("last", each, refuse);
  splitter.finish(each);
  EXPECT_EQ(lines.back(), "last");

  // A "\r" at the limit that turns out not to end the line counts.
  MarkerLines exact(3);
  exact.feed("abc\r", each, refuse);
  exact.feed("d\n", each, refuse);
  EXPECT_EQ(tooLong, 2);
}
