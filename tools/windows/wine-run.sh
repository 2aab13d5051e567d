#!/bin/sh
# Runs a Windows program under Wine with this machine's absolute paths among its arguments turned into
# Wine's Z: drive paths, so that a Linux test can hand it the same paths it would hand a Linux program.
#   wine-run.sh PROGRAM.exe [ARG...]
program=$1
shift
for arg in "$@"; do
  case $arg in
    /*) arg="Z:$(printf '%s' "$arg" | tr '/' '\\')" ;;
  esac
  set -- "$@" "$arg"
  shift
done
exec wine "$program" "$@"
