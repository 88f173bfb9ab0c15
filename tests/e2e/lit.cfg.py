# lit configuration of the end-to-end tests.  Each test is a small program
# with its input and expected output, split out of the .test file by
# split-file and run through check.py (see that file).
import os
import lit.formats

config.name = "tsumiki"
config.test_format = lit.formats.ShTest(execute_external=True)
config.suffixes = [".test"]
config.test_source_root = os.path.dirname(__file__)
build_dir = os.environ.get("TSUMIKI_BUILD_DIR", os.path.join(config.test_source_root, "..", "..", "build"))
config.test_exec_root = os.path.join(build_dir, "e2e-output")

tools = os.environ.get("LLVM_TOOLS_DIR", "/usr/lib/llvm-14/bin")
config.environment["PATH"] = tools + os.pathsep + os.environ.get("PATH", "")
config.environment["LC_ALL"] = "C"
for var in ("ASAN_OPTIONS", "UBSAN_OPTIONS"):
    if var in os.environ:
        config.environment[var] = os.environ[var]

python = os.environ.get("PYTHON", "python3")
check = os.path.join(config.test_source_root, "check.py")
tsumiki = os.environ["TSUMIKI"]
config.substitutions.append(("%tsumiki", tsumiki))
config.substitutions.append(("%check", f"{python} {check} {tsumiki}"))
config.substitutions.append(("%python", python))
config.substitutions.append(("%version", os.environ.get("TSUMIKI_VERSION", "")))
config.substitutions.append(("%examples", os.path.join(os.environ.get("TSUMIKI_SOURCE_DIR", ""), "examples")))
inspect = os.environ.get("TSUMIKI_INSPECT")
if inspect:
    config.available_features.add("inspect")
    config.substitutions.append(("%inspect", inspect))
    config.substitutions.append(("%icheck", f"{python} {check} {inspect}"))
lsp = os.environ.get("TSUMIKI_LSP")
if lsp:
    config.available_features.add("lsp")
    client = os.path.join(config.test_source_root, "lsp", "Inputs", "client.py")
    config.substitutions.append(("%lsp-client", f"{python} {client} {lsp}"))
# The maker of the Debian package's changelog and copyright file.
debdocs = os.environ.get("TSUMIKI_DEBDOCS")
if debdocs:
    config.available_features.add("debdocs")
    config.substitutions.append(("%debdocs", debdocs))
# The fuzz sessions' memory watch, with a stand-in fuzzer.
source_dir = os.environ.get("TSUMIKI_SOURCE_DIR", os.path.join(config.test_source_root, "..", ".."))
config.substitutions.append(("%rss-watch", f"{python} {os.path.join(source_dir, 'fuzz', 'rss_watch.py')}"))
fake_fuzzer = os.path.join(config.test_source_root, "fuzzing", "Inputs", "fake_fuzzer.py")
config.substitutions.append(("%fake-fuzzer", f"{python} {fake_fuzzer}"))
dap = os.environ.get("TSUMIKI_DAP")
if dap:
    config.available_features.add("dap")
    client = os.path.join(config.test_source_root, "dap", "Inputs", "client.py")
    config.substitutions.append(("%dap-client", f"{python} {client} {dap}"))
    config.substitutions.append(("%tsumiki-dap", dap))
judge = os.environ.get("TSUMIKI_JUDGE")
if judge:
    config.available_features.add("judge")
    config.substitutions.append(("%judge", judge))
    config.substitutions.append(("%junit-xsd", os.path.join(config.test_source_root, "..", "judge", "junit.xsd")))
# Built with the native tier (its listing can be checked).
if os.environ.get("TSUMIKI_NATIVE") == "1":
    config.available_features.add("native")
# Built with AddressSanitizer and UndefinedBehaviorSanitizer: a few tests
# too slow there leave them to the other builds.
if os.environ.get("TSUMIKI_SANITIZED") == "1":
    config.available_features.add("sanitized")
# Built with the optimising tier (TSUMIKI_DEBUG_TIER says what its runs did).
if os.environ.get("TSUMIKI_OPTIMISING") == "1":
    config.available_features.add("optimising")
