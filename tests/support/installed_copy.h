#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace zk::test {

// The project's programs copied into a folder of their own as an
// installation lays them out, with the capture capability on the capture
// helper alone, for runs as an ordinary user: the user of the programs
// started with RunAsOrdinaryUser, who holds no group and no capability. The
// destructor removes the folder.
class CInstalledCopy
{
public:
    // The user and group the ordinary runs have (nobody and nogroup).
    static constexpr uid_t kUser = 65534;
    static constexpr gid_t kGroup = 65534;

    // Copies each program (by its path) into the folder under its own name;
    // the one named like the capture helper gets the capability.
    explicit CInstalledCopy(const std::vector<std::string>& programs);
    ~CInstalledCopy();
    CInstalledCopy(const CInstalledCopy&) = delete;
    CInstalledCopy& operator=(const CInstalledCopy&) = delete;

    bool Ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }

    // Where the copy of the program of this name lies.
    std::string PathOf(const std::string& name) const;

    // The command line that runs this one as the ordinary user.
    static std::vector<std::string> RunAsOrdinaryUser(std::vector<std::string> command);

    // Hands a folder and everything in it to the ordinary user, so that a
    // program run as that user can keep its files there.
    static bool GiveToOrdinaryUser(const std::string& folder);

private:
    std::string m_folder;
    std::string m_error;
};

// What a process holds while it runs: the capabilities it may use or keep
// (as /proc shows them, in hexadecimal), and its packet sockets.
struct CHeld
{
    std::string effective;
    std::string permitted;
    int packetSockets = 0;

    bool HoldsNoCapability() const
    {
        return effective == "0000000000000000" && permitted == "0000000000000000";
    }
};

CHeld HeldBy(pid_t pid);

// The children of every thread of a process.
std::vector<pid_t> ChildrenOf(pid_t pid);

} // namespace zk::test
