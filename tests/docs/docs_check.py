#!/usr/bin/env python3
"""Keeps README.md and docs/*.md true to the tree they describe.

  docs_check.py names --source DIR --build DIR --scanctl PATH --scan-sim PATH [--ninja] [--cc CC]
      Every repository path, build output, relative link (and its #anchor),
      scanctl command and option, scan-sim and scanbench option, SCANJNI_
      CMake option, ninja target and `ctest -R` pattern that the documents
      name must exist; a path run as a command must be executable; fenced
      blocks whose info string is "sh runnable" are run from the source
      directory with build/tools on PATH and must exit 0; blocks "c compile"
      are statements that must compile as C (with --cc) against core/.
  docs_check.py java --source DIR --build DIR --javac PATH --java PATH --bootclasspath CP
      Blocks "java compile" are whole source files: compiled against
      scanner.jar with Android's API-24 classes as the boot class path
      (CP) and the app's R class beside this script (activity/). Blocks
      "java run" are a unit test's body: compiled against both jars and
      the JUnit stand-ins, and run.
  docs_check.py activity --source DIR --out DIR
      Writes the README's Activity (its "java compile" block) under DIR,
      for the Activity's test under Robolectric.

Names that a document describes ahead of the tree (a rework on another
branch) are listed in pending.txt beside this script; such a name that
exists by now is an error too, so that the list is emptied on merge.
Prints one line per problem and "N passed, N failed" at the end.
"""
import argparse
import glob
import os
import re
import shlex
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO_DIRS = ("core", "jni", "java", "java-fake", "ktx", "platform", "tools", "tests",
             "bench", "cmake", "scripts", "docs")
# A repository path: one of the top folders or top files, not inside
# another path (build/tools/... is a build output, checked on its own).
PATH_RE = re.compile(r"(?<![\w./$<>-])(?:libscanjni/)?((?:%s)/[\w./+-]*|CMakeLists\.txt|README\.md|CHANGELOG\.md)"
                     % "|".join(re.escape(d) for d in REPO_DIRS))
BUILD_RE = re.compile(r"(?<![\w./$<>-])build/([\w./+-]+)")
LINK_RE = re.compile(r"\]\(([^)\s]+)\)")
SPAN_RE = re.compile(r"`([^`]+)`")
CMAKE_D_RE = re.compile(r"-D([A-Z][A-Z0-9_]*)")
CMAKE_NAME_RE = re.compile(r"^SCANJNI_[A-Z0-9_]+$")
FENCE_RE = re.compile(r"^(\s*)```(.*)$")


class Report:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, ok, where, what):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print("FAIL %s: %s" % (where, what))

    def close(self):
        print("%d passed, %d failed" % (self.passed, self.failed))
        return 0 if self.failed == 0 and self.passed > 0 else 1


def documents(source):
    return [os.path.join(source, "README.md")] + sorted(glob.glob(os.path.join(source, "docs", "*.md")))


def parse(path):
    """Yields (line number, kind, text, info): kind "prose" or "code"; info
    is the fence's info string for code lines."""
    in_code = False
    info = ""
    with open(path, encoding="utf-8") as f:
        for n, line in enumerate(f, 1):
            line = line.rstrip("\n")
            m = FENCE_RE.match(line)
            if m:
                in_code = not in_code
                info = m.group(2).strip() if in_code else ""
                continue
            yield n, ("code" if in_code else "prose"), line, info


def blocks(path):
    """The fenced blocks of a document: (first line number, info, text)."""
    out = []
    current = None
    for n, kind, text, info in parse(path):
        if kind == "code":
            if current is None or current[0] != info or current[2] != n - 1:
                current = [info, n, n, []]
                out.append(current)
            current[3].append(text)
            current[2] = n
        else:
            current = None
    return [(c[1], c[0], "\n".join(c[3]) + "\n") for c in out]


def command_texts(path):
    """The texts in which commands are named: code lines (continuations
    joined) and backtick spans of prose, with their line numbers."""
    pending = None
    for n, kind, text, _ in parse(path):
        if kind == "code":
            if pending is not None:
                text = pending[1] + " " + text.strip()
                n = pending[0]
            if text.rstrip().endswith("\\"):
                pending = (n, text.rstrip()[:-1])
                continue
            pending = None
            yield n, "code", text
        else:
            pending = None
            for span in SPAN_RE.findall(text):
                yield n, "span", span


def tokens(text):
    """Shell words of a line, and again of every quoted word within it."""
    try:
        words = shlex.split(text, comments=True)
    except ValueError:
        words = text.split()
    out = []
    for w in words:
        out.append(w)
        if " " in w:
            out.extend(tokens(w))
    return out


def help_text(cmd):
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=30)
    return r.stdout


def heading_anchors(path):
    anchors = set()
    for _, kind, text, _ in parse(path):
        if kind == "prose" and text.startswith("#"):
            title = text.lstrip("#").strip().lower()
            title = re.sub(r"[^\w\- ]", "", title)
            anchors.add(title.replace(" ", "-"))
    return anchors


def load_pending():
    pending = set()
    with open(os.path.join(HERE, "pending.txt"), encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                kind, name = line.split(None, 1)
                pending.add((kind, name))
    return pending


def check_names(args, report):
    source = args.source
    scanctl_help = help_text([args.scanctl, "--help"])
    commands = set(re.findall(r"^  ([a-z][a-z-]*)\s", scanctl_help, re.M))
    replay_help = help_text([args.scanctl, "replay", "--help"])
    sim_help = help_text([args.scan_sim, "--help"])
    bench_src = "".join(open(p, encoding="utf-8").read() for p in glob.glob(os.path.join(source, "bench", "*.cpp")))
    options = {
        "scanctl": set(re.findall(r"--[a-z][a-z-]*", scanctl_help)) | {"--help"},
        "replay": set(re.findall(r"--[a-z][a-z-]*", replay_help)) | {"--help"},
        "scan-sim": set(re.findall(r"--[a-z][a-z-]*", sim_help)),
        "scanbench": set(re.findall(r'"(--[a-z][a-z-]*)"', bench_src)),
    }
    every_option = set().union(*options.values())
    cmake_files = [os.path.join(source, "CMakeLists.txt")]
    for d in REPO_DIRS:
        cmake_files += glob.glob(os.path.join(source, d, "**", "CMakeLists.txt"), recursive=True)
        cmake_files += glob.glob(os.path.join(source, d, "**", "*.cmake"), recursive=True)
    cmake_text = "".join(open(p, encoding="utf-8").read() for p in cmake_files)
    targets = None
    if args.ninja:
        out = help_text(["ninja", "-C", args.build, "-t", "targets", "all"])
        targets = {line.split(":", 1)[0] for line in out.splitlines()}
    pending = load_pending()
    used_pending = set()

    def named(kind, name, ok, where, what):
        if (kind, name) in pending:
            used_pending.add((kind, name))
            report.check(not ok, where, "%s is in tests/docs/pending.txt but exists now: "
                                        "take it off the list" % name)
        else:
            report.check(ok, where, what)

    for doc in documents(source):
        rel = os.path.relpath(doc, source)
        doc_dir = os.path.dirname(doc)
        for n, kind, text, _ in parse(doc):
            where = "%s:%d" % (rel, n)
            for m in PATH_RE.finditer(text):
                p = m.group(1).rstrip(".,:;")
                named("path", p, os.path.exists(os.path.join(source, p)), where, "no file or folder %s" % p)
            for m in BUILD_RE.finditer(text):
                p = m.group(1).rstrip(".,:;")
                named("build", p, os.path.exists(os.path.join(args.build, p)), where,
                      "the build makes no %s" % ("build/" + p))
            if kind == "prose":
                for target in LINK_RE.findall(text):
                    if re.match(r"^[a-z]+:", target):
                        continue
                    file_part, _, anchor = target.partition("#")
                    linked = os.path.normpath(os.path.join(doc_dir, file_part)) if file_part else doc
                    exists = os.path.exists(linked)
                    report.check(exists, where, "link to a missing %s" % file_part)
                    if exists and anchor and linked.endswith(".md"):
                        report.check(anchor in heading_anchors(linked), where,
                                     "no heading #%s in %s" % (anchor, os.path.relpath(linked, source)))
        for n, kind, text in command_texts(doc):
            where = "%s:%d" % (rel, n)
            words = tokens(text)
            for m in CMAKE_D_RE.finditer(text):
                name = m.group(1)
                if name.startswith("SCANJNI_"):
                    named("cmake", name, re.search(r"\b%s\b" % name, cmake_text) is not None, where,
                          "no CMake option %s" % name)
            if CMAKE_NAME_RE.match(text.strip()):
                name = text.strip()
                named("cmake", name, re.search(r"\b%s\b" % name, cmake_text) is not None, where,
                      "no CMake option %s" % name)
            if text.startswith("--") and len(words) > 0 and words[0] != "--":
                opt = words[0].split("=", 1)[0].strip("[],")
                named("option", opt, opt in every_option, where, "no tool has the option %s" % opt)
            check_words(words, where, commands, options, targets, args, report, named)
            if kind == "code" and words and PATH_RE.fullmatch(words[0]) and words[0].endswith(".sh"):
                p = os.path.join(source, words[0])
                if os.path.exists(p):
                    report.check(os.access(p, os.X_OK), where, "%s is run as a command but is not executable"
                                 % words[0])
        for line, info, body in blocks(doc):
            if info == "sh runnable":
                run_block(args, "%s:%d" % (rel, line), body, report)
            elif info == "c compile" and args.cc:
                compile_c(args, "%s:%d" % (rel, line), body, report)
    for kind, name in sorted(pending - used_pending):
        report.check(False, "tests/docs/pending.txt", "%s %s is named by no document: take it off the list"
                     % (kind, name))


def check_words(words, where, commands, options, targets, args, report, named):
    for i, w in enumerate(words):
        prog = os.path.basename(w.rstrip(",;"))
        rest = words[i + 1:]
        if prog == "scanctl" and w.rstrip(",;") == w and rest:
            sub = rest[0].strip("[],;")
            if sub.startswith("-"):
                named("option", sub, sub in options["scanctl"], where, "scanctl has no option %s" % sub)
            elif re.fullmatch(r"[a-z][a-z-]*", sub):
                report.check(sub in commands or sub == "replay", where, "scanctl has no command %s" % sub)
                if sub == "replay":
                    for opt in rest[1:]:
                        opt = opt.strip("[],")
                        if opt.startswith("--") and len(opt) > 2:
                            named("option", opt, opt in options["replay"], where,
                                  "scanctl replay has no option %s" % opt)
        elif prog in ("scan-sim", "scanbench") and w.rstrip(",;") == w:
            for opt in rest:
                if opt == "--":
                    break
                opt = opt.strip("[],").split("=", 1)[0]
                if opt.startswith("--") and len(opt) > 2:
                    named("option", opt, opt in options[prog], where, "%s has no option %s" % (prog, opt))
        elif prog == "ninja" and targets is not None and "-C" in rest:
            after = rest[rest.index("-C") + 2:]
            for t in after:
                if t in ("&&", "||", ";", "|", ">", "2>"):
                    break
                if not t.startswith("-") and re.fullmatch(r"[\w.-]+", t):
                    report.check(t in targets, where, "ninja has no target %s" % t)
        elif prog == "ctest" and "-R" in rest[:-1]:
            pattern = rest[rest.index("-R") + 1]
            out = subprocess.run(["ctest", "-N", "-R", pattern], cwd=args.build, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, text=True, timeout=120).stdout
            m = re.search(r"Total Tests: (\d+)", out)
            report.check(m is not None and int(m.group(1)) > 0, where, "ctest -R %s finds no test" % pattern)


def run_block(args, where, body, report):
    env = dict(os.environ)
    env["PATH"] = os.path.join(args.build, "tools") + os.pathsep + env.get("PATH", "")
    env["HOSTLOG_QUIET"] = "1"
    r = subprocess.run(["sh", "-e", "-c", body], cwd=args.source, env=env, stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, text=True, timeout=120)
    report.check(r.returncode == 0, where, "runnable block exited %d:\n%s%s" % (r.returncode, body, r.stdout))


def compile_c(args, where, body, report):
    """A block of C statements, compiled as a function's body against the
    public headers, as an app's C code would include them."""
    src = '#include "scansession.h"\n\nvoid documented_example(void)\n{\n%s}\n' % body
    r = subprocess.run([args.cc, "-std=c11", "-Wall", "-Wextra", "-Werror", "-fsyntax-only",
                        "-I", os.path.join(args.source, "core"), "-x", "c", "-"], input=src,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=60)
    report.check(r.returncode == 0, where, "does not compile as C:\n" + r.stdout)


def java_sources(folder):
    return sorted(glob.glob(os.path.join(HERE, folder, "**", "*.java"), recursive=True))


def check_java(args, report):
    scanner_jar = os.path.join(args.build, "scanner.jar")
    fake_jar = os.path.join(args.build, "scanner-fake.jar")
    found = 0
    kinds = set()
    with tempfile.TemporaryDirectory() as tmp:
        for doc in documents(args.source):
            rel = os.path.relpath(doc, args.source)
            for line, info, body in blocks(doc):
                where = "%s:%d" % (rel, line)
                if info.startswith("java "):
                    kinds.add(info)
                if info == "java compile":
                    found += 1
                    out = os.path.join(tmp, "compile%d" % found)
                    cls = re.search(r"public class (\w+)", body)
                    pkg = re.search(r"^package ([\w.]+);", body, re.M)
                    report.check(cls is not None, where, "a compiled block holds a public class")
                    if cls is None:
                        continue
                    src_dir = os.path.join(out, "src", *(pkg.group(1).split(".") if pkg else []))
                    os.makedirs(src_dir)
                    src = os.path.join(src_dir, cls.group(1) + ".java")
                    with open(src, "w", encoding="utf-8") as f:
                        f.write(body)
                    r = javac(args, out, scanner_jar, java_sources("activity/com") + [src],
                              ["-source", "8", "-target", "8", "-bootclasspath", args.bootclasspath])
                    report.check(r.returncode == 0, where, "does not compile:\n" + r.stdout)
                elif info == "java run":
                    found += 1
                    out = os.path.join(tmp, "run%d" % found)
                    name = "DocumentedTest%d" % found
                    os.makedirs(out)
                    src = os.path.join(out, name + ".java")
                    with open(src, "w", encoding="utf-8") as f:
                        f.write("import com.morvek.scanner.*;\nimport java.util.concurrent.*;\n"
                                "import static org.junit.Assert.*;\n\npublic class %s {\n"
                                "    public static void main(String[] args) throws Exception {\n%s"
                                "        System.exit(0);\n    }\n}\n" % (name, body))
                    cp = scanner_jar + os.pathsep + fake_jar
                    r = javac(args, out, cp, java_sources("junit-stubs") + [src])
                    report.check(r.returncode == 0, where, "does not compile:\n" + r.stdout)
                    if r.returncode == 0:
                        r = subprocess.run([args.java, "-XX:-UsePerfData", "-cp", cp + os.pathsep + out, name],
                                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                           timeout=60)
                        report.check(r.returncode == 0, where, "fails when run:\n" + r.stdout)
    report.check(kinds == {"java compile", "java run"}, "README.md and docs/",
                 "the Activity (a \"java compile\" block) or the unit test (\"java run\") went unchecked")


def javac(args, out, classpath, sources, target=("--release", "8")):
    return subprocess.run([args.javac] + list(target) + ["-Xlint:all", "-Werror", "-d", out, "-cp", classpath]
                          + sources, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)


def write_activity(args, report):
    """The README's Activity, as a source file under args.out."""
    path = os.path.join(args.source, "README.md")
    found = [(line, body) for line, info, body in blocks(path) if info == "java compile"]
    report.check(len(found) == 1, "README.md", "one Activity (a \"java compile\" block)")
    for _, body in found[:1]:
        cls = re.search(r"public class (\w+)", body).group(1)
        pkg = re.search(r"^package ([\w.]+);", body, re.M).group(1)
        folder = os.path.join(args.out, *pkg.split("."))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, cls + ".java"), "w", encoding="utf-8") as f:
            f.write(body)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("mode", choices=["names", "java", "activity"])
    ap.add_argument("--source", required=True)
    ap.add_argument("--build")
    ap.add_argument("--out")
    ap.add_argument("--bootclasspath")
    ap.add_argument("--scanctl")
    ap.add_argument("--scan-sim")
    ap.add_argument("--ninja", action="store_true")
    ap.add_argument("--cc")
    ap.add_argument("--javac")
    ap.add_argument("--java")
    args = ap.parse_args()
    report = Report()
    if args.mode == "names":
        check_names(args, report)
    elif args.mode == "java":
        check_java(args, report)
    else:
        write_activity(args, report)
    return report.close()


if __name__ == "__main__":
    sys.exit(main())
