#pragma once

namespace zk {

// Why a capture run ended with an error, for the advice the user is given.
enum class EMonitorFailure
{
    None,
    Permission,     // no right to capture (the capability is missing)
    AdapterMissing, // the chosen adapter is gone or cannot be used
    NoAdapter,      // the machine has no adapter to watch
    Other,
};

} // namespace zk
