#pragma once

#include "platform/result_code.h"

namespace zk {

// The outcome of every operation of the drawing surface. The values follow
// the drawing library the program was first written against, so that a
// status shown in a message reads the same everywhere.
enum class CDrawStatus
{
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    NotImplemented = 6,
    WrongState = 8,
    UnknownImageFormat = 13,
};

// The result code of a failed drawing step, so that it can travel in an
// error record: a status is a small positive number, which a caller testing
// for failure would take for success.
constexpr HRESULT HresultFromDrawStatus(CDrawStatus status)
{
    switch (status) {
    case CDrawStatus::Ok:
        return S_OK;
    case CDrawStatus::InvalidParameter:
        return E_INVALIDARG;
    case CDrawStatus::OutOfMemory:
        return E_OUTOFMEMORY;
    case CDrawStatus::NotImplemented:
    case CDrawStatus::UnknownImageFormat:
        return E_NOTIMPL;
    default:
        return E_FAIL;
    }
}

} // namespace zk
