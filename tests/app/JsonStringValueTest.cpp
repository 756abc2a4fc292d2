#include <gtest/gtest.h>

#include "app/JsonStringValue.h"
#include "platform/base/Exception.h"

TEST(GetJsonStringValue, ReadsStringsAndNumbersAsTextAndEverythingElseAsEmpty) {
  struct Case {
    const char* json;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {R"({"DownloadFileName":"pkg.zip"})", "DownloadFileName", "pkg.zip"},
      {R"({"a":"tab\there \u00e9 \"q\""})", "a", "tab\there \xc3\xa9 \"q\""},
      {R"({"DownloadFileName":12})", "DownloadFileName", "12"},
      {R"({"n":1.50})", "n", "1.50"},
      {R"({"n":-7})", "n", "-7"},
      {R"({"n":1e3})", "n", "1e3"},
      {R"({"n":123456789012345678901234567890})", "n", "123456789012345678901234567890"},
      {R"({"b":true})", "b", ""},
      {R"({"b":false})", "b", ""},
      {R"({"z":null})", "z", ""},
      {R"({"o":{"o":"inner"}})", "o", ""},
      {R"({"arr":["x"]})", "arr", ""},
      {R"({"inner":{"k":"deep"}})", "k", ""},  // only top-level members count
      {R"({"Key":"v"})", "key", ""},           // names are case-sensitive
      {R"({"k":"first","k":"second"})", "k", "first"},
      {R"({"other":"v"})", "missing", ""},
      {"", "k", ""},
      {"not json", "k", ""},
      {R"({"k":"v")", "k", ""},
      {R"({"k":"v"} trailing)", "k", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(GetJsonStringValue(QString::fromUtf8(c.json), c.key), QString::fromUtf8(c.expected));
  }
}

TEST(GetJsonStringValue, ValidJsonThatIsNotAnObjectRaisesInvalidTypecast) {
  for (const char* json : {"[1,2]", "\"text\"", "42", "null"}) {
    SCOPED_TRACE(json);
    try {
      GetJsonStringValue(json, "k");
      FAIL() << "no error";
    } catch (const Exception& error) {
      EXPECT_EQ(error.Message(), "Invalid class typecast");
    }
  }
}

TEST(GetJsonStringValue, DeepAndLargeDocumentsAreReadWithoutTrouble) {
  const QString deep = QString("{\"k\":\"v\",\"d\":") + QString(200000, '[') + QString(200000, ']') + "}";
  EXPECT_EQ(GetJsonStringValue(deep, "k"), "v");
  const QString large = QString("{\"pad\":\"") + QString(8 * 1024 * 1024, 'x') + "\",\"k\":\"end\"}";
  EXPECT_EQ(GetJsonStringValue(large, "k"), "end");
  EXPECT_EQ(GetJsonStringValue(QString::fromLatin1("{\"k\":\"\x01\xff\"}\0\0", 12), "k"), "");
}
