#!/usr/bin/env python3
"""The README's first command builds every program that its Install section lists.

    deps.py SOURCE_DIR

Checks, reading the files alone (nothing is installed or built):

  - the README's build command starts with `./tools/install-deps --build`;
  - the programs the Install section names are those the build makes
    (every tsumiki_program(TARGET) of the build's CMake files);
  - every optional dependency of the build, each `find_package(NAME ...
    QUIET)` and `pkg_check_modules(VAR QUIET ... MODULE)` outside the tests
    and the playground, is one whose Debian package `tools/install-deps
    --build` installs, or one that changes only where files go.  A new
    optional dependency fails here until it is named below.
"""
import glob
import os
import re
import sys

# What each optional dependency brings to the build, and its Debian package.
BUILDS_WITH = {
    "asmjit": ("libasmjit-dev", "the native tier"),
    "nlohmann_json": ("nlohmann-json3-dev", "tsumiki-judge, tsumiki-lsp and tsumiki-dap"),
    "PkgConfig": ("pkg-config", "finding libedit"),
    "libedit": ("libedit-dev", "the debugger's line editing"),
}
# Optional dependencies that change no program, only where a file goes or
# what the package says.
NOT_BUILT = {
    "bash-completion": "where the completions are installed",
    "Git": "the package maintainer's name",
}


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def build_files(source_dir):
    files = [os.path.join(source_dir, "CMakeLists.txt")]
    files += sorted(glob.glob(os.path.join(source_dir, "cmake", "*.cmake")))
    for path in sorted(glob.glob(os.path.join(source_dir, "src", "*", "CMakeLists.txt"))):
        if os.path.basename(os.path.dirname(path)) != "web":  # the playground's own build
            files.append(path)
    return files


def optional_dependencies(text):
    names = re.findall(r"find_package\((\w+)[^)]*\bQUIET\b", text)
    for args in re.findall(r"pkg_check_modules\(([^)]*)\)", text):
        words = args.split()
        if "QUIET" in words:
            names += [w for w in words[1:] if w not in ("QUIET", "REQUIRED", "IMPORTED_TARGET")]
    return names


def main():
    source_dir = sys.argv[1]
    failures = []
    readme = read(os.path.join(source_dir, "README.md"))
    deps = read(os.path.join(source_dir, "tools", "install-deps"))

    build = re.search(r"^    (.*cmake --preset release.*)$", readme, re.M)
    if not build or not build.group(1).startswith("./tools/install-deps --build && "):
        failures.append("README.md: the build command does not start with ./tools/install-deps --build")

    listed = re.search(r"This installs the programs (.*?) into `bin`", readme, re.S)
    listed = set(re.findall(r"`([\w-]+)`", listed.group(1))) if listed else set()
    texts = {path: read(path) for path in build_files(source_dir)}
    built = set()
    for text in texts.values():
        built.update(re.findall(r"^tsumiki_program\(([\w-]+)", text, re.M))
    if listed != built:
        failures.append(f"README.md's Install section lists {sorted(listed)}, the build makes {sorted(built)}")

    packages = re.search(r"^build_packages=\(([^)]*)\)", deps, re.M)
    packages = set(packages.group(1).split()) if packages else set()
    for path, text in texts.items():
        for name in optional_dependencies(text):
            where = os.path.relpath(path, source_dir)
            if name in NOT_BUILT:
                continue
            if name not in BUILDS_WITH:
                failures.append(f"{where}: {name} is a dependency this test does not know: name it in deps.py")
                continue
            package, brings = BUILDS_WITH[name]
            if package not in packages:
                failures.append(f"{where}: {name} ({brings}) comes from {package}, "
                                "which tools/install-deps --build does not install")
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
