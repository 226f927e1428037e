#!/usr/bin/env bash
# The layer check passes on a clean tree and fails on each kind of planted
# violation, naming the offending file.
set -euo pipefail
check=${1:?usage: check_layers_test.sh path/to/check-layers}
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

plant() { mkdir -p "$tree/$(dirname "$1")" && printf '%s\n' "$2" >"$tree/$1"; }

# Allowed: the capture folder and the program include capture headers,
# other folders include base headers, and a comment that names one is not
# an include.
plant src/capture/ip_packet.cpp '#include "capture/ip_packet.h"'
plant src/app/main_frame.cpp '#include "capture/zarumate_sock.h"'
plant src/res/string_table.cpp '#include "base/portal_hosts.h"'
plant src/fetch/worker.h '// moved from capture/thread.h to base/thread.h'
plant src/app/sock.cpp '#include "platform/capture_socket.h"'
plant src/system/helper.cpp '#include "platform/capture_helper.h"'
"$check" "$tree" >/dev/null || fail "clean tree rejected"

for violation in \
    'src/res/strings.cpp|#include "capture/portal_hosts.h"' \
    'src/fetch/thread_user.h|  #  include <capture/thread.h>' \
    'src/friends/list.cpp|#include "capture/ip_packet.h" // a reason' \
    'src/system/about.h.in|#include "capture/portal_hosts.h"' \
    'src/ui/cell.cpp|#include "../capture/ip_packet.h"' \
    'src/ui/frame.cpp|#include "src/capture/tcp_ip_stream.h"'; do
    file=${violation%%|*}
    plant "$file" "${violation#*|}"
    if output=$("$check" "$tree" 2>&1); then
        fail "planted $file passed"
    fi
    grep -q "^$file:1:" <<<"$output" || fail "planted $file not named: $output"
    rm "$tree/$file"
done
"$check" "$tree" >/dev/null || fail "tree not clean again after removing the plants"
echo "check-layers test: ok"
