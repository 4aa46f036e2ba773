#!/usr/bin/env python3
"""Writes the Java 8 API as a jar of class files, from the JDK's ct.sym (the
signatures behind javac --release): what javac takes, beside Android's
android-all jar, as the boot class path when -bootclasspath rules out
--release. Usage: java8_api_jar.py <ct.sym> <out.jar>"""
import sys
import zipfile

RELEASE = "8"


def main(ct_sym, out):
    with zipfile.ZipFile(ct_sym) as src, zipfile.ZipFile(out + ".tmp", "w", zipfile.ZIP_DEFLATED) as dst:
        seen = set()
        for name in sorted(src.namelist()):
            parts = name.split("/")
            # <releases>/<module>/<package path>/<Class>.sig; the releases
            # folder names every release that has this version of the class.
            if len(parts) < 3 or RELEASE not in parts[0] or not name.endswith(".sig"):
                continue
            path = "/".join(parts[2:])[:-len(".sig")] + ".class"
            if path not in seen:
                seen.add(path)
                dst.writestr(zipfile.ZipInfo(path, (1980, 2, 1, 0, 0, 0)), src.read(name))
    import os
    os.replace(out + ".tmp", out)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
