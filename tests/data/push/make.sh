#!/bin/sh
# Writes the push test documents and compiles each with xml2wbxml (Debian 12
# package libwbxml2-utils, libwbxml 0.11.8, default options):
#   xml2wbxml -o NAME.wbxml NAME.xml
# and the local-content bodies with Python's email.mime (make_lc.py).
set -e
cd "$(dirname "$0")"
si() { # name action si-id created expires text [href]
  href=${7:-http://www.example.com/news/today.wml}
  attrs="href=\"$href\""
  [ -n "$3" ] && attrs="$attrs si-id=\"$3\""
  [ -n "$4" ] && attrs="$attrs created=\"$4\""
  [ -n "$5" ] && attrs="$attrs si-expires=\"$5\""
  [ -n "$2" ] && attrs="$attrs action=\"$2\""
  cat > "$1.xml" <<XML
<?xml version="1.0"?>
<!DOCTYPE si PUBLIC "-//WAPFORUM//DTD SI 1.0//EN" "http://www.wapforum.org/DTD/si.dtd">
<si>
  <indication $attrs>$6</indication>
</si>
XML
}
sl() { # name action href
  attrs="href=\"$3\""
  [ -n "$2" ] && attrs="$attrs action=\"$2\""
  cat > "$1.xml" <<XML
<?xml version="1.0"?>
<!DOCTYPE sl PUBLIC "-//WAPFORUM//DTD SL 1.0//EN" "http://www.wapforum.org/DTD/sl.dtd">
<sl $attrs/>
XML
}
si si_delete delete news-42 "" "" "gone"
si si_none signal-none news-42 "" "" "quiet"
si si_low signal-low low-1 "" "" "Low news"
si si_medium signal-medium "" "" "" "Medium news"
si si_high signal-high news-42 2004-05-01T12:30:00Z 2045-01-01T00:00:00Z "High news"
si si_default "" news-42 2004-06-01T00:00:00Z "" "Default news" https://www.example.org/a
si si_older signal-low news-42 2003-01-01T00:00:00Z "" "Older news"
si si_newer signal-low news-42 2005-01-01T00:00:00Z "" "Newer news"
si si_same signal-low news-42 2004-05-01T12:30:00Z "" "Same-day news"
si si_undated signal-low news-42 "" "" "Undated news"
si si_expired signal-high old-1 "" 2005-01-01T00:00:00Z "Expired news"
si si_notext signal-high empty-1 "" "" ""
si si_hxp signal-medium hxp/sports.scores "" "" "Scores"
si si_query signal-low q-1 "" "" "Query news" "http://x.org/a?b=1&amp;c=2#top+x"
sl sl_cache cache http://www.example.com/app.wmlc
sl sl_low "" http://www.example.com/app.wmlc
sl sl_high execute-high http://www.example.com/app.wmlc
sl sl_https execute-low https://www.example.org/x
for f in *.xml; do xml2wbxml -o "${f%.xml}.wbxml" "$f"; done
python3 make_lc.py
