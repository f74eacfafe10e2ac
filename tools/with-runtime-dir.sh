#!/bin/sh
# Runs a program with Qt's runtime folder (XDG_RUNTIME_DIR) one of the
# caller's own:
#
#   tools/with-runtime-dir.sh BASE PROGRAM [ARGS...]
#
# The folder is BASE-<uid>, made private (0700) on first use. Qt takes a
# runtime folder only from its owner, and otherwise warns on every start,
# so each user who builds or tests a checkout (root and a normal user in
# turn) gets one of their own, whoever configured the build. A BASE-<uid>
# that is not a folder of the caller's (a link, or one another user made in
# its place) is never handed on: the program does not run.
set -u
if [ $# -lt 2 ]; then
    echo "usage: $0 BASE PROGRAM [ARGS...]" >&2
    exit 2
fi
uid=$(id -u) || exit 1
dir="$1-$uid"
shift
# The tests start side by side: another may make the folder first.
if [ ! -d "$dir" ] && ! err=$(mkdir -m 0700 "$dir" 2>&1) && [ ! -d "$dir" ]; then
    echo "$0: cannot make the runtime folder: $err" >&2
    exit 1
fi
if [ -L "$dir" ]; then
    echo "$0: the runtime folder $dir is a link; remove it" >&2
    exit 1
fi
if ! owner=$(stat -c %u "$dir") || ! mode=$(stat -c %a "$dir"); then
    echo "$0: cannot look at the runtime folder $dir" >&2
    exit 1
fi
if [ "$owner" != "$uid" ]; then
    echo "$0: the runtime folder $dir belongs to uid $owner, not to uid $uid; remove it" >&2
    exit 1
fi
if [ "$mode" != 700 ] && ! chmod 0700 "$dir"; then
    echo "$0: cannot make the runtime folder $dir private" >&2
    exit 1
fi
XDG_RUNTIME_DIR="$dir"
export XDG_RUNTIME_DIR
exec "$@"
