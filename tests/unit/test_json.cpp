#include "formats/json.h"

#include <gtest/gtest.h>

namespace {
bool parses(const std::string& text)
{
    JsonValue root;
    return parse_json_document(text, root);
}
JsonValue parse_ok(const std::string& text)
{
    JsonValue root;
    EXPECT_TRUE(parse_json_document(text, root)) << text;
    return root;
}
std::string string_member(const std::string& doc)
{
    return json_member(parse_ok(doc), "s").text;
}
}  // namespace

TEST(Json, DocumentMustBeAnObject)
{
    EXPECT_FALSE(parses(""));
    EXPECT_FALSE(parses(" \t\r\n"));
    EXPECT_FALSE(parses("[1,2]"));
    EXPECT_FALSE(parses("\"text\""));
    JsonValue root = parse_ok("{}");
    EXPECT_EQ(root.kind, JsonValue::Object);
    EXPECT_TRUE(root.members.empty());
    EXPECT_TRUE(parses("{\"a\":1} trailing garbage ]]]"));
}

TEST(Json, SyntaxFailures)
{
    for (const char* bad : {"{\"a\":1,}", "{\"a\":[1,]}", "{1:2}", "{\"a\" 1}", "{\"a\":tru}",
                            "{\"a\":truex}", "{\"n\":-}", "{\"a\":1", "{\"a\":\"open", "{\"a\"",
                            "{\"a\":[1 2]}", "{,}", "{\"a\":}"})
        EXPECT_FALSE(parses(bad)) << bad;
}

TEST(Json, RepeatedKeyKeepsLastValueAndKeysSortByBytes)
{
    JsonValue root = parse_ok("{\"b\":1,\"a\":1,\"a\":2,\"B\":3,\"ab\":4}");
    EXPECT_EQ(json_member(root, "a").number, 2.0);
    std::vector<std::string> keys;
    for (const auto& [k, v] : root.members) keys.push_back(k);
    EXPECT_EQ(keys, (std::vector<std::string>{"B", "a", "ab", "b"}));
}

TEST(Json, Numbers)
{
    EXPECT_EQ(json_member(parse_ok("{\"n\":1e3}"), "n").number, 1000.0);
    EXPECT_EQ(json_member(parse_ok("{\"n\":+5}"), "n").number, 5.0);
    EXPECT_EQ(json_member(parse_ok("{\"n\":-2.5}"), "n").number, -2.5);
    double big = json_member(parse_ok("{\"n\":9007199254740993}"), "n").number;
    EXPECT_EQ(big, 9007199254740992.0);   // doubles lose the last bit
}

TEST(Json, Escapes)
{
    EXPECT_EQ(string_member("{\"s\":\"\\u0041\"}"), "A");
    EXPECT_EQ(string_member("{\"s\":\"\\u00e9\"}"), "?");
    EXPECT_EQ(string_member("{\"s\":\"\\ud83d\\ude00\"}"), "??");
    EXPECT_EQ(string_member("{\"s\":\"\\r\\n\\t\\b\\f\"}"), "\r\n\t\b\f");
    EXPECT_EQ(string_member("{\"s\":\"\\x\\\"\\\\\\/\"}"), "x\"\\/");
    EXPECT_EQ(string_member("{\"s\":\"caf\xC3\xA9\x01\"}"), "caf\xC3\xA9\x01");
    // A \u with only two characters before the end of the text: the letter u
    // and the characters follow, and the string stays unterminated.
    JsonValue root;
    EXPECT_FALSE(parse_json_document("{\"s\":\"\\u41", root));
    EXPECT_EQ(json_member(root, "s").text, "u41");
}

TEST(Json, KindsReadAsEmptyValues)
{
    JsonValue root = parse_ok("{\"s\":\"text\",\"n\":3,\"t\":true,\"f\":false,\"z\":null,\"a\":[1]}");
    EXPECT_EQ(json_member(root, "s").number, 0.0);
    EXPECT_EQ(json_member(root, "n").text, "");
    EXPECT_TRUE(json_member(root, "t").flag);
    EXPECT_FALSE(json_member(root, "f").flag);
    EXPECT_EQ(json_member(root, "z").kind, JsonValue::Null);
    EXPECT_EQ(&json_member(root, "missing"), &json_null());
    EXPECT_EQ(&json_member(json_member(root, "n"), "x"), &json_null());
    EXPECT_EQ(json_member(root, "a")[0].number, 1.0);
    EXPECT_EQ(&json_member(root, "a")[1], &json_null());
    EXPECT_EQ(&json_member(root, "s")[0], &json_null());
}

TEST(Json, NestingIsBounded)
{
    std::string ok = "{\"a\":" + std::string(200, '[') + std::string(200, ']') + "}";
    EXPECT_TRUE(parses(ok));
    std::string deep = "{\"a\":" + std::string(100000, '[');
    EXPECT_FALSE(parses(deep));
    std::string deep_closed = "{\"a\":" + std::string(600, '[') + std::string(600, ']') + "}";
    EXPECT_FALSE(parses(deep_closed));
}
