#!/bin/sh
# Fails when a C++ source of the project is not formatted as .clang-format says.
set -eu
cd "$1"
files=$(git ls-files '*.cpp' '*.h')
clang-format --dry-run -Werror $files
