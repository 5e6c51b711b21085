#!/bin/sh
# What the packages strip their programs with (CMAKE_STRIP): the symbols, and
# the sections Debian's own tooling drops as well (compiler ident strings).
exec strip --remove-section=.comment --remove-section=.note "$@"
