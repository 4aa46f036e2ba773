#!/usr/bin/env python3
"""Checks a prefab package, the prefab/ directory of an Android library
archive, against the layout that the Android Gradle plugin's native
dependencies read (schema version 2):

  prefab.json                            schema_version (int, 2), name,
                                         dependencies (list of names),
                                         version (optional, dotted numbers)
  modules/<module>/module.json           export_libraries, library_name,
                                         android {export_libraries,
                                         library_name}, all optional
  modules/<module>/include/              the headers
  modules/<module>/libs/android.<abi>/   abi.json (abi, api, ndk, stl,
                                         static) and the library

and against what this library ships: one package and module "scanjni",
the headers scanjni.h and scansession.h, libscanjni.so for armeabi-v7a
and arm64-v8a at API 24, no C++ runtime, shared.
Prints one "ok: ..." or "FAILED: ..." line per check.
  prefab_check.py PREFAB-DIR VERSION
"""
import json
import os
import re
import sys

PACKAGE = "scanjni"
ABIS = ["arm64-v8a", "armeabi-v7a"]
API = 24
HEADERS = ["scanjni.h", "scansession.h"]
STLS = ["c++_shared", "c++_static", "none", "system"]
# CMake's version format, which the package's version must fit.
VERSION_FORMAT = re.compile(r"^[0-9]+(\.[0-9]+){0,3}$")

results = []


def check(what, problem):
    results.append(("FAILED: %s: %s" % (what, problem)) if problem else "ok: " + what)


def is_int(v):
    return isinstance(v, int) and not isinstance(v, bool)


def is_names(v):
    return isinstance(v, list) and all(isinstance(n, str) for n in v)


# Field types: a field that is required is marked with True.
PREFAB_FIELDS = {"schema_version": (is_int, True), "name": (lambda v: isinstance(v, str), True),
                 "dependencies": (is_names, True), "version": (lambda v: isinstance(v, str), False)}
LIBRARY_FIELDS = {"export_libraries": (is_names, False),
                  "library_name": (lambda v: isinstance(v, str), False)}
MODULE_FIELDS = dict(LIBRARY_FIELDS, android=(lambda v: isinstance(v, dict), False))
ABI_FIELDS = {"abi": (lambda v: isinstance(v, str), True), "api": (is_int, True),
              "ndk": (is_int, True), "stl": (lambda v: isinstance(v, str), True),
              "static": (lambda v: isinstance(v, bool), True)}


def fields_problem(obj, fields):
    """What is wrong with the object's fields: unknown, missing, mistyped."""
    if not isinstance(obj, dict):
        return "not an object"
    problems = ["unknown field " + k for k in sorted(obj) if k not in fields]
    for k, (typed, required) in sorted(fields.items()):
        if k not in obj:
            if required:
                problems.append("no " + k)
        elif not typed(obj[k]):
            problems.append("%s of the wrong type: %r" % (k, obj[k]))
    return "; ".join(problems)


def load(path):
    """The JSON file's object, or None after a failed check."""
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError) as e:
        check(path, str(e))
        return None


def listing(path):
    return sorted(os.listdir(path)) if os.path.isdir(path) else []


def main(prefab, version):
    meta = load(os.path.join(prefab, "prefab.json"))
    if meta is not None:
        check("prefab.json fields", fields_problem(meta, PREFAB_FIELDS))
        wanted = {"schema_version": 2, "name": PACKAGE, "version": version, "dependencies": []}
        check("prefab.json values", "" if meta == wanted else "expected %r, got %r" % (wanted, meta))
        check("prefab.json version in CMake's format",
              "" if VERSION_FORMAT.match(str(meta.get("version"))) else repr(meta.get("version")))
    check("prefab modules", "" if listing(os.path.join(prefab, "modules")) == [PACKAGE]
          else repr(listing(os.path.join(prefab, "modules"))))

    module = os.path.join(prefab, "modules", PACKAGE)
    library = "lib" + PACKAGE
    meta = load(os.path.join(module, "module.json"))
    if meta is not None:
        check("module.json fields", fields_problem(meta, MODULE_FIELDS))
        check("module.json android fields", fields_problem(meta.get("android", {}), LIBRARY_FIELDS))
        library = meta.get("android", {}).get("library_name", meta.get("library_name", library))
        check("module.json exports no other library",
              "" if not meta.get("export_libraries") else repr(meta["export_libraries"]))
    check("module headers", "" if listing(os.path.join(module, "include")) == HEADERS
          else repr(listing(os.path.join(module, "include"))))
    check("module ABIs", "" if listing(os.path.join(module, "libs")) == ["android." + a for a in ABIS]
          else repr(listing(os.path.join(module, "libs"))))

    for abi in ABIS:
        d = os.path.join(module, "libs", "android." + abi)
        check("%s: files abi.json and %s.so" % (abi, library),
              "" if listing(d) == sorted(["abi.json", library + ".so"]) else repr(listing(d)))
        meta = load(os.path.join(d, "abi.json"))
        if meta is None:
            continue
        check(abi + ": abi.json fields", fields_problem(meta, ABI_FIELDS))
        problems = []
        if meta.get("abi") != abi:
            problems.append("abi %r" % meta.get("abi"))
        if meta.get("api") != API:
            problems.append("api %r" % meta.get("api"))
        if meta.get("stl") not in STLS:
            problems.append("stl %r not one of %s" % (meta.get("stl"), STLS))
        elif meta.get("stl") != "none":
            problems.append("stl %r, but the library uses no C++ runtime" % meta.get("stl"))
        if meta.get("static") is not False:
            problems.append("static %r for a shared library" % meta.get("static"))
        if not is_int(meta.get("ndk")) or meta["ndk"] < 1:
            problems.append("ndk %r is not an NDK major version" % meta.get("ndk"))
        check(abi + ": abi.json values", "; ".join(problems))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
    print("\n".join(results))
