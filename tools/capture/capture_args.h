#pragma once

#include <string>
#include <vector>

namespace zk {

// The helper's command line: "--adapter NAME" and nothing else. The helper
// runs with a capability for whoever may start it, so it takes no option
// that could name a file, a filter or a mode.
bool ParseCaptureArgs(const std::vector<std::string>& args, std::string& adapter,
                      std::string& error);

// A name the kernel could give an interface: 1 to 15 bytes, none of them a
// slash, a colon, white space or a control character, and not "." or "..".
bool IsInterfaceName(const std::string& name);

} // namespace zk
