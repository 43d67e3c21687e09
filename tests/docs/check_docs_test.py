#!/usr/bin/python3
"""scripts/check-docs finds each kind of fault it is there for.

The project's README.md and doc/*.md are copied into a scratch tree, beside links to everything
else of the project; each case breaks one thing in the copies, and the check must fail, naming
the fault. The untouched copies must pass, so that a failure is the fault's and not the copy's.

usage: check_docs_test.py <project folder>
"""
import os
import shutil
import subprocess
import sys
import tempfile

# (page, text there, its replacement, what the check must say). The text must be in the page, so
# that no case passes by breaking nothing.
CASES = [
    ("README.md", "](doc/manual.md)", "](doc/manul.md)", "link doc/manul.md: no such file"),
    ("README.md", "(doc/screenshots/demo.png)", "(doc/screenshots/dmo.png)", "link doc/screenshots/dmo.png: no such file"),
    ("doc/manual.md", '<img src="screenshots/debugger.png"', '<img src="screenshots/debuger.png"',
     "link screenshots/debuger.png: no such file"),
    ("README.md", "(doc/manual.md#debugger)", "(doc/manual.md#debuger)", "no heading #debuger in doc/manual.md"),
    ("doc/manual.md", "(#pace)", "(#speed)", "no heading #speed in doc/manual.md"),
    ("README.md", "](doc/platforms.md)", "](/usr/share/doc/quenrik/doc/platforms.md)", "absolute link"),
    ("doc/web.md", "](../README.md#keys)", "](../../README.md#keys)", "leaves the project's folder"),
    ("README.md", "make run    ", "make runn   ", "make runn: the Makefile has no target runn"),
    ("README.md", "make build && sudo make install", "make build && sudo make instal",
     "make instal: the Makefile has no target instal"),
    ("doc/speed.md", "RUNS=5 FRAMES=1000 make bench", "RUNS=5 FRAMES=1000 make benchmark",
     "the Makefile has no target benchmark"),
    ("doc/platforms.md", "scripts/install-deps\n", "scripts/install-dep\n", "scripts/install-dep: not a program of the project"),
    ("doc/web.md", "python3 -m http.server", "python9 -m http.server", "python9: not a command the project knows"),
    ("doc/manual.md", "quenrik /usr/share/quenrik/demo.nes -s", "quenrik /usr/share/quenrik/demo.nes -s | frobnicate",
     "frobnicate: not a command the project knows"),
    ("doc/contributing.md", "`make test-plain`", "`make test-plane`", "the Makefile has no target test-plane"),
    ("doc/platforms.md", "`scripts/prepare-cross <architecture>", "`scripts/prepare-crosss <architecture>",
     "scripts/prepare-crosss: not a program of the project"),
    ("doc/speed.md", "`src/core/host.h`", "`src/core/hosts.h`", "src/core/hosts.h: no such file or folder"),
]


def run_check(root, *options):
    result = subprocess.run([sys.executable, os.path.join(root, "scripts", "check-docs"), *options, root],
                            capture_output=True, text=True)
    return result.returncode, result.stdout + result.stderr


def scratch_tree(project, work):
    """README.md and doc/*.md copied, everything else of the project linked."""
    root = os.path.join(work, "project")
    os.makedirs(os.path.join(root, "doc"))
    for name in os.listdir(project):
        if name not in ("README.md", "doc", ".git") and not name.startswith("build"):
            os.symlink(os.path.join(project, name), os.path.join(root, name))
    shutil.copy(os.path.join(project, "README.md"), root)
    for name in os.listdir(os.path.join(project, "doc")):
        source = os.path.join(project, "doc", name)
        if name.endswith(".md"):
            shutil.copy(source, os.path.join(root, "doc"))
        else:
            os.symlink(source, os.path.join(root, "doc", name))
    return root


def main(project):
    failures = 0
    with tempfile.TemporaryDirectory(prefix="quenrik-check-docs.") as work:
        root = scratch_tree(os.path.abspath(project), work)
        status, output = run_check(root)
        if status != 0:
            print(f"not ok - the untouched copies pass\n{output}")
            return 1
        print("ok - the untouched copies pass")
        for page, old, new, expected in CASES:
            path = os.path.join(root, page)
            with open(path, encoding="utf-8") as file:
                text = file.read()
            if old not in text:
                print(f"not ok - {page}: {old!r} is not there to break")
                failures += 1
                continue
            with open(path, "w", encoding="utf-8") as file:
                file.write(text.replace(old, new, 1))
            status, output = run_check(root)
            with open(path, "w", encoding="utf-8") as file:
                file.write(text)
            if status == 1 and expected in output:
                print(f"ok - {page}: {new.strip()!r} is reported")
            else:
                print(f"not ok - {page}: {new.strip()!r} gives status {status}, and not {expected!r}:\n{output}")
                failures += 1

        # Where the package unpacks the documents only the links are checked: a page left out of
        # it must fail, though nothing there knows the Makefile.
        os.remove(os.path.join(root, "doc", "speed.md"))
        status, output = run_check(root, "--links-only")
        if status == 1 and "link doc/speed.md: no such file" in output and "commands" not in output:
            print("ok - --links-only: a page missing is reported, and no command is judged")
        else:
            print(f"not ok - --links-only with doc/speed.md missing gives status {status}:\n{output}")
            failures += 1
    print(f"{len(CASES) + 2 - failures} of {len(CASES) + 2} passed")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: check_docs_test.py <project folder>")
    sys.exit(main(sys.argv[1]))
