// SPDX-License-Identifier: Apache-2.0
#include "platform/foundation/exception.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/foundation/archive.h"
#include "platform/foundation/assert.h"

namespace {

// An exception without a message of its own: its message is its class name.
class Bare : public ccException {};

TEST(Exception, MessagesAndPolymorphicRoundTrip) {
  EXPECT_EQ(ccBadArgument(L"width < 0").message(), L"width < 0");
  EXPECT_EQ(ccTimeout().messageUtf8(), "The operation was cancelled: time limit reached");
  EXPECT_NE(Bare().messageUtf8().find("Bare"), std::string::npos) << Bare().messageUtf8();

  // A foundation exception goes through an archive by handle and comes back as itself.
  std::shared_ptr<ccException> sent = std::make_shared<ccMathError>(L"rank 1 < 2 \u00B5");
  std::vector<unsigned char> bytes;
  {
    ccArchive ar(bytes, ccArchive::eStoring);
    ar || sent;
  }
  std::shared_ptr<ccException> received;
  ccArchive ar(bytes, ccArchive::eLoading);
  ar || received;
  ASSERT_NE(dynamic_cast<ccMathError*>(received.get()), nullptr);
  EXPECT_EQ(received->message(), L"rank 1 < 2 \u00B5");
}

TEST(Exception, CaughtAsStdExceptionWithItsMessage) {
  try {
    throw ccBadArgument(L"width \u00B5 < 0");
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "width \xC2\xB5 < 0");
  }
  // Without a message the class name says what went wrong; a copy makes its own text.
  const Bare bare;
  const Bare copy(bare);
  EXPECT_NE(std::string(copy.what()).find("Bare"), std::string::npos);
  EXPECT_NE(static_cast<const void*>(copy.what()), static_cast<const void*>(bare.what()));
}

TEST(ExceptionText, Utf8ConversionsRoundTripAndNeverFail) {
  std::string utf8 = "\xC2\xB5m \xE2\x86\x92 \xF0\x9F\x98\x80";  // "µm → 😀"
  EXPECT_EQ(cfWiden(utf8), L"\u00B5m \u2192 \U0001F600");
  EXPECT_EQ(cfNarrow(cfWiden(utf8)), utf8);

  // Bytes that are not well-formed UTF-8 widen one by one, as Latin-1, and every widened
  // text can be archived (no code point beyond the Unicode range).
  struct Case {
    std::string bytes;
    std::wstring wide;
  };
  for (const Case& c : {Case{"\xF7\xBF\xBF\xBF", L"\u00F7\u00BF\u00BF\u00BF"},  // beyond U+10FFFF
                        Case{"\xC0\x80", L"\u00C0\u0080"},                      // overlong zero
                        Case{"\xED\xA0\x80", L"\u00ED\u00A0\u0080"},            // a surrogate
                        Case{"a\xE2\x82", L"a\u00E2\u0082"}}) {                 // cut short
    std::wstring w = cfWiden(c.bytes);
    EXPECT_EQ(w, c.wide) << "for bytes " << ::testing::PrintToString(c.bytes);
    std::vector<unsigned char> b;
    ccArchive ar(b, ccArchive::eStoring);
    EXPECT_NO_THROW(ar || w);
  }
  EXPECT_EQ(cfNarrow(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
}

// Facility 111's converter: remembers the code and throws an argument error naming it.
std::uint32_t gLastCode = 99;
void throwingConverter(std::uint32_t status) {
  gLastCode = status & 0x1F;
  throw ccBadArgument(L"converted");
}
void returningConverter(std::uint32_t) {}

TEST(StatusConverter, FacilityAndCodeBitsSelectTheConverter) {
  constexpr std::uint32_t kFacility = 111;
  cfRegisterExceptionConverter(kFacility, &throwingConverter);
  std::uint32_t failure = 0x80000000u | (kFacility << 5) | 7u;
  EXPECT_THROW(cfThrowExceptionOnFailure(failure), ccBadArgument);
  EXPECT_EQ(gLastCode, 7u);

  EXPECT_NO_THROW(cfThrowExceptionOnFailure(failure & 0x7FFFFFFFu));  // bit 31 clear: success
  try {
    cfThrowExceptionOnFailure(0x80000000u | ((kFacility + 1) << 5) | 7u);  // no converter
    ADD_FAILURE() << "nothing thrown";
  } catch (const ccStatusError& e) {
    EXPECT_EQ(e.status(), 0x80000000u | ((kFacility + 1) << 5) | 7u);
  }
  cfRegisterExceptionConverter(kFacility, &returningConverter);
  EXPECT_THROW(cfThrowExceptionOnFailure(failure), ccStatusError);
  cfRegisterExceptionConverter(kFacility, nullptr);
  EXPECT_THROW(cfThrowExceptionOnFailure(failure), ccStatusError);

  // The largest facility still fits; one more does not.
  cfRegisterExceptionConverter(kMaxStatusFacility, &throwingConverter);
  EXPECT_THROW(cfThrowExceptionOnFailure(0xFFFFFFFFu), ccBadArgument);
  EXPECT_EQ(gLastCode, 31u);
  cfRegisterExceptionConverter(kMaxStatusFacility, nullptr);
  EXPECT_THROW(cfRegisterExceptionConverter(kMaxStatusFacility + 1, &throwingConverter),
               ccBadArgument);
}

int gHandled = 0;
int gLastLine = 0;
void countingHandler(const char*, const char*, int line) {
  ++gHandled;
  gLastLine = line;
}

TEST(Assertion, FailedCheckIsCountedReportedAndExecutionContinues) {
  ccAssertion::Handler old = ccAssertion::setHandler(&countingHandler);
  unsigned long before = ccAssertion::failureCount();
  int reached = 0;
  cstd_assert_(1 + 1 == 2);
  int failLine = __LINE__ + 1;
  cstd_assert_(reached == 1);
  reached = 1;
  EXPECT_EQ(reached, 1);
  EXPECT_EQ(ccAssertion::failureCount(), before + 1);
  EXPECT_EQ(gHandled, 1);
  EXPECT_EQ(gLastLine, failLine);

  // Counts are per thread.
  std::thread([] { cstd_assert_(false); }).join();
  EXPECT_EQ(ccAssertion::failureCount(), before + 1);
  EXPECT_EQ(gHandled, 2);
  EXPECT_EQ(ccAssertion::setHandler(old), &countingHandler);
}

}  // namespace
