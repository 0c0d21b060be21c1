// SPDX-License-Identifier: Apache-2.0
// JSON writer: layout, number formatting, escaping and misuse.
#include "tools/calib/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

namespace {

TEST(JsonWriter, NestedLayoutAndNumbers) {
  std::ostringstream out;
  ccJsonWriter json(out);
  json.beginObject()
      .key("n")
      .value(3L)
      .key("xs")
      .beginArray()
      .value(1.5)
      .value(-0.0000001, 3)
      .value(2.0, 0)
      .endArray()
      .key("p")
      .point(1.0 / 3.0, std::numeric_limits<double>::quiet_NaN(), 4)
      .key("empty")
      .beginObject()
      .endObject()
      .key("ok")
      .value(true)
      .endObject();
  EXPECT_TRUE(json.done());
  EXPECT_EQ(out.str(),
            "{\n  \"n\": 3,\n  \"xs\": [\n    1.5,\n    0,\n    2\n  ],\n  \"p\": [0.3333, null],\n"
            "  \"empty\": {},\n  \"ok\": true\n}\n");
  EXPECT_EQ(ccJsonWriter::formatNumber(1e20, 3), "1e+20");
  EXPECT_EQ(ccJsonWriter::formatNumber(-2.5, 6), "-2.5");
  EXPECT_EQ(ccJsonWriter::formatNumber(HUGE_VAL, 6), "null");
}

TEST(JsonWriter, EscapesStringsAndRefusesMisuse) {
  std::ostringstream out;
  ccJsonWriter(out, 0).beginArray().value("a\"b\\c\n\x01 \xC3\xA9").endArray();
  EXPECT_EQ(out.str(), "[\"a\\\"b\\\\c\\n\\u0001 \xC3\xA9\"]");

  std::ostringstream sink;
  ccJsonWriter a(sink);
  a.beginObject();
  EXPECT_THROW(a.value(1L), ccBadArgument);   // no key
  EXPECT_THROW(a.endArray(), ccBadArgument);  // wrong bracket
  ccJsonWriter b(sink);
  EXPECT_THROW(b.key("k"), ccBadArgument);  // key outside an object
  b.value(1L);
  EXPECT_THROW(b.value(2L), ccBadArgument);  // second top-level value
}

}  // namespace
