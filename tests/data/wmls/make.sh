#!/bin/sh
# The compiled units beside each source come from Kannel's WMLScript compiler
# (Debian package kannel): wmlsc NAME.wmls writes NAME.wmlsc. The build
# compiles them again when wmlsc is installed; these copies serve otherwise.
set -e
cd "$(dirname "$0")"
for f in *.wmls; do wmlsc "$f"; done
