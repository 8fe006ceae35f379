#!/usr/bin/python3
"""The README's demo and benchmark commands, run as a user would run them but in a quick mode (a small package, few
rounds), so that none of them can break unnoticed. Each run must end with 0 and print what the README promises.

    readme_commands_test.py COMMAND BUILD_TREE     COMMAND: one of the names in COMMANDS

The demo runs in an environment without any locale, as on a bare Debian machine or container: a Chinese argument
must still reach the payload unchanged. The road without the runtime shows the first window of Windows 7's chain.
"""
import os
import re
import subprocess
import sys

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TIMEOUT = 840  # below the CTest entry's own, so that a hang still prints what was seen

# name: (command line, environment, patterns the output must match)
COMMANDS = {
    "demo": (
        ["scripts/run-host.sh", "--check", "中文 參數", "--exit-code=0xFFFFFFFF"],
        {"PATH": "/usr/bin:/bin"},
        [r'commandline=.*" --check "中文 參數" --exit-code=0xFFFFFFFF\n', r"payload=demo-",
         r"\[run\] host exit code: 4294967295 \(0xFFFFFFFF\)"]),
    "demo_road": (
        ["scripts/run-host.sh"],
        {"PATH": "/usr/bin:/bin", "HOST_DEMO_RUNTIME": "missing", "HOST_DEMO_WINDOWS": "win7"},
        [r"\[window\] Windows 7 服务堆栈补丁 KB4490628\n", r"\[window\]   点击“下载”开始下载。\n",
         r"\[window\]   \[下载\]\n", r"\[run\] host exit code: 1 \(0x00000001\)"]),
    "bench_download": (
        ["scripts/bench-download.sh", "{tree}", "1"],
        {"BENCH_SIZE": "3000000"},
        [r"download benchmark: 3000000 bytes over http loopback, 1 rounds", r"round 1: bare [0-9.]+ MiB/s",
         r"transfer ratio, engine / bare loop \+ write: +[0-9.]+", r"whole-call ratio, .*: [0-9.]+"]),
    "bench_extract": (
        ["scripts/bench-extract.sh", "{tree}", "5"],
        {},
        [r"bytes=1048064\n", r"rounds=5\n", r"ratio_median=[0-9.]+\n"]),
    "bench_window": (
        ["scripts/bench-window.sh", "{tree}"],
        {"BENCH_SIZE": "3000000"},
        [r"window responsiveness: 3000000 bytes", r"outcome=downloaded\n", r"probes=[1-9][0-9]*\n",
         r"longest_wait_ms=[0-9.]+\n"]),
}


def main():
    name, tree = sys.argv[1], os.path.abspath(sys.argv[2])
    argv, extra, patterns = COMMANDS[name]
    if name.startswith("demo"):
        env = dict(extra)  # nothing else: no locale, no HOME, no proxy
    else:
        env = dict(os.environ, **extra)
    argv = [a.replace("{tree}", tree) for a in argv]
    print("running:", " ".join("%s=%s" % kv for kv in extra.items()), " ".join(argv), flush=True)
    done = subprocess.run(argv, cwd=SOURCE, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          stdin=subprocess.DEVNULL, timeout=TIMEOUT)
    out = done.stdout.decode("utf-8", "replace")
    print(out)
    failed = [p for p in patterns if not re.search(p, out)]
    if done.returncode != 0 or failed:
        print("FAILED: exit code %d; missing from the output: %s" % (done.returncode, failed))
        return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
