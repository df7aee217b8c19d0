#include "TempHome.h"
#include "foundation/PropertyList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace kdf;

namespace {

Value roundTrip(const Value& v) {
    std::string error;
    auto text = writePropertyList(v, &error);
    EXPECT_TRUE(text) << error;
    if (!text) return {};
    auto back = readPropertyList(*text, &error);
    EXPECT_TRUE(back) << error << "\n" << *text;
    return back ? *back : Value();
}

struct Case {
    const char* name;
    Value value;
};

TEST(PropertyList, EveryKindAndHardStringReadBackEqual) {
    const Case cases[] = {
        {"true", Value(true)},
        {"false", Value(false)},
        {"zero", Value(0)},
        {"int64 min", Value(std::int64_t(INT64_MIN))},
        {"int64 max", Value(std::int64_t(INT64_MAX))},
        {"real", Value(0.1)},
        {"negative real", Value(-1234.5e-300)},
        {"whole real", Value(3.0)},
        {"infinity", Value(-HUGE_VAL)},
        {"empty string", Value("")},
        {"outer spaces", Value("  padded  ")},
        {"whitespace only", Value(" \t \n ")},
        {"tab", Value("\t")},
        {"CR", Value("a\rb")},
        {"CRLF", Value("line\r\n")},
        {"LF only", Value("\n")},
        {"CDATA end", Value("x]]>y")},
        {"markup", Value("<key>&amp;</key>\"'")},
        {"non-ASCII", Value("紙詰まり ¥ é 😀")},
        {"bytes", Value(Bytes{0, 1, 2, 0xFF, 0xFE})},
        {"one byte", Value(Bytes{0x41})},
        {"two bytes", Value(Bytes{0x41, 0x42})},
        {"no bytes", Value(Bytes{})},
        {"date", Value(Date{1700000000})},
        {"date before 1970", Value(Date{-86400 * 365 - 1})},
        {"empty array", Value(Array{})},
        {"empty dict", Value(Dictionary{})},
        {"nested",
         Value(Dictionary{{"", Value("")},
                          {" key ", Value(Array{Value(1), Value("two"), Value(Dictionary{})})},
                          {"ключ", Value(Dictionary{{"x", Value(Array{Value(Array{})})}})}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(roundTrip(c.value), c.value);
    }
    Value nan = roundTrip(Value(std::nan("")));
    ASSERT_TRUE(nan.toReal());
    EXPECT_TRUE(std::isnan(*nan.toReal()));
}

TEST(PropertyList, CharactersXmlCannotCarryAreDroppedNotWritten) {
    std::string bad = std::string("a\x01") + "b\x7F" + "\xC3" + "c" + "\xEF\xBF\xBE" + "d";
    Value back = roundTrip(Value(Dictionary{{bad, Value(bad)}}));
    ASSERT_TRUE(back.dictionary());
    ASSERT_EQ(back.dictionary()->size(), 1u);
    EXPECT_EQ(back.dictionary()->begin()->first, "ab\x7F"
                                                 "cd");
    EXPECT_EQ(*back.dictionary()->begin()->second.string(), "ab\x7F"
                                                            "cd");
}

TEST(PropertyList, WriterOutputIsFixed) {
    Value v(Dictionary{
        {"b", Value(Array{Value(true), Value(false), Value(-7), Value(2.5)})},
        {"a", Value("x & <y>\r")},
        {"d", Value(Bytes{'h', 'i', '!'})},
        {"t", Value(Date{0})},
        {"e", Value(Dictionary{})},
    });
    const char* golden = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
	<key>a</key>
	<string>x &amp; &lt;y&gt;&#13;</string>
	<key>b</key>
	<array>
		<true/>
		<false/>
		<integer>-7</integer>
		<real>2.5</real>
	</array>
	<key>d</key>
	<data>aGkh</data>
	<key>e</key>
	<dict/>
	<key>t</key>
	<date>1970-01-01T00:00:00Z</date>
</dict>
</plist>
)";
    auto text = writePropertyList(v);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, golden);
    EXPECT_EQ(*writePropertyList(*readPropertyList(*text)), golden);
}

TEST(PropertyList, ReadsHandWrittenFileWithDoctypeTabsAndCdata) {
    const char* text = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                       "<!DOCTYPE plist PUBLIC \"-//Example//DTD PLIST 1.0//EN\" "
                       "\"http://example.invalid/PropertyList-1.0.dtd\">\r\n"
                       "<plist version=\"1.0\">\r\n<!-- a comment & more -->\n"
                       "<dict>\n\t<key>CapDataVersion</key>\n\t\t<string>3</string>\n"
                       "\t<key>CapData</key>\n\t<data>\n\tAAEC\n\tAw==\n\t</data>\n"
                       "\t<key>Spaces</key><string>\t </string>\n"
                       "\t<key>Cdata</key><string><![CDATA[<raw> & ]]>tail</string>\n"
                       "\t<key>Refs</key><string>&#x41;&#66;&apos;&quot;</string>\n"
                       "\t<key>Empty</key><string/>\n"
                       "\t<key>Count</key><integer> +42 </integer>\n"
                       "\t<key>When</key><date>2001-01-01T00:00:00Z</date>\n"
                       "</dict>\n</plist>\n";
    std::string error;
    auto v = readPropertyList(text, &error);
    ASSERT_TRUE(v) << error;
    const Dictionary& d = *v->dictionary();
    EXPECT_EQ(*find(d, "CapDataVersion")->toIntegerOrDecimalString(), 3);
    EXPECT_EQ(*find(d, "CapData")->bytes(), (Bytes{0, 1, 2, 3}));
    EXPECT_EQ(*find(d, "Spaces")->string(), "\t ");
    EXPECT_EQ(*find(d, "Cdata")->string(), "<raw> & tail");
    EXPECT_EQ(*find(d, "Empty")->string(), "");
    EXPECT_EQ(*find(d, "Refs")->string(), "AB'\"");
    EXPECT_EQ(*find(d, "Count")->toInteger(), 42);
    EXPECT_EQ(find(d, "When")->date()->secondsSinceEpoch, 978307200);
}

TEST(PropertyList, RefusesBadInputWithAReason) {
    auto wrap = [](const std::string& body) {
        return "<?xml version=\"1.0\"?><plist version=\"1.0\">" + body + "</plist>";
    };
    const std::pair<const char*, std::string> cases[] = {
        {"binary", "bplist00\xD1\x01\x02"},
        {"empty", ""},
        {"not xml", "hello"},
        {"truncated", wrap("<dict><key>a</key><string>x</string>").substr(0, 60)},
        {"wrong root", "<dict/>"},
        {"no value", wrap("")},
        {"two values", wrap("<true/><false/>")},
        {"unknown element", wrap("<dict><key>a</key><float>1</float></dict>")},
        {"element in string", wrap("<string>a<b/></string>")},
        {"text in dict", wrap("<dict>stray<key>a</key><true/></dict>")},
        {"key without value", wrap("<dict><key>a</key></dict>")},
        {"value without key", wrap("<dict><true/></dict>")},
        {"integer too big", wrap("<integer>9223372036854775808</integer>")},
        {"integer too small", wrap("<integer>-99999999999999999999</integer>")},
        {"integer text", wrap("<integer>12abc</integer>")},
        {"hex integer", wrap("<integer>0x10</integer>")},
        {"empty integer", wrap("<integer/>")},
        {"real text", wrap("<real>1.5.2</real>")},
        {"real too big", wrap("<real>1e999</real>")},
        {"bad base64 char", wrap("<data>AA*A</data>")},
        {"base64 short", wrap("<data>AAA</data>")},
        {"base64 padding inside", wrap("<data>AA==AAAA</data>")},
        {"bad date", wrap("<date>2001-02-30T00:00:00Z</date>")},
        {"date without zone", wrap("<date>2001-01-01T00:00:00</date>")},
        {"true with content", wrap("<true>yes</true>")},
        {"bad UTF-8", wrap("<string>\xC3\x28</string>")},
        {"overlong UTF-8", wrap("<string>\xC0\xAF</string>")},
        {"surrogate reference", wrap("<string>&#xD800;</string>")},
        {"NUL byte", wrap(std::string("<string>a\0b</string>", 20))},
        {"undeclared entity", wrap("<string>&lol;</string>")},
        {"bare ampersand", wrap("<string>a & b</string>")},
        {"empty character reference", wrap("<string>&#;</string>")},
        {"entity declaration", "<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY a \"aaaaaaaa\">]>"
                               "<plist><string>&a;</string></plist>"},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        std::string error;
        EXPECT_FALSE(readPropertyList(text, &error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(PropertyList, NestingLimitAndSizeLimit) {
    auto nested = [](int depth) {
        std::string s = "<plist>";
        for (int i = 0; i < depth; ++i) s += "<array>";
        for (int i = 0; i < depth; ++i) s += "</array>";
        return s + "</plist>";
    };
    EXPECT_TRUE(readPropertyList(nested(kMaxPropertyListDepth)));
    std::string error;
    EXPECT_FALSE(readPropertyList(nested(kMaxPropertyListDepth + 1), &error));
    EXPECT_NE(error.find("deeper"), std::string::npos) << error;
    // Deep enough to overflow a recursive reader's stack: still a clean error.
    EXPECT_FALSE(readPropertyList(nested(200000)));

    std::string big = "<plist><string>";
    big.resize(kMaxPropertyListBytes + 1, 'x');
    EXPECT_FALSE(readPropertyList(big, &error));
    EXPECT_NE(error.find("64 MiB"), std::string::npos) << error;
}

TEST(PropertyList, PointerValuesAreNeverWritten) {
    int x = 0;
    std::string error;
    EXPECT_FALSE(
        writePropertyList(Value(Dictionary{{"p", Value(Array{Value(Pointer{&x})})}}), &error));
    EXPECT_FALSE(error.empty());
}

// Every prefix of a valid file and a few thousand random byte flips give a
// value or a clean error, never a crash (the sanitizer build checks the
// "never" part).
TEST(PropertyList, PrefixesAndByteFlipsNeverCrash) {
    Value sample(Dictionary{
        {"CapData", Value(Bytes(50, 7))},
        {"CapDataVersion", Value("3")},
        {"List", Value(Array{Value(1), Value(2.5), Value(true), Value(Date{86400}),
                             Value(Dictionary{{"Name", Value("名前 & <x>")}})})},
    });
    const std::string text = *writePropertyList(sample);
    int values = 0;
    for (std::size_t n = 0; n < text.size(); ++n)
        values += readPropertyList(std::string_view(text).substr(0, n)).has_value();
    EXPECT_EQ(values, 1); // only the one that lacks just the final newline
    std::mt19937 random(27);
    for (int i = 0; i < 4000; ++i) {
        std::string damaged = text;
        for (int flips = 1 + int(random() % 3); flips > 0; --flips)
            damaged[random() % damaged.size()] ^= char(1u << (random() % 8));
        std::string error;
        auto v = readPropertyList(damaged, &error);
        EXPECT_TRUE(v || !error.empty());
    }
}

TEST(PropertyList, FileHelpersRoundTrip) {
    kdtest::TempHome home;
    const std::string path = (home.root() / "x.plist").string();
    ASSERT_TRUE(writePropertyListFile(path, Value(Array{Value("a")})));
    auto v = readPropertyListFile(path);
    ASSERT_TRUE(v);
    EXPECT_EQ(*v, Value(Array{Value("a")}));
    bool missing = false;
    std::string error;
    EXPECT_FALSE(readPropertyListFile(path + ".none", &error, &missing));
    EXPECT_TRUE(missing);
}

TEST(Value, TypedReadersAnswerOnlyWhenTheKindFits) {
    struct Row {
        Value v;
        std::optional<std::int64_t> integer, integerOrText;
        std::optional<double> real;
        std::optional<bool> boolean;
    };
    const Row rows[] = {
        {Value(7), 7, 7, 7.0, true},
        {Value(true), 1, 1, std::nullopt, true},
        {Value(-2.9), -2, -2, -2.9, true},
        {Value(0.0), 0, 0, 0.0, false},
        {Value(1e19), std::nullopt, std::nullopt, 1e19, true},
        {Value(HUGE_VAL), std::nullopt, std::nullopt, HUGE_VAL, true},
        {Value(" 12 "), std::nullopt, 12, std::nullopt, std::nullopt},
        {Value("12x"), std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        {Value(Array{}), std::nullopt, std::nullopt, std::nullopt, std::nullopt},
    };
    EXPECT_FALSE(Value(std::nan("")).toInteger());
    for (const auto& r : rows) {
        EXPECT_EQ(r.v.toInteger(), r.integer);
        EXPECT_EQ(r.v.toIntegerOrDecimalString(), r.integerOrText);
        EXPECT_EQ(r.v.toReal(), r.real);
        EXPECT_EQ(r.v.toBool(), r.boolean);
    }
}

TEST(Value, CopiesDoNotShareChanges) {
    Value a(Dictionary{{"k", Value(Array{Value(1)})}});
    Value b = a;
    (*b.mutableDictionary())["k"].mutableArray()->push_back(Value(2));
    EXPECT_EQ(a.dictionary()->at("k").array()->size(), 1u);
    EXPECT_EQ(b.dictionary()->at("k").array()->size(), 2u);
}

} // namespace
