#!/bin/sh
# Stops a build script before CMake runs when a build folder it uses is not
# the caller's to write:
#
#   tools/check-build-folders.sh NAME WHAT DIR...
#
# A folder another user made (root, who ran the script first in a normal
# user's checkout) leaves CMake with a screen of errors that do not say why.
# Looked at: each DIR and its CMakeFiles, the folders every configure writes
# new files into (it replaces CMakeCache.txt and the rest by a rename, which
# needs only the folder, whoever owns the old file). When one cannot be
# written, one line on stderr, beginning with NAME, says whose it is and
# what to do (WHAT is what could be run as its owner instead), and the
# status is 1. Root writes anywhere and is never stopped.
set -u
if [ $# -lt 3 ]; then
    echo "usage: $0 NAME WHAT DIR..." >&2
    exit 2
fi
name=$1
what=$2
shift 2
uid=$(id -u) || exit 1
[ "$uid" = 0 ] && exit 0

# The path named is the first of another user's, else the first that
# cannot be written.
first=""
first_owner=""
others=""
unwritable=0
folders=""
count=0
for dir in "$@"; do
    for path in "$dir" "$dir/CMakeFiles"; do
        [ -e "$path" ] && [ ! -w "$path" ] || continue
        owner=$(stat -c %u "$path") || exit 1
        if [ "$owner" = "$uid" ]; then
            unwritable=1
            [ -n "$first" ] || first=$path
        else
            case " $others " in *" $owner "*) ;; *) others="${others:+$others }$owner" ;; esac
            if [ -z "$first_owner" ]; then
                first=$path
                first_owner=$owner
            fi
        fi
        folders="${folders:+$folders }$dir"
        count=$((count + 1))
        break
    done
done
[ -n "$first" ] || exit 0
first="$first/"
folder="the folder"
[ "$count" -gt 1 ] && folder="the folders"
if [ -z "$first_owner" ]; then
    echo "$name: $first cannot be written: remove $folder (rm -rf $folders) or make it writable" >&2
    exit 1
fi
user=$(stat -c %U "${first%/}")
[ "$user" = UNKNOWN ] && user="uid $first_owner"
line="$name: $first belongs to $user: remove $folder (sudo rm -rf $folders)"
# Running as that user helps only where they can write every folder named.
if [ "$first_owner" = 0 ] || { [ "$others" = "$first_owner" ] && [ "$unwritable" = 0 ]; }; then
    line="$line or run $what as $user"
fi
echo "$line" >&2
exit 1
