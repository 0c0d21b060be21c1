// SPDX-License-Identifier: Apache-2.0
// Exceptions of the library: every failure is reported by throwing one of these. All are
// persistent, so a failure can be stored and shipped like any other value; the foundation's
// own leaf classes below are registered, so an archive re-creates them by class name. On
// loading, the message is the stored one (a ccStatusError keeps its text, not its number).
#ifndef PLATFORM_FOUNDATION_EXCEPTION_H
#define PLATFORM_FOUNDATION_EXCEPTION_H

#include <cstdint>
#include <exception>
#include <ostream>
#include <string>

#include "ccalib_export.h"
#include "platform/foundation/persistent.h"

// Also a std::exception, so that a handler for std::exception (or an uncaught exception's
// report) sees the message through what().
class CCALIB_EXPORT ccException : public ccPersistent, public std::exception {
 public:
  ~ccException() override;

  // The message as text (what message_ writes).
  std::wstring message() const;
  // The message in UTF-8, for logs and command-line output.
  std::string messageUtf8() const;
  // The message in UTF-8, or the class name when the message is empty. The text lives as
  // long as the exception object (it is made on the first call and kept).
  const char* what() const noexcept override;

 protected:
  ccException() = default;
  // Copies never share the cached what() text: it is made again from the copy's message.
  ccException(const ccException& other) : ccPersistent(other), std::exception(other) {}
  ccException& operator=(const ccException& other) {
    ccPersistent::operator=(other);
    whatText_.clear();
    return *this;
  }

  // Writes the message. The base writes the class name.
  virtual void message_(std::wostream& out) const;

  // Version byte 0, the base part, then the message text (through serializeMessage_).
  void dispatchSerialize(ccArchive& ar) override;
  // Exchanges the message text; the base has none and exchanges an empty string.
  virtual void serializeMessage_(ccArchive& ar);

 private:
  mutable std::string whatText_;
};

// An exception that carries a message text given when it is made.
class CCALIB_EXPORT ccExceptionWithString : public ccException {
 public:
  explicit ccExceptionWithString(const std::wstring& message = std::wstring());
  ccExceptionWithString(const ccExceptionWithString&) = default;
  ccExceptionWithString& operator=(const ccExceptionWithString&) = default;
  ~ccExceptionWithString() override;

  const std::wstring& storedMessage() const { return message_text_; }

 protected:
  void message_(std::wostream& out) const override;
  void serializeMessage_(ccArchive& ar) override;

 private:
  std::wstring message_text_;
};

// Decodes UTF-8 text. A byte that does not start a well-formed sequence (truncated, overlong,
// a surrogate, beyond U+10FFFF) is taken alone as a Latin-1 character, so any byte string
// widens without loss of length or failure.
CCALIB_EXPORT std::wstring cfWiden(const std::string& text);
// Encodes a wide text as UTF-8; a value that is no Unicode scalar becomes U+FFFD.
CCALIB_EXPORT std::string cfNarrow(const std::wstring& text);

// Image errors.
struct ccPel {
  // An operation needed pixels from an image that has none.
  class CCALIB_EXPORT UnboundWindow : public ccExceptionWithString {
   public:
    UnboundWindow() : ccExceptionWithString(L"The image is not bound to pixels") {}
    explicit UnboundWindow(const std::wstring& message) : ccExceptionWithString(message) {}
    ~UnboundWindow() override;
  };
  // A window, size or argument that does not fit the image.
  class CCALIB_EXPORT BadWindow : public ccExceptionWithString {
   public:
    explicit BadWindow(const std::wstring& message = L"The window does not fit the image")
        : ccExceptionWithString(message) {}
    ~BadWindow() override;
  };
};

// A bad argument given to a foundation or tool operation (sizes that disagree, values out of
// range). The message says which argument and why.
class CCALIB_EXPORT ccBadArgument : public ccExceptionWithString {
 public:
  explicit ccBadArgument(const std::wstring& message = std::wstring())
      : ccExceptionWithString(message) {}
  ~ccBadArgument() override;
};

// A numerical operation met a degenerate input (too few points, rank deficiency).
class CCALIB_EXPORT ccMathError : public ccExceptionWithString {
 public:
  explicit ccMathError(const std::wstring& message = std::wstring())
      : ccExceptionWithString(message) {}
  ~ccMathError() override;
};

// Thrown by ccAttention::check() when the caller's deadline has passed or the caller asked
// to cancel.
class CCALIB_EXPORT ccTimeout : public ccExceptionWithString {
 public:
  explicit ccTimeout(
      const std::wstring& message = L"The operation was cancelled: time limit reached")
      : ccExceptionWithString(message) {}
  ~ccTimeout() override;
};

// A failure status that no registered converter turned into an exception.
class CCALIB_EXPORT ccStatusError : public ccExceptionWithString {
 public:
  explicit ccStatusError(std::uint32_t status = 0);
  ~ccStatusError() override;
  std::uint32_t status() const { return status_; }

 private:
  std::uint32_t status_ = 0;
};

// 32-bit statuses: bit 31 set means failure; bits 5 to 30 hold the facility number and
// bits 0 to 4 the code within the facility (status = 0x80000000 + facility * 32 + code).
using ccStatusConverter = void (*)(std::uint32_t status);

// Largest facility number a status can carry (26 bits).
constexpr std::uint32_t kMaxStatusFacility = (1u << 26) - 1;

// Registers the converter for one facility; a later registration replaces an earlier one and
// a null converter removes it. Throws ccBadArgument for a facility above kMaxStatusFacility.
CCALIB_EXPORT void cfRegisterExceptionConverter(std::uint32_t facility,
                                                ccStatusConverter converter);
// Does nothing for a success status. For a failure, calls the facility's converter, which
// throws the matching exception; when there is no converter, or it returns, throws
// ccStatusError.
CCALIB_EXPORT void cfThrowExceptionOnFailure(std::uint32_t status);

#endif  // PLATFORM_FOUNDATION_EXCEPTION_H
