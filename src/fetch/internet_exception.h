#pragma once

#include "platform/result_code.h"

#include <cstdint>
#include <exception>

namespace zk {

class CHttpFile;

// The internet operation a failed call belongs to. Each maps to the message
// that reports it.
enum CInternetOperation : int
{
    INTERNET_OP_NONE = 0,
    INTERNET_OP_SET_OPTION = 1,
    INTERNET_OP_QUERY_OPTION = 2,
    INTERNET_OP_OPEN_SESSION = 3,
    INTERNET_OP_CONNECT = 4,
    INTERNET_OP_READ = 5,
    INTERNET_OP_WRITE = 6,
    INTERNET_OP_DATA_SIZE = 7,
    INTERNET_OP_OPEN_REQUEST = 8,
    INTERNET_OP_SEND_REQUEST = 9,
    INTERNET_OP_QUERY_HEADER = 10,
    INTERNET_OP_UNKNOWN_RESPONSE = 11,
    INTERNET_OP_OPEN_OUTPUT_FILE = 12,
    INTERNET_OP_CLOSE_HANDLE = 13,
    INTERNET_OP_SET_STATUS_CALLBACK = 14,
    INTERNET_OP_CANCELLED = 15,
};

// The message of an operation code; an unknown code gives the message of an
// unknown response.
std::uint32_t MessageIdOfInternetOperation(int operation);

// Thrown by the internet handle wrappers; caught inside the HTTP request and
// never let out of it.
class CInternetException : public std::exception
{
public:
    CInternetException(const CHttpFile* handle, int operation, HRESULT error,
                       std::uint32_t extendedError = 0)
        : m_handle(handle), m_operation(operation), m_error(error), m_extendedError(extendedError)
    {}

    const char* what() const noexcept override { return "internet operation failed"; }
    std::uint32_t GetMessageId() const { return MessageIdOfInternetOperation(m_operation); }

    const CHttpFile* m_handle;     // the handle the call was made on
    int m_operation;               // CInternetOperation
    HRESULT m_error;               // the failure as a result code (libcurl's or the system's)
    std::uint32_t m_extendedError; // the system error number behind it, 0 if none
};

} // namespace zk
