#!/bin/sh
# Runs a Windows program under Wine, quietly, without Mono or Gecko prompts.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
exec wine "$@"
