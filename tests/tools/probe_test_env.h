#pragma once

// What the probe's tests share: the built probe, how long they wait for it,
// the locale they run it in, and the people their pages belong to.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zk::test {

inline const std::string kProbe = ZK_PROBE_PATH;
// How long a test waits for what should happen at once (the probe starting
// to monitor, a person found): only a hang takes this long, however busy
// the machine.
inline constexpr std::chrono::seconds kPatience{60};
// A probe told to end stops within 100 ms; a hundred times that.
inline constexpr std::chrono::seconds kEndLimit{10};
// The system's texts in English, whatever the machine's locale.
inline const std::vector<std::string> kEnglish{"LC_ALL=C.UTF-8"};

inline std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The lines of the probe's output, each with its newline, in sorted order:
// pages fetched at once may be found in any order.
inline std::vector<std::string> SortedLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line + "\n");
    std::sort(lines.begin(), lines.end());
    return lines;
}

struct CPerson
{
    std::string id;
    std::string name;
};

// The line the probe writes for a person found.
inline std::string PersonLine(const CPerson& person)
{
    return person.id + "\t" + person.name + "\n";
}

// The lines of all the persons, sorted as SortedLines sorts.
inline std::vector<std::string> PersonLines(const std::vector<CPerson>& persons)
{
    std::vector<std::string> lines;
    for (const CPerson& person : persons)
        lines.push_back(PersonLine(person));
    std::sort(lines.begin(), lines.end());
    return lines;
}

} // namespace zk::test
