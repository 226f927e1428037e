#pragma once

#include "base/simple_err.h"
#include "fetch/can_terminate.h"

#include <memory>

namespace zk {

// A unit of work for a worker: it knows its worker, carries its error
// record, can hand out shared references to itself, and names the client
// that wants it back when it has run (may be null: the task is then dropped).
template <class T, class TClient, class TErr = CSimpleErr>
class CTask : public CCanTerminate, public CHasErr<TErr>, public std::enable_shared_from_this<T>
{
public:
    using Client = TClient;

    TClient* GetClient() const { return m_client; }
    void SetClient(TClient* client) { m_client = client; }

protected:
    TClient* m_client = nullptr;
};

} // namespace zk
