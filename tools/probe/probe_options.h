#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zk {

// What the probe was asked to do.
enum class CProbeMode
{
    ListAdapters, // --adapters
    Live,         // --adapter NAME [--seconds N]
    File,         // FILE
    Thumbnails    // --thumbnails DIR
};

struct CProbeOptions
{
    CProbeMode m_mode = CProbeMode::Live;
    bool m_stats = false;   // --stats
    bool m_save = false;    // --save
    bool m_avatars = false; // --avatars, only with --save
    std::string m_adapter;  // may be empty: the first usable adapter is taken
    std::optional<unsigned> m_seconds;
    std::string m_file;
    std::string m_keyLog; // --keylog FILE: the TLS key log to read HTTPS pages with
    std::string m_directory;
};

// Reads the arguments (without the program name) by the probe's grammar:
//   --adapters
//   [--stats] [--save [--avatars]] [--keylog FILE] (FILE | --adapter NAME [--seconds N])
//   --thumbnails DIR
// The options of the second form come in any order, each at most once.
// False, with the reason in error, for anything else.
bool ParseProbeOptions(const std::vector<std::string>& args, CProbeOptions& options,
                       std::string& error);

// The usage text shown with a usage error.
const char* GetProbeUsage();

} // namespace zk
