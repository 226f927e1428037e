#include "capture_args.h"

#include <net/if.h>

namespace zk {

bool IsInterfaceName(const std::string& name)
{
    // The kernel's own rule for a new interface's name (dev_valid_name).
    if (name.empty() || name.size() >= IFNAMSIZ || name == "." || name == "..")
        return false;
    for (unsigned char c : name) {
        if (c == '/' || c == ':' || c <= ' ' || c == 0x7F)
            return false;
    }
    return true;
}

bool ParseCaptureArgs(const std::vector<std::string>& args, std::string& adapter,
                      std::string& error)
{
    if (args.size() != 2 || args[0] != "--adapter") {
        error = "usage: zarumatekit-capture --adapter NAME";
        return false;
    }
    if (!IsInterfaceName(args[1])) {
        error = "not an interface name";
        return false;
    }
    adapter = args[1];
    return true;
}

} // namespace zk
