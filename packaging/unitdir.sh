#!/bin/sh
# Prints where this Debian release's packages put systemd system units:
# /lib/systemd/system up to Debian 12, /usr/lib/systemd/system from 13 on
# (the merged /usr, whose lintian rejects /lib). systemd.pc tells where it is
# installed; otherwise the release in /etc/os-release (Debian and its
# derivatives that keep its numbers, such as Raspberry Pi OS).
dir=$(pkg-config --variable=systemdsystemunitdir systemd 2>/dev/null)
if [ -z "$dir" ]; then
    dir=/lib/systemd/system
    # shellcheck disable=SC1091
    if [ -r /etc/os-release ] && . /etc/os-release && [ "${VERSION_ID%%.*}" -ge 13 ] 2>/dev/null; then
        case " $ID ${ID_LIKE:-} " in *" debian "* | *" raspbian "*) dir=/usr/lib/systemd/system ;; esac
    fi
fi
echo "$dir"
