#pragma once
// The run-time's exception hierarchy. Every exception the engine raises derives from
// Exception; catch `const Exception&` for "any run-time error".
#include <exception>
#include <string>

namespace quorvel {

class Exception : public std::exception {
public:
  Exception() = default;
  explicit Exception(std::string msg) : FMessage(std::move(msg)) {}
  ~Exception() override = default;

  const char* what() const noexcept override { return FMessage.c_str(); }
  const std::string& Message() const noexcept { return FMessage; }
  void SetMessage(std::string msg) { FMessage = std::move(msg); }
  virtual const char* ClassName() const noexcept { return "Exception"; }

private:
  std::string FMessage;
};

// Declares an exception class `Name` deriving from `Base` with the base's constructors.
#define QUORVEL_EXCEPTION(Name, Base)                                        \
  class Name : public Base {                                                 \
  public:                                                                    \
    using Base::Base;                                                        \
    const char* ClassName() const noexcept override { return #Name; }        \
  }

// Silent exception: the message loop swallows it without reporting.
QUORVEL_EXCEPTION(EAbort, Exception);
QUORVEL_EXCEPTION(EConvertError, Exception);
QUORVEL_EXCEPTION(EInvalidCast, Exception);
QUORVEL_EXCEPTION(EInvalidOp, Exception);  // Round/Trunc of NaN or out of range
QUORVEL_EXCEPTION(EInvalidOperation, Exception);
QUORVEL_EXCEPTION(EOperationCancelled, Exception);
QUORVEL_EXCEPTION(EInvalidPointer, Exception);
QUORVEL_EXCEPTION(EArgumentException, Exception);
QUORVEL_EXCEPTION(EArgumentOutOfRangeException, EArgumentException);
QUORVEL_EXCEPTION(EArgumentNilException, EArgumentException);
QUORVEL_EXCEPTION(EListError, Exception);
QUORVEL_EXCEPTION(EStringListError, Exception);
QUORVEL_EXCEPTION(EAbstractError, Exception);
QUORVEL_EXCEPTION(ENotSupportedException, Exception);
QUORVEL_EXCEPTION(ENotImplemented, Exception);
QUORVEL_EXCEPTION(EAssertionFailed, Exception);
QUORVEL_EXCEPTION(EEncodingError, Exception);
QUORVEL_EXCEPTION(EClassNotFound, Exception);
QUORVEL_EXCEPTION(EPropertyError, Exception);
QUORVEL_EXCEPTION(EComponentError, Exception);
QUORVEL_EXCEPTION(EReadError, Exception);
QUORVEL_EXCEPTION(EParserError, EReadError);  // form text syntax
QUORVEL_EXCEPTION(EWriteError, Exception);
QUORVEL_EXCEPTION(EStreamError, Exception);
QUORVEL_EXCEPTION(EFCreateError, EStreamError);
QUORVEL_EXCEPTION(EFOpenError, EStreamError);
QUORVEL_EXCEPTION(EInOutError, Exception);
QUORVEL_EXCEPTION(EZLibError, Exception);
QUORVEL_EXCEPTION(EZCompressionError, EZLibError);
QUORVEL_EXCEPTION(EZDecompressionError, EZLibError);
QUORVEL_EXCEPTION(EZipException, Exception);
QUORVEL_EXCEPTION(EJSONException, Exception);
QUORVEL_EXCEPTION(EJSONParseException, EJSONException);
QUORVEL_EXCEPTION(EJsonReaderException, EJSONException);
QUORVEL_EXCEPTION(EJsonWriterException, EJSONException);
QUORVEL_EXCEPTION(EThread, Exception);
QUORVEL_EXCEPTION(EMonitorLockException, Exception);  // releasing a lock the thread does not hold
QUORVEL_EXCEPTION(EUnsupportedPlatformService, Exception);
QUORVEL_EXCEPTION(EContext3DException, Exception);
QUORVEL_EXCEPTION(EBitmapLoadingFailed, Exception);
QUORVEL_EXCEPTION(EDuplicateKey, EListError);  // adding an existing key to a dictionary

// What a method left to descendants raises when a class does not override it.
[[noreturn]] inline void RaiseAbstractError() { throw EAbstractError("Abstract Error"); }

// Carries the operating system's error code (errno, or a platform layer's own code).
class EOSError : public Exception {
public:
  EOSError(std::string msg, int code) : Exception(std::move(msg)), FErrorCode(code) {}
  const char* ClassName() const noexcept override { return "EOSError"; }
  int ErrorCode() const noexcept { return FErrorCode; }

private:
  int FErrorCode;
};

// The last system error of this thread: errno, unless a platform call set its own.
int GetLastError();
void SetLastError(int code, std::string text = {});
// Raises EOSError for GetLastError() ("System Error.  Code: %d.\n%s").
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseLastOSError(int code);

// Raises EAssertionFailed with the message when the condition fails.
void Assert(bool condition, const std::string& message = "Assertion failure");

}  // namespace quorvel
