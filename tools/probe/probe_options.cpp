#include "probe/probe_options.h"

namespace zk {
namespace {

// The longest run --seconds allows: a year.
constexpr unsigned long kMaxSeconds = 366ul * 24 * 60 * 60;

bool ParseSeconds(const std::string& text, unsigned& seconds)
{
    if (text.empty() || text.size() > 9)
        return false;
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value == 0 || value > kMaxSeconds)
        return false;
    seconds = static_cast<unsigned>(value);
    return true;
}

bool ParseWatchOptions(const std::vector<std::string>& args, CProbeOptions& options,
                       std::string& error)
{
    bool haveAdapter = false;
    bool haveFile = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool* flag = arg == "--stats"     ? &options.m_stats
                     : arg == "--save"    ? &options.m_save
                     : arg == "--avatars" ? &options.m_avatars
                                          : nullptr;
        if (flag) {
            if (*flag) {
                error = arg + " is given twice";
                return false;
            }
            *flag = true;
        } else if (arg == "--keylog") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = "--keylog needs a file";
                return false;
            }
            if (!options.m_keyLog.empty()) {
                error = "--keylog is given twice";
                return false;
            }
            options.m_keyLog = args[++i];
        } else if (arg == "--adapter" || arg == "--seconds") {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            const std::string& value = args[++i];
            if (arg == "--adapter") {
                if (haveAdapter) {
                    error = "--adapter is given twice";
                    return false;
                }
                haveAdapter = true;
                options.m_adapter = value;
            } else {
                unsigned seconds = 0;
                if (options.m_seconds) {
                    error = "--seconds is given twice";
                    return false;
                }
                if (!ParseSeconds(value, seconds)) {
                    error = "--seconds needs a whole number of seconds, at least 1";
                    return false;
                }
                options.m_seconds = seconds;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else {
            if (haveFile) {
                error = "only one capture file can be read";
                return false;
            }
            haveFile = true;
            options.m_file = arg;
        }
    }
    if (haveAdapter == haveFile) {
        error = haveFile ? "a capture file and --adapter exclude each other"
                         : "a capture file or --adapter NAME is needed";
        return false;
    }
    if (options.m_avatars && !options.m_save) {
        error = "--avatars needs --save";
        return false;
    }
    if (options.m_seconds && !haveAdapter) {
        error = "--seconds needs --adapter";
        return false;
    }
    options.m_mode = haveAdapter ? CProbeMode::Live : CProbeMode::File;
    return true;
}

} // namespace

bool ParseProbeOptions(const std::vector<std::string>& args, CProbeOptions& options,
                       std::string& error)
{
    options = CProbeOptions();
    if (args.empty()) {
        error = "nothing to do";
        return false;
    }
    if (args[0] == "--adapters") {
        if (args.size() != 1) {
            error = "--adapters takes nothing else";
            return false;
        }
        options.m_mode = CProbeMode::ListAdapters;
        return true;
    }
    if (args[0] == "--thumbnails") {
        if (args.size() != 2 || args[1].empty()) {
            error = "--thumbnails takes one folder and nothing else";
            return false;
        }
        options.m_mode = CProbeMode::Thumbnails;
        options.m_directory = args[1];
        return true;
    }
    return ParseWatchOptions(args, options, error);
}

const char* GetProbeUsage()
{
    return "usage: zarumatekit-probe --adapters\n"
           "       zarumatekit-probe [--stats] [--save [--avatars]] [--keylog FILE]\n"
           "                         (FILE | --adapter NAME [--seconds N])\n"
           "       zarumatekit-probe --thumbnails DIR\n"
           "\n"
           "  --adapters         list the usable network adapters, one name a line\n"
           "  --adapter NAME     watch the adapter NAME (the first usable one when no adapter\n"
           "                     has that name) until SIGINT or SIGTERM, or for N seconds\n"
           "  FILE               run a pcap or pcapng capture file through the decoder\n"
           "  --keylog FILE      read HTTPS pages with the TLS secrets a browser writes to FILE\n"
           "                     (SSLKEYLOGFILE); FILE may appear later and grow while it runs\n"
           "  --stats            print the decoder's figures on stderr at the end\n"
           "  --save             keep the people found in the friend list\n"
           "  --avatars          with --save, also fetch their avatars\n"
           "  --thumbnails DIR   write the avatar thumbnails into DIR\n"
           "\n"
           "Each person found is printed as <id><TAB><name>.\n"
           "Exit status: 0 success, 1 failure, 2 wrong usage.\n";
}

} // namespace zk
