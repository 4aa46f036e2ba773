#!/usr/bin/env python3
"""A call that an API-24 device lacks fails the Java layer's build: each
line below is planted in a class of java/'s package and compiled with the
options java/ is compiled with (given after "--"); the build must fail for
exactly the lines marked so. Prints one line per plant and "N passed, N
failed". Usage: api_level.py JAVAC CLASSPATH -- OPTION..."""
import os
import subprocess
import sys
import tempfile

# (what is planted, whether an API-24 build takes it)
PLANTS = [
    ("java.util.concurrent.Executor e = ((android.content.Context) null).getMainExecutor();", False),  # API 28
    ("android.app.NotificationChannel c = null;", False),  # API 26
    ("java.util.stream.Stream<Integer> s = java.util.Optional.of(1).stream();", False),  # Java 9
    ("java.util.List<String> l = java.util.List.of();", False),  # Java 9, API 30
    ("java.util.concurrent.Executor e = new android.os.Handler(android.os.Looper.getMainLooper())::post;", True),
    ("java.util.concurrent.CompletableFuture<Void> f = new java.util.concurrent.CompletableFuture<>();", True),
    ("java.util.List<String> l = new java.util.ArrayList<>(); boolean b = l.removeIf(s -> s.isEmpty());", True),
]


def main():
    javac, classpath = sys.argv[1], sys.argv[2]
    options = sys.argv[sys.argv.index("--") + 1:]
    passed = failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        for n, (line, takes) in enumerate(PLANTS):
            src = os.path.join(tmp, "Planted%d.java" % n)
            with open(src, "w") as f:
                f.write("package com.morvek.scanner;\n"
                        "final class Planted%d {\n    void planted() {\n        %s\n    }\n}\n" % (n, line))
            r = subprocess.run([javac, "-J-XX:-UsePerfData", "-d", tmp, "-cp", classpath] + options + [src],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            ok = (r.returncode == 0) == takes
            passed += ok
            failed += not ok
            print("%s %s: %s" % ("PASS" if ok else "FAIL", "builds" if takes else "fails the build", line))
            if not ok:
                print(r.stdout)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
