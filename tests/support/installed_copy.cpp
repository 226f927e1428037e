#include "support/installed_copy.h"

#include "support/child_process.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <unistd.h>

namespace zk::test {

namespace fs = std::filesystem;

namespace {

constexpr char kHelperName[] = "zarumatekit-capture";

std::string StatusField(pid_t pid, const std::string& field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":\t", 0) == 0)
            return line.substr(field.size() + 2);
    }
    return "?";
}

} // namespace

CInstalledCopy::CInstalledCopy(const std::vector<std::string>& programs)
{
    char folder[] = "/tmp/zk-install-XXXXXX";
    if (!mkdtemp(folder)) {
        m_error = "no folder for the copy";
        return;
    }
    m_folder = folder;
    std::error_code error;
    // The ordinary user must reach the programs.
    fs::permissions(m_folder, fs::perms(0755), error);
    for (const std::string& program : programs) {
        fs::path to = fs::path(m_folder) / fs::path(program).filename();
        if (!fs::copy_file(program, to, error)) {
            m_error = "cannot copy " + program + ": " + error.message();
            return;
        }
        if (to.filename() != kHelperName)
            continue;
        CProcessResult setcap = RunProcess({"setcap", "cap_net_raw+p", to.string()});
        if (setcap.exitCode != 0) {
            m_error = "setcap: " + setcap.err;
            return;
        }
    }
}

CInstalledCopy::~CInstalledCopy()
{
    std::error_code ignored;
    if (!m_folder.empty())
        fs::remove_all(m_folder, ignored);
}

std::string CInstalledCopy::PathOf(const std::string& name) const
{
    return (fs::path(m_folder) / name).string();
}

std::vector<std::string> CInstalledCopy::RunAsOrdinaryUser(std::vector<std::string> command)
{
    std::vector<std::string> line{"setpriv", "--reuid=" + std::to_string(kUser),
                                  "--regid=" + std::to_string(kGroup), "--clear-groups",
                                  "--inh-caps=-all"};
    line.insert(line.end(), command.begin(), command.end());
    return line;
}

bool CInstalledCopy::GiveToOrdinaryUser(const std::string& folder)
{
    if (chown(folder.c_str(), kUser, kGroup) != 0)
        return false;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (lchown(it->path().c_str(), kUser, kGroup) != 0)
            return false;
    }
    return !error;
}

CHeld HeldBy(pid_t pid)
{
    CHeld held;
    held.effective = StatusField(pid, "CapEff");
    held.permitted = StatusField(pid, "CapPrm");
    // The inodes of the packet sockets of its network namespace.
    std::set<std::string> packet;
    std::ifstream table("/proc/" + std::to_string(pid) + "/net/packet");
    std::string line;
    std::getline(table, line); // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string field;
        for (int i = 0; i < 9 && fields >> field; ++i) {
        }
        packet.insert(field);
    }
    std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fds, error)) {
        std::string target = fs::read_symlink(entry.path(), error).string();
        if (target.rfind("socket:[", 0) == 0 && packet.count(target.substr(8, target.size() - 9)))
            ++held.packetSockets;
    }
    return held;
}

std::vector<pid_t> ChildrenOf(pid_t pid)
{
    std::vector<pid_t> children;
    std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code error;
    for (const auto& task : fs::directory_iterator(tasks, error)) {
        std::ifstream list(task.path() / "children");
        for (pid_t child; list >> child;)
            children.push_back(child);
    }
    return children;
}

} // namespace zk::test
