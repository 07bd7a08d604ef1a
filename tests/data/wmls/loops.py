#!/usr/bin/env python3
# Writes loops.wmls: counted loops "for (...; TEST; i++)" with every form of
# test against a variable and against constants, in functions of 2, 17 and
# 40 variables. The loop variable i is variable 0 and k variable 1; the
# others hold integers 1000 and up, so that an operand read from the wrong
# variable changes the count. Each function returns i after its loop.
# python3 loops.py > loops.wmls, then wmlsc loops.wmls (see make.sh).

FORMS = [
    # name, k, start of i, test, body
    ("ltVar", 5, 0, "i < k", ""),
    ("leVar", 4, 0, "i <= k", ""),
    ("gtVar", 5, 0, "k > i", ""),
    ("ltVarRev", -5, 0, "i > k", "if (i == 6) break;"),
    ("neVar", 5, 0, "i != k", ""),
    ("ltConst", 0, 0, "i < 5", ""),
    ("leConst", 0, 0, "i <= 4", ""),
    ("gtConst", 0, 0, "i > -1", "if (i == 4) break;"),
    ("neConst", 0, 0, "i != 5", ""),
    ("ltZero", 0, -3, "i < 0", ""),
    ("gtZero", 0, 1, "i > 0", "if (i == 5) break;"),
    ("neOne", 0, -4, "i != 1", ""),
    ("leOne", 0, -2, "i <= 1", ""),
    ("eqOne", 0, 1, "i == 1", ""),
]
# Last, so that their bounds come after the 38 filler constants and are
# loaded with LOAD_CONST rather than LOAD_CONST_S.
WIDE = [
    ("ltWide", 0, 100, "i < 105", ""),
    ("neWide", 0, 100, "i != 106", ""),
]

print("// Made by loops.py: counted loops with every form of test.")
for name, k, start, test, body in FORMS + WIDE:
    for count in (2, 17, 40):
        fillers = "".join(" var v%d = %d;" % (n, 1000 + n) for n in range(2, count))
        print("extern function %s%d() { var i; var k = %d;%s" % (name, count, k, fillers))
        print("  for (i = %d; %s; i++) { %s }" % (start, test, body))
        print("  return i;")
        print("}")
