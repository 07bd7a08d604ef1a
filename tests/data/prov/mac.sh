#!/bin/sh
# The MACs of ../wbxml/prov.wbxml under the keys each security method takes:
# the device identifier "12345678" (the emulated host's), the user PIN
# "1234", both, and for the PIN-MAC method the first half "1234" of the
# PIN, whose second half is the first four MAC bytes modulo 10; and an
# 80-digit user PIN ("1234567890" eight times).
# Writes macs.txt: one "method mac" line each.
doc=../wbxml/prov.wbxml
mac() { openssl dgst -sha1 -mac HMAC -macopt "key:$1" "$doc" | sed 's/.*= //'; }
{
  echo "netwpin $(mac 12345678)"
  echo "userpin $(mac 1234)"
  echo "usernetwpin $(mac 123456781234)"
  m=$(mac 1234)
  digits=$(echo "$m" | cut -c1-8 | sed 's/../& /g' | while read a b c d; do
    for x in $a $b $c $d; do printf '%d' $((0x$x % 10)); done; done)
  echo "userpinmac 1234$digits"
  echo "longpin $(mac 12345678901234567890123456789012345678901234567890123456789012345678901234567890)"
} > macs.txt
